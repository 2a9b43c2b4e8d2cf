// Whole runs of the program and of its straightforward twin: the same
// console output and the same five files, byte for byte.
#include "lattice/kernel_set.hpp"
#include "support/program_run.hpp"

#include <algorithm>
#include <gtest/gtest.h>

#ifndef CAVITY_REFERENCE_BIN
#error "CAVITY_REFERENCE_BIN must name the straightforward program"
#endif

namespace {

struct Case {
    const char* name;
    std::string parameters, console;
    std::string scheme = ""; // --scheme NAME for both programs, if given
};

// Keeps the listings to the case's name.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class FastAgainstReference : public testing::TestWithParam<Case> {};

// The straightforward program once, the fast one on one, two and three
// threads (more than this machine may have cores; each case's rows are
// shared out as far as they go, two at least a thread), and on two with
// each other set of kernels.
TEST_P(FastAgainstReference, SameBytesOnAnyNumberOfThreads) {
    const Case& c = GetParam();
    program::Program_Run reference(&c.parameters);
    const std::string scheme = c.scheme.empty() ? "" : "--scheme " + c.scheme + " ";
    const int status = reference.Start(c.console, "", CAVITY_REFERENCE_BIN, scheme);
    EXPECT_GT(reference.out.size(), 200u); // the dialogue at least
    auto expect_same = [&](const std::string& prefix, const std::string& args) {
        program::Program_Run fast(&c.parameters);
        EXPECT_EQ(fast.Start(c.console, prefix, CAVITY_BIN, args), status) << prefix << args;
        EXPECT_EQ(fast.out, reference.out) << prefix << args;
        EXPECT_EQ(fast.err, reference.err) << prefix << args;
        for (const char* f : program::Result_Files) {
            EXPECT_EQ(fast.Has(f), reference.Has(f)) << f;
            bool same = fast.File(f) == reference.File(f);
            EXPECT_TRUE(same) << f << ", " << prefix << args;
        }
    };
    for (const char* threads : {"1", "2", "3"})
        expect_same("", scheme + "--threads " + threads);
    // Every other set of kernels the build holds and this processor runs
    // (the runs above took the widest).
    for (Kernel_Set set : Kernel_Sets_Built())
        if (Processor_Runs(set) && set != Kernel_Set_In_Use())
            expect_same(std::string("CAVITY_KERNELS=") + Kernel_Set_Name(set),
                        scheme + "--threads 2");
}

// Without --threads the program takes the machine's threads as far as they
// pay (two on a 100 x 100 grid on two cores): the same bytes again, here of
// a run that blows up.
TEST(FastAgainstReference, SameBytesWithTheThreadsOfTheMachine) {
    const std::string parameters = program::Parameter_File("0.71", "1e8", "1", "0", "0", "0.52");
    program::Program_Run fast(&parameters), one(&parameters);
    EXPECT_EQ(fast.Start("100\n100\n\n"), 1);
    EXPECT_EQ(one.Start("100\n100\n\n", "", CAVITY_BIN, "--threads 1"), 1);
    EXPECT_EQ(fast.out, one.out);
    // After the set-up's warnings, the fault at the same step on any threads.
    const std::string fault = "\nfloating-point error: overflow at step ";
    EXPECT_NE(fast.err.find(fault), std::string::npos) << fast.err;
    EXPECT_EQ(fast.err, one.err);
    for (const char* f : program::Result_Files)
        EXPECT_EQ(fast.File(f), one.File(f)) << f;
}

// The count of threads may change at every report (the program chooses it
// as the run goes on); forced here to change at each of them, from one to
// three and back, through a run to its stop and one that blows up (the
// faulted step redone across a change): the bytes of one thread.
TEST(FastAgainstReference, SameBytesWhenTheThreadsChangeAtReports) {
    const std::string runs[][2] = {
        {program::Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "32\n32\n\n"},
        {program::Parameter_File("0.71", "1e7", "1", "0", "0", "0.51"), "24\n24\n\n"}};
    for (const auto& [parameters, console] : runs) {
        program::Program_Run one(&parameters), changing(&parameters);
        const int status = one.Start(console, "", CAVITY_BIN, "--threads 1");
        EXPECT_EQ(changing.Start(console, "CAVITY_TEST_THREAD_PLAN=3,1,2,3,2,1,3,1,1,2,2,3,1"),
                  status);
        EXPECT_GT(std::count(one.out.begin(), one.out.end(), '*'), 12 * 78) << console;
        EXPECT_EQ(changing.out, one.out) << console;
        for (const char* f : program::Result_Files)
            EXPECT_EQ(changing.File(f), one.File(f)) << f << ", " << console;
        // Standard error as on one thread, but for the note on the threads.
        const std::size_t note = changing.err.find("note: threads: ");
        if (status == 0) {
            ASSERT_NE(note, std::string::npos) << changing.err;
            std::string err = changing.err;
            err.erase(note, err.find('\n', note) + 1 - note);
            EXPECT_EQ(err, one.err);
        } else {
            EXPECT_EQ(changing.err, one.err);
        }
    }
}

using program::Parameter_File;

INSTANTIATE_TEST_SUITE_P(
    Runs, FastAgainstReference,
    testing::Values(
        Case{"SquareToItsStop", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "32\n32\n\n"},
        Case{"TallCavity", Parameter_File("0.71", "1e4", "1", "0", "0", "0.8"), "9\n33\n\n"},
        Case{"WideCavity", Parameter_File("7.0", "1e3", "1", "0", "0.2", "0.9"), "41\n10\n\n"},
        // 14 rows: three threads take 4, 5 and 5.
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
             "33\n9\n\n"},
        // Enough nodes for threads to pay; blows up after 22 reports.
        Case{"BlowsUpOnALargeGrid", Parameter_File("0.71", "1e8", "1", "0", "0", "0.52"),
             "100\n100\n\n"},
        // The other schemes: to a settled end, on odd sizes, and to a fault.
        Case{"BounceBackToItsEnd", Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8"),
             "32\n32\n\n", "bounce-back"},
        Case{"TwoTimesOddSizes", Parameter_File("0.71", "5e3", "2", "-1", "0.3", "0.75"),
             "17\n13\n\n", "bounce-back-trt"},
        Case{"BounceBackTwoRows", Parameter_File("7.0", "1e3", "1", "0", "0.2", "0.9"), "41\n2\n\n",
             "bounce-back"},
        Case{"TwoTimesBlowsUp", Parameter_File("0.71", "1e7", "1", "0", "0", "0.505"), "12\n8\n\n",
             "bounce-back-trt"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
