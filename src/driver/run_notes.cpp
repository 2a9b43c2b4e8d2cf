#include "driver/run_notes.hpp"

#include "results/residuals.hpp"
#include "setup/run_limits.hpp"
#include "textio/console.hpp"
#include "textio/record.hpp"

#include <cstdio>

using textio::Console_Destination;
using textio::Record;

std::string Figure(double x, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, x);
    return text;
}

std::string Cavity_Rayleigh_Words(float Ra, int n, int m) {
    if (n < 2 || m < 2)
        return "";
    const double ratio = double(m - 1) / double(m);
    return "; Ra = " + Figure(double(Ra) * ratio * ratio * ratio, "%.6g") +
           " for the cavity between the walls, m - 1 = " + std::to_string(m - 1) +
           " spacings high, where the file's Ra = " + Figure(Ra, "%.7g") +
           " is for the height m = " + std::to_string(m);
}

void Report(int Step, float Nu_Hot, float Residual_T, float Residual_Flow) {
    Record(Console_Destination())
        .text("Step==")
        .integer(Step / Report_Interval)
        .text("           Nu On Hot Wall==")
        .real(Nu_Hot)
        .end();
    Record(Console_Destination())
        .text("Residual of Th==")
        .real(Residual_T)
        .text("           Residual of Flow==")
        .real(Residual_Flow)
        .end();
    Record(Console_Destination())
        .text("******************************************************************************")
        .end();
}

void Tell_Steady(int Step, float Nu_Hot, const Run_Monitor& monitor) {
    const int window = 2 * Half_Window_Reports(monitor) * Report_Interval;
    textio::Console_Note(
        "note: steady at step " + std::to_string(Step) + ": Nu = " + Figure(Nu_Hot, "%.7g") +
        " has changed by " + Figure(Settle_Change(monitor), "%.2g") + ", relative, over the last " +
        std::to_string(window) + " steps while rounding holds the smaller residual between " +
        Figure(monitor.Band_Low) + " and " + Figure(monitor.Band_High) +
        ", just above the stop at " + Figure(Stop_Threshold) +
        ": the fields are as steady as single precision shows, and the files hold the last "
        "report; the run goes on to the step limit unless a residual falls below the stop; "
        "--settle TOL ends such a run once Nu is steady to TOL");
}

namespace {

std::string Last_Residuals(float Residual_T, float Residual_Flow) {
    return "the last residuals: temperature " + Figure(Residual_T) + ", flow " +
           Figure(Residual_Flow);
}

void Tell_Settled(int Step, float Nu_Hot, const Run_Options& options, const Run_Monitor& monitor,
                  double heat_balance) {
    const Settle_Judgement j = Judge_Settling(monitor, options.Settle_Tolerance);
    std::string text = "note: settled at step " + std::to_string(Step) +
                       ": Nu = " + Figure(Nu_Hot, "%.7g") + ", within an estimated " +
                       Figure(j.Uncertainty, "%.2g") + " (relative) of where it settles: over the last " +
                       std::to_string(j.Window_Steps) + " steps it ";
    if (!j.Wander)
        text += "swung by " + Figure(j.Swing, "%.2g") + " beyond its noise of " +
                Figure(j.Noise, "%.2g") + " a report, and its drift extrapolated adds " +
                Figure(j.Drift_To_Come, "%.2g");
    else
        text += "wandered by " + Figure(j.Swing / 2.0, "%.2g") +
                " either way about a steady middle (means of " +
                std::to_string(Floor_Block * Report_Interval) + " steps), " +
                Figure(j.Drift_To_Come, "%.2g") + " from one half to the other, with a noise of " +
                Figure(j.Noise, "%.2g") + " a report: the float floor of this case" +
                (j.Uncertainty > options.Settle_Tolerance
                     ? ", which holds Nu less closely than --settle asks"
                     : "");
    text += " (--settle " + Figure(options.Settle_Tolerance) + ")";
    if (heat_balance >= 0.0)
        text += "; single precision moves where it settles by up to about " +
                Figure(heat_balance, "%.2g") +
                " (the walls' heat balance: the rounded weights of the temperature add heat)";
    textio::Console_Note(text);
}

} // namespace

std::string Settle_Tolerance_Warning(double tolerance) {
    if (tolerance <= 0.0 || tolerance >= Float_Floor_Least)
        return "";
    return "warning: --settle " + Figure(tolerance) +
           " asks Nu to hold closer than single precision holds it in any case measured (its "
           "rounding makes it wander by 2e-6 to 3e-5, relative, about where it settles): the run "
           "ends where that wander is found, its note saying how far, or at the step limit; "
           "--settle 1e-05 or more is met";
}

void Tell_The_Ending(Ending ending, int Step, float Nu_Hot, float Residual_T, float Residual_Flow,
                     const Run_Options& options, const Run_Monitor& monitor, double heat_balance) {
    const std::string stop = Figure(Stop_Threshold);
    if (ending == Ending::Step_Limit) {
        textio::Console_Note("note: step limit: all " + std::to_string(Max_Steps) +
                             " steps were made without meeting the stop rule (a residual below " +
                             stop + "); " + Last_Residuals(Residual_T, Residual_Flow) +
                             "; --settle TOL ends a run whose Nusselt number is steady");
    } else if (ending == Ending::Stopped) {
        textio::Console_Note("note: ended by its caller at step " + std::to_string(Step) +
                             ", before a stop rule was met; " +
                             Last_Residuals(Residual_T, Residual_Flow));
    } else if (options.Settle_Tolerance <= 0.0) {
        return;
    } else if (ending == Ending::Settled) {
        Tell_Settled(Step, Nu_Hot, options, monitor, heat_balance);
    } else {
        const bool by_t = Residual_T < Stop_Threshold;
        textio::Console_Note("note: converged at step " + std::to_string(Step) + ": the " +
                             (by_t ? "temperature residual " + Figure(Residual_T)
                                   : "flow residual " + Figure(Residual_Flow)) +
                             " is below the stop at " + stop);
    }
}

void Tell_The_Acceleration(const Accelerator& a, int Step, bool settled_after_shift) {
    // A settled run whose heat content was shifted is told that its estimate
    // is no bound: the shift can leave a slow part of the heat content that
    // Nu does not show over the window (measured 1.4 times the estimate on
    // 48 x 48 at Ra 1e5).
    std::string text = "note: --accelerate: " + std::to_string(a.Made) + " extrapolation" +
                       (a.Made == 1 ? "" : "s") + " (" + std::to_string(a.Undone_Total) +
                       " undone)";
    if (a.Shifts > 0)
        text += " and " + std::to_string(a.Shifts) + " shift" + (a.Shifts == 1 ? "" : "s") +
                " of the heat content";
    text += " in " + std::to_string(Step) + " exact steps";
    if (a.Last_Extrapolation > 0)
        text += "; it ended on the " + std::to_string(Step - a.Last_Extrapolation) +
                " exact steps after the state was last replaced, at step " +
                std::to_string(a.Last_Extrapolation);
    textio::Console_Note(text);
    if (settled_after_shift)
        textio::Console_Note(
            "note: --accelerate: after a shift of the heat content the settled estimate above is "
            "not a bound (one case has ended 1.4 times outside it); where Nu must be within the "
            "--settle tolerance for certain, run without --accelerate");
}
