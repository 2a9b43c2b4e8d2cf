#pragma once
// How many of the team's threads the step uses, chosen again at every
// report from what the last report interval cost. The bytes of a run are the
// same on any count, so a switch at a report changes only the speed.
#include <cstdint>
#include <string>
#include <vector>

struct Thread_Choice {
    int most = 1;          // the threads started for the run
    int in_use = 1;        // those the steps use now
    bool adaptive = false; // the program chooses (no --threads, no OMP_NUM_THREADS)
    std::vector<int> plan; // counts forced from report to report (a test's)
    int report = 0;        // reports seen
    int probe_base = 0;    // during a trial of another count: the count it is weighed against
    int next_up = 0, next_down = 0;  // reports at which a trial up or down is due
    int gap_up = 0, gap_down = 0;    // reports between trials that did not pay
    std::vector<double> seconds;     // a step at k threads, as last measured (0: never)
    std::vector<std::int64_t> steps; // steps made at k threads
};

// Reports between trials of another count: the shortest gap, the longest,
// and the share of the run that trials which do not pay may cost at most (a
// count that took twice the time of the one kept is tried again after
// (2 - 1) / 0.04 = 25 reports at least; a trial that did not pay doubles the
// gap).
inline constexpr int First_Trial_Gap = 4;
inline constexpr int Longest_Trial_Gap = 128;
inline constexpr double Trial_Cost_Share = 0.04;
// The share of the threads' time spent at barriers above which fewer
// threads are tried: a thread of a balanced step waits some per cent.
inline constexpr double Waiting_Share = 0.15;
// The share of the wall time the step's first thread spent runnable but
// without a core, above which the cores are taken by other work: fewer
// threads are tried as where the threads wait, and more only after the
// longest gap (a thread more then takes its core from that work and waits
// for it at every barrier; on two cores held by two busy loops, two threads
// made fewer steps than one).
inline constexpr double Queued_Share = 0.1;
// What more threads must gain over the count before them, in one interval,
// to be kept: less is within the noise of a shared machine.
inline constexpr double Trial_Margin = 0.05;

// `most` threads started; the steps begin on all of them. `plan`, if not
// empty, forces the count from the start (its first value) and at each
// report after (the next values, the last one kept).
void Start_Choice(Thread_Choice& c, int most, bool adaptive, const std::vector<int>& plan);

// At a report: `seconds_a_step` is the wall time of a step over the interval
// that ends here, on c.in_use threads, which spent `waiting_share` of their
// time at barriers; the first of them was runnable without a core for
// `queued_share` of it. Sets c.in_use for the next interval: on a trial, the
// faster of the tried count and the one before it (more threads by
// Trial_Margin); else a trial of half as many where the threads wait much or
// other work holds the cores, or of twice as many when one is due.
void Choose_Threads(Thread_Choice& c, double seconds_a_step, double waiting_share,
                    double queued_share);

// A plan of counts, "2,1,2" (CAVITY_TEST_THREAD_PLAN, for the tests that force
// switches); empty if absent or not a list of whole numbers from 1 to 4096.
std::vector<int> Thread_Plan(const char* text);

// The note at the end of a run whose count the program chose, on more than
// one thread at some time: "note: threads: 2 for 80 % of the steps, 1 for
// the rest"; "" for a run that could use only one.
std::string Threads_Note(const Thread_Choice& c);
