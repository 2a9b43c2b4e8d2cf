// The choice of threads from report to report, on simulated machines: the
// seconds a step takes on each count and the share of waiting at barriers.
#include "lattice/thread_choice.hpp"

#include <cstdint>
#include <gtest/gtest.h>

namespace {

struct Machine {
    double one, two, waits_on_two; // seconds a step on 1 and 2 threads
};

// Runs `reports` report intervals of 50 steps on the machine; returns the
// reports made on two threads.
int Run_Reports(Thread_Choice& c, const Machine& machine, int reports) {
    int on_two = 0;
    for (int r = 0; r < reports; ++r) {
        const bool two = c.in_use == 2;
        on_two += two;
        c.steps[std::size_t(c.in_use)] += 50;
        Choose_Threads(c, two ? machine.two : machine.one, two ? machine.waits_on_two : 0.0, 0.0);
    }
    return on_two;
}

TEST(ThreadChoice, FewerOnABusyMachineAllOnAnIdleOneAndBackWhenItCalms) {
    const Machine busy{1.0, 3.0, 0.6}, idle{1.0, 0.55, 0.05};
    Thread_Choice c;
    Start_Choice(c, 2, true, {});
    EXPECT_EQ(c.in_use, 2);
    // Busy: one thread from the first report on, and two tried again only
    // once they may cost no more than a few per cent of the run.
    EXPECT_EQ(Run_Reports(c, busy, 40), 1);
    EXPECT_EQ(c.in_use, 1);
    const int on_two = Run_Reports(c, busy, 2000);
    EXPECT_GE(on_two, 3); // it kept trying
    EXPECT_LE(on_two * (busy.two / busy.one - 1.0), 0.05 * 2000);
    // Idle again: two threads within the longest gap between trials, and
    // never one again while the threads hardly wait.
    Run_Reports(c, idle, Longest_Trial_Gap + 2);
    EXPECT_EQ(c.in_use, 2);
    EXPECT_EQ(Run_Reports(c, idle, 1000), 1000);

    // A count fixed by the user stays; a plan forces each report's count.
    Start_Choice(c, 2, false, {});
    EXPECT_EQ(Run_Reports(c, busy, 100), 100);
    EXPECT_EQ(Threads_Note(c), "");
    Start_Choice(c, 3, false, {3, 1, 2});
    std::vector<int> counts;
    for (int r = 0; r < 4; ++r) {
        counts.push_back(c.in_use);
        Choose_Threads(c, 1.0, 0.9, 0.0);
    }
    EXPECT_EQ(counts, (std::vector<int>{3, 1, 2, 2}));
}

// Two busy loops that the operating system places on two cores: the step's
// first thread waits for a core a third of the time on one thread, and two
// threads, a quarter slower, hardly wait at the barriers (each loses its
// core as much while it works). Each interval is 30 % off its mean either
// way, so that now and then two look faster: one thread from the first
// report, and two only now and then.
TEST(ThreadChoice, OneThreadWhereOtherWorkHoldsTheCores) {
    Thread_Choice c;
    Start_Choice(c, 2, true, {});
    std::uint32_t noise = 1;
    int on_two = 0;
    double seconds = 0.0;
    const int reports = 2000;
    for (int r = 0; r < reports; ++r) {
        noise = noise * 1664525u + 1013904223u;
        const double k = 0.7 + 0.6 * double(noise >> 8) / double(1 << 24);
        const bool two = c.in_use == 2;
        on_two += two;
        seconds += two ? 1.25 * k : k;
        Choose_Threads(c, two ? 1.25 * k : k, two ? 0.1 : 0.0, two ? 0.45 : 0.33);
    }
    EXPECT_LE(on_two, reports / 40);
    EXPECT_GE(reports / seconds, 0.98);
}

TEST(ThreadChoice, NoteOnTheThreadsUsed) {
    Thread_Choice c;
    Start_Choice(c, 2, true, {});
    c.steps = {0, 0, 1000};
    EXPECT_EQ(Threads_Note(c), "note: threads: 2 for all the steps");
    c.steps = {0, 200, 800};
    EXPECT_EQ(Threads_Note(c), "note: threads: 2 for 80 % of the steps, 1 for the rest");
    Start_Choice(c, 4, true, {});
    c.steps = {0, 1, 0, 2, 9997}; // a share below one per cent is not shown as 0
    EXPECT_EQ(Threads_Note(c), "note: threads: 4 for 99 % of the steps, 3 for 1 %, 1 for the rest");
    Start_Choice(c, 1, true, {}); // a grid that pays for one thread only
    c.steps = {0, 500};
    EXPECT_EQ(Threads_Note(c), "");

    EXPECT_EQ(Thread_Plan("3,1,2"), (std::vector<int>{3, 1, 2}));
    for (const char* bad : {"", "3,", "3,,1", "0", "2 1", "x", "5000"})
        EXPECT_TRUE(Thread_Plan(bad).empty()) << bad;
}

} // namespace
