// The status line: where the run is, how fast it goes, how Nu moves.
#include "driver/progress_line.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ProgressLine, StepTimeSpeedResidualsAndNu) {
    Run_Monitor monitor;
    monitor.Window = monitor.Window_Floor = 200; // four reports, two a half
    EXPECT_EQ(Progress_Text(120, 3725.2, 2.5e9, 2, 1.25e-6f, 3e-5f, monitor),
              "step 120  1:02:05  6.7e+05 nodes/s  2 threads  residuals T 1.2e-06 flow 3e-05  Nu: "
              "no report yet");
    for (float nu : {2.0f, 2.1f, 2.2f})
        Record_Report(monitor, nu);
    const std::string text = Progress_Text(150, 1.0, 1.0, 1, 0.0f, 0.0f, monitor);
    EXPECT_EQ(text.substr(text.find("  Nu ")), "  Nu 2.2, +9.1e-02 in 100 steps");
}

} // namespace
