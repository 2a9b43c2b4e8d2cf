#pragma once
// What a run remembers of its reports beyond the fields: the reported
// Nusselt numbers of the last window and the notes already given. The settle
// rule, the note on a steady run held above the stop and the progress line
// read it; a checkpoint keeps it, so that a run that goes on from one decides
// as the uninterrupted run would.
#include <string>
#include <string_view>
#include <vector>

struct Run_Monitor {
    int Window = 20000;            // steps of the window (--settle-window)
    std::vector<float> Nu_History; // reported Nu, oldest first, the last whole window
    bool Steady_Note_Given = false;
};

// Reports in each half of the window (at least one).
int Half_Window_Reports(const Run_Monitor& monitor);

// Records the Nu of a report, keeping the last two half windows.
void Record_Report(Run_Monitor& monitor, float Nu_Hot);

// The relative change of the mean reported Nu from the first half of the
// window to the last half, |last - first| / |last| (or / 1 where the last
// mean is 0); negative until a whole window has been reported. Means rather
// than the range: the reported Nu carries rounding noise of a few 1e-5 at
// low Ra, which a band around the last values would mistake for a trend.
double Settle_Change(const Run_Monitor& monitor);

// The monitor as bytes (little-endian, for a checkpoint), and back; a
// damaged text throws std::runtime_error.
std::string Monitor_Bytes(const Run_Monitor& monitor);
void Restore_Monitor(Run_Monitor& monitor, std::string_view bytes);
