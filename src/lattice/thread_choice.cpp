#include "lattice/thread_choice.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

void Start_Choice(Thread_Choice& c, int most, bool adaptive, const std::vector<int>& plan) {
    c = Thread_Choice();
    c.most = std::max(1, most);
    c.adaptive = adaptive;
    c.plan = plan;
    c.in_use = plan.empty() ? c.most : std::clamp(plan.front(), 1, c.most);
    c.gap_up = c.gap_down = First_Trial_Gap;
    c.next_up = First_Trial_Gap;
    c.seconds.assign(std::size_t(c.most) + 1, 0.0);
    c.steps.assign(std::size_t(c.most) + 1, 0);
}

namespace {

// Reports that a trial costing `cost` (the share of a step it takes more
// than the count the run keeps) must wait to cost Trial_Cost_Share at most.
int Paying_Gap(double cost) {
    return int(std::ceil(std::clamp(cost, 0.0, 100.0) / Trial_Cost_Share));
}

// The end of a trial: the tried count stays if it was faster than the one
// before it, and the count left is tried again after a gap that grows with
// what it cost (more threads that other work holds the cores from are
// checked again soon: one interval is weak evidence there); else the run
// goes back, and the next trial that way waits longer, the longer the more
// this one cost.
void End_Trial(Thread_Choice& c, double seconds_a_step, bool held) {
    const int tried = c.in_use, base = c.probe_base;
    const bool down = tried < base;
    const double before = c.seconds[std::size_t(base)];
    c.probe_base = 0;
    if (seconds_a_step < (down ? before : before * (1.0 - Trial_Margin))) {
        (down ? c.gap_down : c.gap_up) = First_Trial_Gap;
        int& gap = down ? c.gap_up : c.gap_down;
        gap = held && !down ? First_Trial_Gap
                            : std::clamp(Paying_Gap(before / seconds_a_step - 1.0), First_Trial_Gap,
                                         Longest_Trial_Gap);
        (down ? c.next_up : c.next_down) = c.report + gap;
        return;
    }
    int& gap = down ? c.gap_down : c.gap_up;
    const double cost = before > 0.0 ? seconds_a_step / before - 1.0 : 1.0;
    gap = std::min(Longest_Trial_Gap, std::max(2 * gap, Paying_Gap(cost)));
    (down ? c.next_down : c.next_up) = c.report + gap;
    c.in_use = base;
}

} // namespace

void Choose_Threads(Thread_Choice& c, double seconds_a_step, double waiting_share,
                    double queued_share) {
    ++c.report;
    if (!c.plan.empty()) {
        const std::size_t k = std::min(std::size_t(c.report), c.plan.size() - 1);
        c.in_use = std::clamp(c.plan[k], 1, c.most);
        return;
    }
    if (!c.adaptive || c.most < 2)
        return;
    c.seconds[std::size_t(c.in_use)] = seconds_a_step;
    const bool held = queued_share > Queued_Share; // other work holds the cores
    if (c.probe_base != 0) {
        End_Trial(c, seconds_a_step, held);
        return;
    }
    if (c.in_use > 1 && (waiting_share > Waiting_Share || held) && c.report >= c.next_down) {
        c.probe_base = c.in_use;
        c.in_use = c.in_use / 2;
    } else if (c.in_use < c.most && c.report >= c.next_up + (held ? Longest_Trial_Gap : 0)) {
        c.probe_base = c.in_use;
        c.in_use = std::min(c.most, 2 * c.in_use);
    }
}

std::vector<int> Thread_Plan(const char* text) {
    std::vector<int> plan;
    if (!text)
        return plan;
    const char* p = text;
    for (;;) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(p, &end, 10);
        if (end == p || errno != 0 || v < 1 || v > 4096 || (*end != ',' && *end != '\0'))
            return {};
        plan.push_back(int(v));
        if (*end == '\0')
            return plan;
        p = end + 1;
    }
}

std::string Threads_Note(const Thread_Choice& c) {
    std::int64_t total = 0;
    std::vector<int> used;
    for (int k = int(c.steps.size()) - 1; k >= 1; --k)
        if (c.steps[std::size_t(k)] > 0) {
            total += c.steps[std::size_t(k)];
            used.push_back(k);
        }
    if ((!c.adaptive && c.plan.empty()) || c.most < 2 || total == 0)
        return "";
    std::stable_sort(used.begin(), used.end(), [&](int a, int b) {
        return c.steps[std::size_t(a)] > c.steps[std::size_t(b)];
    });
    std::string note = "note: threads: ";
    if (used.size() == 1)
        return note + std::to_string(used[0]) + " for all the steps";
    for (std::size_t i = 0; i + 1 < used.size(); ++i) {
        const double share = 100.0 * double(c.steps[std::size_t(used[i])]) / double(total);
        const int percent = std::clamp(int(std::lround(share)), 1, 99);
        note += std::to_string(used[i]) + " for " + std::to_string(percent) + " %" +
                (i == 0 ? " of the steps, " : ", ");
    }
    return note + std::to_string(used.back()) + " for the rest";
}
