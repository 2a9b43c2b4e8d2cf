#include "textio/console.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

// The status line of a run, cut to a narrow terminal: between its fields,
// never inside a number.
TEST(StatusCut, CutsBetweenFieldsNeverInsideANumber) {
    const std::string line = "step 120450  0:00:41  1.2e+07 nodes/s  residuals T 1.5e-07 flow "
                             "1.4e-05  Nu 4.50996, -3.1e-06 in 19950 steps";
    auto shown = [&](std::size_t width) { return line.substr(0, textio::Status_Cut(line, width)); };
    EXPECT_EQ(shown(line.size()), line);
    EXPECT_EQ(shown(line.size() - 1), line.substr(0, line.find(", -3.1e")));
    EXPECT_EQ(shown(80), "step 120450  0:00:41  1.2e+07 nodes/s  residuals T 1.5e-07 flow 1.4e-05");
    EXPECT_EQ(shown(48), "step 120450  0:00:41  1.2e+07 nodes/s");
    EXPECT_EQ(shown(26), "step 120450  0:00:41");
    EXPECT_EQ(shown(12), "step 120450");
    EXPECT_EQ(shown(9), "step"); // one field wider than the terminal: at a blank
    EXPECT_EQ(shown(3), "ste");
}

} // namespace
