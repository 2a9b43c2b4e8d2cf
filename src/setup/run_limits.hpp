#pragma once
// Constants of the time loop: the step limit of a run and the interval of
// its reports, read also by what keeps and watches a run.
inline constexpr int Max_Steps = 1000000;
inline constexpr int Report_Interval = 50;
