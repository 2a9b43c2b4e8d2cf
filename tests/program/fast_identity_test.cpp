// Whole runs of the program and of its straightforward twin: the same
// console output and the same five files, byte for byte.
#include "support/program_run.hpp"

#include <gtest/gtest.h>

#ifndef CAVITY_REFERENCE_BIN
#error "CAVITY_REFERENCE_BIN must name the straightforward program"
#endif

namespace {

struct Case {
    const char* name;
    std::string parameters, console;
};

// Keeps the listings to the case's name.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class FastAgainstReference : public testing::TestWithParam<Case> {};

TEST_P(FastAgainstReference, SameBytes) {
    const Case& c = GetParam();
    program::Program_Run fast(&c.parameters), reference(&c.parameters);
    int status = fast.Start(c.console);
    EXPECT_EQ(reference.Start(c.console, "", CAVITY_REFERENCE_BIN), status);
    EXPECT_EQ(fast.out, reference.out);
    EXPECT_EQ(fast.err, reference.err);
    EXPECT_GT(fast.out.size(), 200u); // the dialogue at least
    for (const char* f : program::Result_Files) {
        EXPECT_EQ(fast.Has(f), reference.Has(f)) << f;
        bool same = fast.File(f) == reference.File(f);
        EXPECT_TRUE(same) << f;
    }
}

using program::Parameter_File;

INSTANTIATE_TEST_SUITE_P(
    Runs, FastAgainstReference,
    testing::Values(
        Case{"SquareToItsStop", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "32\n32\n\n"},
        Case{"TallCavity", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "9\n33\n\n"},
        Case{"WideCavity", Parameter_File("7.0", "1e3", "1", "0", "0.2", "0.9"), "41\n10\n\n"},
        Case{"OddSizes", Parameter_File("0.71", "5e3", "2", "-1", "0.3", "0.75"), "17\n13\n\n"},
        Case{"ReversedWalls", Parameter_File("0.71", "1e4", "0", "1", "0.2", "0.8"), "20\n20\n\n"},
        Case{"SingleCell", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "1\n1\n\n"},
        Case{"OneColumn", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "1\n9\n\n"},
        Case{"OneRow", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "9\n1\n\n"},
        Case{"TwoByTwo", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "2\n2\n\n"},
        Case{"BlowsUpAfterSomeReports", Parameter_File("0.71", "1e7", "1", "0", "0", "0.505"),
             "12\n8\n\n"},
        // The flow residual of the fluid at rest after the first step is no stop.
        Case{"StartsAtTheMeanWallTemperature",
             Parameter_File("0.71", "100", "1", "0", "0.5", "0.8"), "16\n16\n\n"},
        // Faults that the two node orders meet in another sequence: the
        // message must still be the one of the straightforward order.
        Case{"FirstFaultOfAHugeRayleigh", Parameter_File("0.71", "1e30", "1", "0", "0", "0.8"),
             "12\n8\n\n"},
        Case{"BlowsUpOnALargerGrid", Parameter_File("0.71", "3e5", "1", "0", "0", "0.8"),
             "40\n40\n\n"},
        Case{"BlowsUpOnAWideGrid", Parameter_File("0.71", "1e7", "1", "0", "0.1", "0.6"),
             "33\n9\n\n"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
