#include "driver/progress_line.hpp"

#include "setup/run_limits.hpp"
#include "textio/console.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr auto Redraw_Interval = std::chrono::milliseconds(250);

std::string Clock_Time(double seconds) {
    const long s = long(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// How the reported Nu moved from the oldest report of the window to the last.
std::string Nu_Movement(const Run_Monitor& monitor) {
    const auto& nu = monitor.Nu_History;
    if (nu.empty())
        return "Nu: no report yet";
    char text[96];
    if (nu.size() < 2) {
        std::snprintf(text, sizeof text, "Nu %.7g", double(nu.back()));
        return text;
    }
    const std::size_t window = std::min(nu.size(), 2 * std::size_t(Half_Window_Reports(monitor)));
    const double last = nu.back(), first = nu[nu.size() - window];
    const double change = (last - first) / (last != 0.0 ? std::fabs(last) : 1.0);
    std::snprintf(text, sizeof text, "Nu %.7g, %+.1e in %d steps", last, change,
                  int(window - 1) * Report_Interval);
    return text;
}

} // namespace

void Start_Progress(Progress_Line& progress, int n, int m) {
    progress.on = textio::Console_Status_Wanted();
    progress.nodes = std::uint64_t(n + 1) * std::uint64_t(m + 1);
    progress.start = progress.shown = std::chrono::steady_clock::now();
}

void Show_Progress(Progress_Line& progress, int Step, float Residual_T, float Residual_Flow,
                   const Run_Monitor& monitor, int threads) {
    if (!progress.on)
        return;
    if (progress.first_step < 0)
        progress.first_step = Step - 1;
    const auto now = std::chrono::steady_clock::now();
    if (now - progress.shown < Redraw_Interval)
        return;
    progress.shown = now;
    const double seconds = std::chrono::duration<double>(now - progress.start).count();
    const double updates = double(progress.nodes) * (Step - progress.first_step);
    textio::Console_Status(
        Progress_Text(Step, seconds, updates, threads, Residual_T, Residual_Flow, monitor));
}

std::string Progress_Text(int Step, double seconds, double node_updates, int threads,
                          float Residual_T, float Residual_Flow, const Run_Monitor& monitor) {
    char text[192];
    const double rate = seconds > 0.0 ? node_updates / seconds : 0.0;
    std::snprintf(text, sizeof text,
                  "step %d  %s  %.2g nodes/s  %d thread%s  residuals T %.2g flow %.2g  ", Step,
                  Clock_Time(seconds).c_str(), rate, threads, threads == 1 ? "" : "s",
                  double(Residual_T), double(Residual_Flow));
    return text + Nu_Movement(monitor);
}
