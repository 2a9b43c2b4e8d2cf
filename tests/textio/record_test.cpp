#include "textio/record.hpp"

#include <gtest/gtest.h>
#include <string>

using textio::File_Destination;
using textio::Record;

namespace {

std::string Blanks(int k) {
    return std::string(std::size_t(k), ' ');
}

TEST(Record, ZoneRecordHasNoSeparatorAfterText) {
    std::string out;
    Record(File_Destination(out))
        .text("ZONE ")
        .text("I=")
        .integer(101)
        .text("J=")
        .integer(101)
        .end();
    EXPECT_EQ(out, " ZONE I=" + Blanks(8) + "101J=" + Blanks(8) + "101\r\n");
    EXPECT_EQ(out.size(), 32u + 2u);
}

TEST(Record, ReportLineLaysOutTextIntegerTextReal) {
    std::string out;
    Record(File_Destination(out))
        .text("Step==")
        .integer(1)
        .text("           Nu On Hot Wall==")
        .real(4.5f)
        .end();
    EXPECT_EQ(out,
              " Step==" + Blanks(10) + "1           Nu On Hot Wall==" + Blanks(7) + "4.500000\r\n");
}

TEST(Record, ConsecutiveRealsTakeSixteenColumns) {
    std::string out;
    Record(File_Destination(out)).real(0.5f).real(-0.25f).end();
    EXPECT_EQ(out, Blanks(4) + "5.000000E-01" + Blanks(3) + "-2.500000E-01\r\n");
}

TEST(Record, SingleZeroRealIsRightAligned) {
    std::string out;
    Record(File_Destination(out)).real(0.0f).end();
    EXPECT_EQ(out, Blanks(4) + "0.000000E+00\r\n");
}

TEST(Record, IntegersTakeElevenColumnsAndTwelveAfterANumber) {
    std::string out;
    Record(File_Destination(out)).integer(0).integer(-5).end();
    EXPECT_EQ(out, Blanks(11) + "0" + Blanks(10) + "-5\r\n");
}

TEST(Record, EmptyRecordIsOneBlank) {
    std::string a, b;
    Record(File_Destination(a)).end();
    Record(File_Destination(b)).text("").end();
    EXPECT_EQ(a, " \r\n");
    EXPECT_EQ(b, " \r\n");
}

TEST(Record, TextFillingTheBudgetMakesAnEightyColumnLine) {
    std::string t78(78, 'a'), t79(79, 'b');
    std::string a, b;
    Record(File_Destination(a)).text(t78).end();
    Record(File_Destination(b)).text(t79).end();
    EXPECT_EQ(a, " " + t78 + "\r\n");
    EXPECT_EQ(b, " " + t79 + "\r\n \r\n");
}

TEST(Record, LongTextContinuesAfterOneBlankOnTheNextLine) {
    std::string t(200, 'x');
    std::string out;
    Record(File_Destination(out)).text(t).end();
    std::string expected = " ";
    expected += t.substr(0, 79) + "\r\n " + t.substr(79, 79) + "\r\n " + t.substr(158) + "\r\n";
    EXPECT_EQ(out, expected);
}

TEST(Record, TextAfterANumberBreaksAtTheBudget) {
    // Four reals leave a budget of 16: a 20-character text writes 16 of its
    // characters and continues on the next line.
    std::string out;
    Record(File_Destination(out))
        .real(1.0f)
        .real(1.0f)
        .real(1.0f)
        .real(1.0f)
        .text(std::string(20, 't'))
        .end();
    std::string four = Blanks(8) + "1.000000" + Blanks(8) + "1.000000" + Blanks(8) + "1.000000" +
                       Blanks(8) + "1.000000";
    EXPECT_EQ(out, four + std::string(16, 't') + "\r\n " + std::string(4, 't') + "\r\n");
}

TEST(Record, SevenIntegersBreakAfterSix) {
    std::string out;
    Record r(File_Destination(out));
    for (int k = 1; k <= 7; ++k)
        r.integer(k);
    r.end();
    std::string line1 = Blanks(11) + "1";
    for (int k = 2; k <= 6; ++k)
        line1 += Blanks(11) + std::to_string(k);
    EXPECT_EQ(line1.size(), 72u);
    EXPECT_EQ(out, line1 + "\r\n" + Blanks(11) + "7\r\n");
}

TEST(Record, SevenRealsTakeLinesOfSixtyFourAndFortyEight) {
    std::string out;
    Record r(File_Destination(out));
    for (int k = 0; k < 7; ++k)
        r.real(0.0f);
    r.end();
    std::string slot = Blanks(4) + "0.000000E+00";
    EXPECT_EQ(out, slot + slot + slot + slot + "\r\n" + slot + slot + slot + "\r\n");
}

TEST(Record, ANumberAfterAWrappedTextKeepsTheLeadingBlank) {
    std::string out;
    Record(File_Destination(out)).text(std::string(79, 'a')).real(1.0f).end();
    // New line: pending blank plus the field blanks of the real.
    EXPECT_EQ(out, " " + std::string(79, 'a') + "\r\n" + Blanks(1 + 7) + "1.000000\r\n");
}

TEST(Record, TextAfterTextFollowsDirectly) {
    std::string out;
    Record(File_Destination(out)).text("ab").text("").text("cd").end();
    EXPECT_EQ(out, " abcd\r\n");
}

} // namespace
