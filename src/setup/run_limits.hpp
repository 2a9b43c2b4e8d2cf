#pragma once
// Constants of the time loop: the step limit of a run and the interval of
// its reports, read also by what keeps and watches a run.
inline constexpr int Max_Steps = 1000000;
inline constexpr int Report_Interval = 50;

// Whether the report of `Step` is the first at or after a multiple of
// `every` steps (any report where `every` is 0).
inline bool Due_At_Report(int every, int Step) {
    return every == 0 || Step / every > (Step - Report_Interval) / every;
}
