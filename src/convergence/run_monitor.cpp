#include "convergence/run_monitor.hpp"

#include "results/residuals.hpp"
#include "setup/run_limits.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace {

template <class T> void Put(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

template <class T> T Take(std::string_view& in) {
    if (in.size() < sizeof(T))
        throw std::runtime_error("the report history is cut short");
    T value;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return value;
}

} // namespace

int Half_Window_Reports(const Run_Monitor& monitor) {
    return std::max(1, monitor.Window / (2 * Report_Interval));
}

int Case_Window_Floor(int m, float Tau_T) {
    const double alpha = (double(Tau_T) - 0.5) / 3.0;
    const double steps = alpha > 0.0 ? 0.05 * double(m) * double(m) / alpha : 0.0;
    return int(std::clamp(steps, 2000.0, double(Max_Steps)));
}

void Record_Report(Run_Monitor& monitor, float Nu_Hot) {
    monitor.Nu_History.push_back(Nu_Hot);
}

void Record_Residuals(Run_Monitor& monitor, float Residual_T, float Residual_Flow,
                      bool Flow_At_Rest) {
    const float deciding = Flow_At_Rest ? Residual_T : std::min(Residual_T, Residual_Flow);
    if (!(deciding >= Stop_Threshold && deciding < Band_Top)) {
        monitor.Reports_In_Band = 0;
        return;
    }
    if (monitor.Reports_In_Band == 0)
        monitor.Band_Low = monitor.Band_High = deciding;
    monitor.Band_Low = std::min(monitor.Band_Low, deciding);
    monitor.Band_High = std::max(monitor.Band_High, deciding);
    monitor.Reports_In_Band = std::min(monitor.Reports_In_Band + 1, 1 << 30);
}

namespace {
Settle_Judgement Judge_Drift_And_Swing(const Run_Monitor& monitor, double tolerance);
} // namespace

bool Steady_Note_Due(Run_Monitor& monitor) {
    if (monitor.Steady_Note_Given || monitor.Reports_In_Band < 2 * Half_Window_Reports(monitor))
        return false;
    // The drift and the swings alone: a wander at the float floor is no
    // sign that rounding holds the residual above the stop.
    const double change = Settle_Change(monitor);
    if (change < 0.0 || change > Steady_Change ||
        !Judge_Drift_And_Swing(monitor, Steady_Change).Settled)
        return false;
    monitor.Steady_Note_Given = true;
    return true;
}

double Settle_Change(const Run_Monitor& monitor) {
    const std::size_t half = std::size_t(Half_Window_Reports(monitor));
    const std::size_t count = monitor.Nu_History.size();
    if (count < 2 * half)
        return -1.0;
    const float* nu = monitor.Nu_History.data() + (count - 2 * half);
    double first = 0.0, last = 0.0;
    for (std::size_t k = 0; k < half; ++k) {
        first += nu[k];
        last += nu[half + k];
    }
    first /= double(half);
    last /= double(half);
    return std::fabs(last - first) / (last != 0.0 ? std::fabs(last) : 1.0);
}

namespace {

// The last `count` reports, each read as its difference from the last one
// over the size of the last one: the figures of the rule are relative.
struct Reports {
    const float* nu;
    std::size_t count;
    double last, scale;
    double operator[](std::size_t k) const { return (double(nu[k]) - last) / scale; }
};

Reports Last_Reports(const Run_Monitor& monitor, int count) {
    const std::vector<float>& nu = monitor.Nu_History;
    const double last = nu.back();
    return {nu.data() + (nu.size() - std::size_t(count)), std::size_t(count), last,
            last != 0.0 ? std::fabs(last) : 1.0};
}

// The report-to-report scatter: the mean size of the second differences,
// which for independent noise of spread s is s sqrt(6) sqrt(2 / pi).
double Noise_Of(const Reports& x) {
    if (x.count < 3)
        return 0.0;
    double sum = 0.0;
    for (std::size_t k = 2; k < x.count; ++k)
        sum += std::fabs((x[k] - x[k - 1]) - (x[k - 1] - x[k - 2]));
    return sum / double(x.count - 2) * std::sqrt(std::numbers::pi / 12.0);
}

// Calls each(k, y) with the mean y of the `span` reports ending at report
// k, for every k from the span-th on.
template <class Each> void Smoothed(const Reports& x, int span, Each each) {
    const std::size_t width = std::size_t(span);
    double sum = 0.0;
    for (std::size_t k = 0; k < x.count; ++k) {
        sum += x[k];
        if (k >= width)
            sum -= x[k - width];
        if (k + 1 >= width)
            each(k, sum / double(span));
    }
}

// The span that brings the noise well below the tolerance, at most a tenth
// of the window: a swing lasting several spans passes through it.
int Smoothing_Span(double noise, double tolerance, int reports) {
    const double wanted = 6.0 * noise / tolerance;
    const double span = std::ceil(std::min(wanted * wanted, double(reports) / 10.0));
    return std::max(1, int(span));
}

// The range that noise alone gives the smoothed values of `reports`
// reports: a little over twice the largest deviation expected among
// reports / span independent ones.
double Noise_Range(double noise, int span, int reports) {
    const double independent = std::max(2.0, double(reports) / span);
    return 2.0 * std::sqrt(2.0 * std::log(independent)) * noise / std::sqrt(double(span));
}

// The drift still to come, from the means of the window's three thirds:
// where the drift slows geometrically, the sum of the drifts after the last
// third; none within the noise or where the drift turns (a swing, which the
// range judges); unbounded where it does not slow down.
// `turned` tells where the thirds moved but not as a decay (a turn, or a
// stop after a move): a swing, whose range the whole window must show.
double Drift_To_Come(const Reports& x, double noise, bool& turned) {
    turned = false;
    const std::size_t third = x.count / 3;
    if (third < 2)
        return 0.0;
    auto mean = [&](std::size_t from) {
        double sum = 0.0;
        for (std::size_t k = from; k < from + third; ++k)
            sum += x[k];
        return sum / double(third);
    };
    const std::size_t first = x.count - 3 * third;
    const double a = mean(first), b = mean(first + third), c = mean(first + 2 * third);
    const double d1 = b - a, d2 = c - b;
    // The spread of a difference of two means; the reports' own rounding
    // (half a unit in the last place of a float) counts as noise too.
    const double spread = std::max(noise, 0.3 * std::numeric_limits<float>::epsilon()) *
                          std::sqrt(2.0 / double(third));
    if (std::fabs(d2) <= 3.0 * spread) {
        turned = std::fabs(d1) > 3.0 * spread;
        return 0.0;
    }
    if (std::fabs(d1) <= 3.0 * spread || (d1 > 0.0) == (d2 > 0.0)) {
        // The slowest decay the two drifts allow within their spread.
        const double ratio = (std::fabs(d2) + spread) / (std::fabs(d1) - spread);
        if (std::fabs(d1) <= spread || ratio >= 1.0)
            return std::numeric_limits<double>::infinity();
        return std::fabs(d2) * ratio / (1.0 - ratio);
    }
    turned = true;
    return 0.0;
}

// Whether the window's sixths move as one geometric decay, or not at all
// beyond the noise: their five steps of one sign, the middle one the
// geometric mean of the outer ones within a quarter (a swing near its turn
// slows faster, a curve that has not yet turned does the opposite).
bool Decays_Geometrically(const Reports& x, double noise) {
    const std::size_t sixth = x.count / 6;
    if (sixth < 2)
        return false;
    double mean[6] = {};
    const std::size_t first = x.count - 6 * sixth;
    for (std::size_t k = 0; k < 6 * sixth; ++k)
        mean[k / sixth] += x[first + k] / double(sixth);
    const double spread = std::max(noise, 0.3 * std::numeric_limits<float>::epsilon()) *
                          std::sqrt(2.0 / double(sixth));
    double step[5];
    bool moved = false;
    for (int k = 0; k < 5; ++k) {
        step[k] = mean[k + 1] - mean[k];
        moved = moved || std::fabs(step[k]) > 3.0 * spread;
    }
    if (!moved)
        return true;
    for (int k = 0; k < 5; ++k)
        if (std::fabs(step[k]) <= 3.0 * spread || (step[k] > 0.0) != (step[0] > 0.0))
            return false;
    const double bend = step[2] * step[2] / (step[0] * step[4]);
    return bend >= 0.8 && bend <= 1.25;
}

// The longest period, in reports, of the swings of the smoothed history
// beyond `height`: twice the longest time between two turns that each
// reverse the history by more than it.
int Longest_Swing_Period(const Reports& x, int span, double height) {
    int trend = 0, longest = 0;
    long last_turn = -1;
    double high = 0.0, low = 0.0;
    std::size_t high_at = 0, low_at = 0;
    bool first = true;
    auto turn = [&](std::size_t at) {
        if (last_turn >= 0)
            longest = std::max(longest, int(long(at) - last_turn));
        last_turn = long(at);
    };
    Smoothed(x, span, [&](std::size_t k, double y) {
        if (first || y > high)
            high = y, high_at = k;
        if (first || y < low)
            low = y, low_at = k;
        first = false;
        if (trend >= 0 && y < high - height) {
            if (trend > 0)
                turn(high_at);
            trend = -1, low = y, low_at = k;
        } else if (trend <= 0 && y > low + height) {
            if (trend < 0)
                turn(low_at);
            trend = 1, high = y, high_at = k;
        }
    });
    return 2 * longest;
}

// The judgement with the drift over the last `reports` reports and the
// range and swing over the last `range_reports` of them, or over all of
// them where the drift turns.
Settle_Judgement Judge_Window(const Run_Monitor& monitor, double tolerance, int reports,
                              int range_reports, int& span) {
    const Reports x = Last_Reports(monitor, reports);
    Settle_Judgement j;
    j.Window_Steps = reports * Report_Interval;
    j.Noise = Noise_Of(x);
    bool turned = false;
    j.Drift_To_Come = Drift_To_Come(x, j.Noise, turned);
    if (turned || (range_reports < reports && !Decays_Geometrically(x, j.Noise)))
        range_reports = reports;
    const Reports near = Last_Reports(monitor, range_reports);
    span = Smoothing_Span(j.Noise, tolerance, range_reports);
    double low = std::numeric_limits<double>::infinity(), high = -low;
    Smoothed(near, span, [&](std::size_t, double y) {
        low = std::min(low, y);
        high = std::max(high, y);
    });
    const double range = high - low;
    j.Swing = std::max(0.0, range - Noise_Range(j.Noise, span, range_reports));
    j.Uncertainty = range / 2.0 + j.Drift_To_Come + j.Noise;
    // Swing and drift within the tolerance together, not merely each apart;
    // the scatter of single reports comes on top (noise at the tolerance
    // itself must not hold a run forever).
    j.Settled = j.Swing <= tolerance && range / 2.0 + j.Drift_To_Come <= tolerance;
    return j;
}

// The range window: the drift window shortened by the square root of
// Range_Reference / TOL where TOL is looser, never below Range_Floor_Steps
// (nor the case's floor) and never above the drift window. The drift
// window stays long: it is what measures a slow approach (shortened too, it
// let five of 21 cases end outside their estimate at loose tolerances); the
// square root keeps the range window over swings just below the tolerance
// (in proportion to it, Ra 1e6 ended outside at 3e-5), and the caller adds
// the longest period of the swings beyond it.
double Range_Share(const Run_Monitor& monitor, double tolerance) {
    return monitor.Window_Fixed ? 1.0 : std::min(1.0, std::sqrt(Range_Reference / tolerance));
}

int Range_Reports(const Run_Monitor& monitor, double tolerance, int reports) {
    const int floor = std::min(monitor.Window_Floor, Range_Floor_Steps) / Report_Interval;
    const double share = Range_Share(monitor, tolerance);
    return share >= 1.0 ? reports
                        : std::min(reports, std::max(floor, int(std::ceil(share * reports))));
}

// The judgement by the drift and the swings: the drift window and the
// range window, then the longest swing period the history shows.
Settle_Judgement Judge_Drift_And_Swing(const Run_Monitor& monitor, double tolerance) {
    const int count = int(monitor.Nu_History.size());
    int reports = 2 * Half_Window_Reports(monitor);
    if (!monitor.Window_Fixed)
        reports = std::max(monitor.Window_Floor / Report_Interval, (count + 3) / 4);
    if (count < std::max(reports, 2))
        return {};
    const int near = Range_Reports(monitor, tolerance, reports);
    int span = 1;
    Settle_Judgement j = Judge_Window(monitor, tolerance, reports, near, span);
    if (monitor.Window_Fixed || !j.Settled)
        return j;
    // Never shorter than the swings the history has shown: beyond the
    // tolerance, or where the range window is shortened beyond that share of
    // it (a swing below a loose tolerance is still what the range measures).
    const double height =
        std::max(tolerance * Range_Share(monitor, tolerance), Noise_Range(j.Noise, span, near));
    const int period = Longest_Swing_Period(Last_Reports(monitor, count), span, height);
    if (period <= near)
        return j;
    if (period > count)
        return {};
    return Judge_Window(monitor, tolerance, std::max(reports, period), period, span);
}

// A stationary wander over the last half of the run, once it is Floor_Age
// window floors long: the means of blocks of Floor_Block reports drift from
// the older half to the newer by no more than their spread, and range no
// further than rounding makes Nu range (8 reports' noise, 1e-4 in all).
// The reported Nu then lies within half that range, the drift between the
// halves and a report's noise of the middle it wanders about.
Settle_Judgement Judge_Wander(const Run_Monitor& monitor) {
    const std::size_t count = monitor.Nu_History.size();
    if (double(count) * Report_Interval < Floor_Age * double(monitor.Window_Floor))
        return {};
    const Reports x = Last_Reports(monitor, int(count / 2));
    const std::size_t blocks = x.count / Floor_Block;
    if (blocks < 8)
        return {};
    std::vector<double> mean(blocks, 0.0);
    const std::size_t first = x.count - blocks * Floor_Block;
    for (std::size_t k = 0; k < blocks * Floor_Block; ++k)
        mean[k / Floor_Block] += x[first + k] / double(Floor_Block);
    double sum = 0.0, low = mean[0], high = mean[0];
    for (double y : mean) {
        sum += y;
        low = std::min(low, y);
        high = std::max(high, y);
    }
    double spread = 0.0, older = 0.0, newer = 0.0;
    for (std::size_t k = 0; k < blocks; ++k) {
        spread += (mean[k] - sum / double(blocks)) * (mean[k] - sum / double(blocks));
        (2 * k < blocks ? older : newer) += mean[k];
    }
    spread = std::sqrt(spread / double(blocks - 1));
    const double halves = std::fabs(newer / double(blocks / 2) - older / double(blocks - blocks / 2));
    Settle_Judgement j;
    j.Window_Steps = int(x.count) * Report_Interval;
    j.Noise = Noise_Of(x);
    j.Swing = high - low;
    j.Drift_To_Come = halves;
    j.Uncertainty = j.Swing / 2.0 + halves + j.Noise;
    j.Wander = true;
    j.Settled = halves <= spread && j.Swing / 2.0 <= 8.0 * j.Noise && j.Uncertainty <= 1e-4;
    return j;
}

} // namespace

Settle_Judgement Judge_Settling(const Run_Monitor& monitor, double tolerance) {
    const Settle_Judgement j = Judge_Drift_And_Swing(monitor, tolerance);
    if (j.Settled)
        return j;
    const Settle_Judgement w = Judge_Wander(monitor);
    return w.Settled ? w : j;
}

// The record of --accelerate after the history, where the run accelerates.
constexpr std::size_t Acceleration_Bytes = 4 * 4 + 2 * 8;

// The second layout begins with this in place of the window (at least 100
// in the first) and the flags after it.
constexpr std::int32_t Second_Layout = -2;
constexpr std::int32_t Flag_Ended_By_Residual = 1;

std::string Monitor_Bytes(const Run_Monitor& monitor) {
    static_assert(std::endian::native == std::endian::little);
    std::string out;
    if (monitor.Ended_By_Residual) {
        Put(out, Second_Layout);
        Put(out, Flag_Ended_By_Residual);
    }
    Put(out, std::int32_t(monitor.Window));
    Put(out, std::int32_t(monitor.Steady_Note_Given));
    Put(out, std::int32_t(monitor.Reports_In_Band));
    Put(out, monitor.Band_Low);
    Put(out, monitor.Band_High);
    Put(out, std::int32_t(monitor.Nu_History.size()));
    for (float nu : monitor.Nu_History)
        Put(out, nu);
    const Acceleration_Record& a = monitor.Acceleration;
    if (a.Active) {
        Put(out, std::int32_t(int(a.Converged) | int(a.Dropped) << 1 | int(a.At_Rest) << 2 |
                              int(a.Balanced) << 3 | a.Shifts << 4));
        Put(out, std::int32_t(a.Undone));
        Put(out, std::int32_t(a.Back_Off));
        Put(out, std::int32_t(a.Stalled));
        Put(out, a.Largest);
        Put(out, a.Best);
    }
    return out;
}

void Restore_Monitor(Run_Monitor& monitor, std::string_view bytes) {
    Run_Monitor m;
    m.Window_Fixed = monitor.Window_Fixed;
    m.Window_Floor = monitor.Window_Floor;
    m.Window = Take<std::int32_t>(bytes);
    if (m.Window == Second_Layout) {
        const std::int32_t flags = Take<std::int32_t>(bytes);
        if ((flags & ~Flag_Ended_By_Residual) != 0)
            throw std::runtime_error("the report history has flags this program does not know");
        m.Ended_By_Residual = (flags & Flag_Ended_By_Residual) != 0;
        m.Window = Take<std::int32_t>(bytes);
    } else if (m.Window < 0) {
        throw std::runtime_error("the report history has a layout this program does not know");
    }
    m.Steady_Note_Given = Take<std::int32_t>(bytes) != 0;
    m.Reports_In_Band = Take<std::int32_t>(bytes);
    m.Band_Low = Take<float>(bytes);
    m.Band_High = Take<float>(bytes);
    if (m.Reports_In_Band < 0)
        throw std::runtime_error("the report history has a wrong band count");
    const std::int32_t count = Take<std::int32_t>(bytes);
    const std::size_t history = std::size_t(count) * sizeof(float);
    if (count < 0 || (history != bytes.size() && history + Acceleration_Bytes != bytes.size()))
        throw std::runtime_error("the report history has a wrong length");
    for (std::int32_t k = 0; k < count; ++k)
        m.Nu_History.push_back(Take<float>(bytes));
    if (!bytes.empty()) {
        Acceleration_Record& a = m.Acceleration;
        a.Active = true;
        const std::int32_t flags = Take<std::int32_t>(bytes);
        a.Converged = (flags & 1) != 0;
        a.Dropped = (flags & 2) != 0;
        a.At_Rest = (flags & 4) != 0;
        a.Balanced = (flags & 8) != 0;
        a.Shifts = (flags >> 4) & 0xff;
        a.Undone = Take<std::int32_t>(bytes);
        a.Back_Off = Take<std::int32_t>(bytes);
        a.Stalled = Take<std::int32_t>(bytes);
        a.Largest = Take<double>(bytes);
        a.Best = Take<double>(bytes);
    }
    monitor = m;
}
