#pragma once
// What a run remembers of its reports beyond the fields: every reported
// Nusselt number and the notes already given. The settle rule, the note on
// a steady run held above the stop and the progress line read it; a
// checkpoint keeps it, so that a run that goes on from one decides as the
// uninterrupted run would.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// With --accelerate: where its extrapolations stand (convergence/accelerate.hpp).
struct Acceleration_Record {
    bool Active = false;          // the run accelerates: the record is kept
    bool Converged = false;       // the extrapolations have ended
    bool At_Rest = false;         // ... with the block residual at rest, not stalled
    bool Dropped = false;         // the history was dropped for a stall since the best
    int Undone = 0;               // extrapolations undone (the back-off doubles)
    int Back_Off = 0;             // plain blocks still to go before the next
    int Stalled = 0;              // blocks since the best block residual
    double Largest = 0, Best = 0; // block residuals
    bool Balanced = false;        // the heat content has been extrapolated
    int Shifts = 0;               // shifts of the temperature made for it
};

struct Run_Monitor {
    // Steps of the window of the steady note and of the progress line; with
    // --settle-window, of the settle rule too (Window_Fixed). Otherwise the
    // settle window follows the case, never below Window_Floor steps.
    int Window = 20000;
    bool Window_Fixed = false;
    int Window_Floor = 2000;
    std::vector<float> Nu_History; // every reported Nu of the run, oldest first
    bool Steady_Note_Given = false;
    // The reports in a row whose deciding residual lay in the band just above
    // the stop, and the lowest and highest of those residuals.
    int Reports_In_Band = 0;
    float Band_Low = 0.0f, Band_High = 0.0f;
    Acceleration_Record Acceleration;
    // The state is the run's end by the residual stop, its residuals made (a
    // checkpoint of it may fall between reports).
    bool Ended_By_Residual = false;
};

// The band just above the stop in which rounding can hold a residual of a
// steady run, and the change of the reported Nu that counts as steady.
inline constexpr float Band_Top = 1e-6f;
inline constexpr double Steady_Change = 1e-5;

// Reports in each half of the window (at least one).
int Half_Window_Reports(const Run_Monitor& monitor);

// The shortest window the settle rule follows on an m-high grid with this
// Tau_T: a twentieth of the thermal diffusion time m^2 / alpha, alpha =
// (Tau_T - 0.5) / 3, and at least 2000 steps.
int Case_Window_Floor(int m, float Tau_T);

// Records the Nu of a report.
void Record_Report(Run_Monitor& monitor, float Nu_Hot);

// Records the residuals printed by a report. The deciding residual is the
// smaller one, the temperature residual alone where the flow is at rest.
void Record_Residuals(Run_Monitor& monitor, float Residual_T, float Residual_Flow,
                      bool Flow_At_Rest);

// Whether to say now that the run is steady while rounding holds it above
// the stop: once a run, when the deciding residual has stayed in
// [Stop_Threshold, Band_Top) at every report of a whole window, the
// reported Nu has changed by at most Steady_Change over it (Settle_Change)
// and the settle rule holds at Steady_Change. Marks the note as given.
bool Steady_Note_Due(Run_Monitor& monitor);

// The relative change of the mean reported Nu from the first half of the
// window to the last half, |last - first| / |last| (or / 1 where the last
// mean is 0); negative until a whole window has been reported.
double Settle_Change(const Run_Monitor& monitor);

// How far the reported Nu may still be from where it settles, judged over
// windows of the last reports; every figure relative to the last Nu.
//  - Noise: the report-to-report scatter, from the second differences of
//    the reports (a smooth swing hardly shows in them; rounding noise does).
//  - Swing: the range of the reports smoothed over a span that the noise
//    asks for, less what noise alone would give such a range, over the
//    range window.
//  - Drift to come: the drift between the drift window's thirds,
//    extrapolated geometrically to its limit; unbounded if the drift does
//    not slow down.
// Without a fixed window, the drift window is the longer of the floor and
// a quarter of the run so far; the range window is that times
// sqrt(Range_Reference / TOL) where TOL is looser, at least Range_Floor_Steps;
// both at least the longest period of the swings beyond the tolerance the
// whole history shows.
// Where that does not settle, a run Floor_Age window floors old whose Nu
// wanders about a steady middle over the last half of the run, by no more
// than rounding makes it, is settled at that wander (Wander): its drift is
// then that between the two quarters, its swing the range of the means of
// Floor_Block reports, however they compare with the tolerance.
struct Settle_Judgement {
    bool Settled = false;
    bool Wander = false; // judged as a stationary wander over Window_Steps
    int Window_Steps = 0;
    double Swing = 0.0, Drift_To_Come = 0.0, Noise = 0.0;
    double Uncertainty = 0.0; // half the smoothed range, the drift to come and the noise
};
inline constexpr double Range_Reference = 1e-5;
inline constexpr int Range_Floor_Steps = 2000;
inline constexpr double Floor_Age = 8.0;
inline constexpr std::size_t Floor_Block = 10;
Settle_Judgement Judge_Settling(const Run_Monitor& monitor, double tolerance);

// The monitor as bytes (little-endian, for a checkpoint), and back; a
// damaged text throws std::runtime_error. The window settings are the
// run's options and stay as they are. A monitor of a run's end by the
// residual stop is written in the second layout (a leading -2 and its
// flags); every other in the first, which older checkpoints hold.
std::string Monitor_Bytes(const Run_Monitor& monitor);
void Restore_Monitor(Run_Monitor& monitor, std::string_view bytes);
