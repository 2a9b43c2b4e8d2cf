#include "textio/console.hpp"
#include "textio/record.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

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

// A console kept in memory has the bytes standard output would have had, the
// line break in front of each line, and a line state of its own: a line it
// left open is ended when it is written to again, whatever the real console
// did meanwhile.
TEST(ConsoleKeep, BytesOfStandardOutputAndTheNotes) {
    using textio::Console_Destination, textio::Record;
    textio::Console_Keep keep;
    textio::Console_Keep* const before = textio::Console_Keep_In(&keep);
    Record(Console_Destination()).text("Step==").integer(1).end();
    textio::Console_Note("note: one");
    EXPECT_EQ(textio::Console_Keep_In(before), &keep);
    EXPECT_EQ(keep.Output, "Step==          1");
    textio::Console_Keep_In(&keep);
    Record(Console_Destination()).text("two").end();
    textio::Console_Close();
    textio::Console_Keep_In(before);
    EXPECT_EQ(keep.Output, "Step==          1\r\ntwo\r\n");
    EXPECT_EQ(keep.Notes, std::vector<std::string>{"note: one"});
}

} // namespace
