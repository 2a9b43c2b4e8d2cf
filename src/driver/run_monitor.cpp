#include "driver/run_monitor.hpp"

#include "setup/run_limits.hpp"
#include "results/residuals.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
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

void Record_Report(Run_Monitor& monitor, float Nu_Hot) {
    const std::size_t keep = 2 * std::size_t(Half_Window_Reports(monitor));
    monitor.Nu_History.push_back(Nu_Hot);
    if (monitor.Nu_History.size() > keep)
        monitor.Nu_History.erase(monitor.Nu_History.begin(),
                                 monitor.Nu_History.end() - std::ptrdiff_t(keep));
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

bool Steady_Note_Due(Run_Monitor& monitor) {
    if (monitor.Steady_Note_Given || monitor.Reports_In_Band < 2 * Half_Window_Reports(monitor))
        return false;
    const double change = Settle_Change(monitor);
    if (change < 0.0 || change > Steady_Change)
        return false;
    monitor.Steady_Note_Given = true;
    return true;
}

double Settle_Change(const Run_Monitor& monitor) {
    const std::size_t half = std::size_t(Half_Window_Reports(monitor));
    if (monitor.Nu_History.size() < 2 * half)
        return -1.0;
    double first = 0.0, last = 0.0;
    for (std::size_t k = 0; k < half; ++k) {
        first += monitor.Nu_History[k];
        last += monitor.Nu_History[half + k];
    }
    first /= double(half);
    last /= double(half);
    return std::fabs(last - first) / (last != 0.0 ? std::fabs(last) : 1.0);
}

// The record of --accelerate after the history, where the run accelerates.
constexpr std::size_t Acceleration_Bytes = 4 * 4 + 2 * 8;

std::string Monitor_Bytes(const Run_Monitor& monitor) {
    static_assert(std::endian::native == std::endian::little);
    std::string out;
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
        Put(out, std::int32_t(int(a.Converged) | int(a.Dropped) << 1 | int(a.At_Rest) << 2));
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
    m.Window = Take<std::int32_t>(bytes);
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
        a.Undone = Take<std::int32_t>(bytes);
        a.Back_Off = Take<std::int32_t>(bytes);
        a.Stalled = Take<std::int32_t>(bytes);
        a.Largest = Take<double>(bytes);
        a.Best = Take<double>(bytes);
    }
    monitor = m;
}
