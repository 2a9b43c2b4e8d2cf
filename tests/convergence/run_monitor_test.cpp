// What a run remembers of its reports: the note on a steady run held above
// the stop, and the byte form a checkpoint keeps.
#include "convergence/run_monitor.hpp"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// A monitor over a window of four reports (two a half).
Run_Monitor Small_Window() {
    Run_Monitor monitor;
    monitor.Window = monitor.Window_Floor = 200;
    return monitor;
}

TEST(SteadyNote, AfterAWholeWindowInTheBandAndOnlyOnce) {
    Run_Monitor monitor = Small_Window();
    auto report = [&](float nu, float residual_t) {
        Record_Report(monitor, nu);
        Record_Residuals(monitor, residual_t, 1e-3f, false);
        return Steady_Note_Due(monitor);
    };
    EXPECT_FALSE(report(2.0f, 1.5e-7f));
    EXPECT_FALSE(report(2.0f, 2.5e-7f));
    EXPECT_FALSE(report(2.0f, 1.1e-6f)); // above the band: the count starts again
    EXPECT_FALSE(report(2.0f, 1.2e-7f));
    EXPECT_FALSE(report(2.0f, 1.3e-7f));
    EXPECT_FALSE(report(2.0f, 1.4e-7f));
    EXPECT_TRUE(report(2.0f, 1.0e-7f));
    EXPECT_EQ(monitor.Band_Low, 1.0e-7f);
    EXPECT_EQ(monitor.Band_High, 1.4e-7f);
    EXPECT_FALSE(report(2.0f, 1.0e-7f)); // once a run
}

TEST(SteadyNote, NotWhileNuStillMoves) {
    Run_Monitor monitor = Small_Window();
    for (float nu : {2.0f, 2.0f, 2.001f, 2.001f}) {
        Record_Report(monitor, nu);
        Record_Residuals(monitor, 1e-3f, 2e-7f, false); // the flow residual decides
        EXPECT_FALSE(Steady_Note_Due(monitor));
    }
    EXPECT_EQ(monitor.Reports_In_Band, 4);
    // A fluid at rest: its flow residual of 0 counts for nothing.
    Record_Residuals(monitor, 1e-3f, 0.0f, true);
    EXPECT_EQ(monitor.Reports_In_Band, 0);
}

TEST(RunMonitor, BytesGiveBackTheWholeState) {
    Run_Monitor monitor = Small_Window();
    for (float nu : {2.5f, 2.25f, 2.125f}) {
        Record_Report(monitor, nu);
        Record_Residuals(monitor, 3e-7f, 1e-3f, false);
    }
    monitor.Steady_Note_Given = true;
    Run_Monitor back;
    Restore_Monitor(back, Monitor_Bytes(monitor));
    EXPECT_EQ(back.Window, 200);
    EXPECT_EQ(back.Nu_History, monitor.Nu_History);
    EXPECT_TRUE(back.Steady_Note_Given);
    EXPECT_EQ(back.Reports_In_Band, 3);
    EXPECT_EQ(back.Band_Low, 3e-7f);
    EXPECT_EQ(back.Band_High, 3e-7f);
    EXPECT_FALSE(back.Acceleration.Active);
    const std::string bytes = Monitor_Bytes(monitor);
    EXPECT_THROW(Restore_Monitor(back, bytes.substr(0, bytes.size() - 1)), std::runtime_error);

    // With --accelerate, the record of its extrapolations after the history.
    monitor.Acceleration = {true, true, true, false, 3, 4, 5, 2.5, 0.125, true, 7};
    Restore_Monitor(back, Monitor_Bytes(monitor));
    EXPECT_EQ(back.Nu_History, monitor.Nu_History);
    const Acceleration_Record& a = back.Acceleration;
    EXPECT_TRUE(a.Active && a.Converged && a.At_Rest && !a.Dropped);
    EXPECT_EQ(a.Undone * 100 + a.Back_Off * 10 + a.Stalled, 345);
    EXPECT_EQ(a.Largest, 2.5);
    EXPECT_EQ(a.Best, 0.125);
    EXPECT_TRUE(a.Balanced);
    EXPECT_EQ(a.Shifts, 7);
    EXPECT_FALSE(back.Ended_By_Residual);

    // The end of a run by the residual stop: the second layout, with the
    // first one's bytes after its marker and flags.
    monitor.Ended_By_Residual = true;
    const std::string ended = Monitor_Bytes(monitor);
    EXPECT_EQ(ended.substr(8), Monitor_Bytes(back));
    Restore_Monitor(back, ended);
    EXPECT_TRUE(back.Ended_By_Residual);
    EXPECT_EQ(back.Window, 200);
    EXPECT_EQ(back.Acceleration.Shifts, 7);
    std::string unknown = ended;
    unknown[4] = 2; // a flag this program does not know
    EXPECT_THROW(Restore_Monitor(back, unknown), std::runtime_error);
}

// The first report step at which --settle `tolerance` ends a run whose
// reports give nu(step), or 0 if none up to `last`; the judgement there.
template <class Nu>
int Settled_At(Nu nu, double tolerance, int last, int floor = 2000, Settle_Judgement* at = nullptr) {
    Run_Monitor monitor;
    monitor.Window_Floor = floor;
    for (int step = 50; step <= last; step += 50) {
        Record_Report(monitor, nu(step));
        if (const Settle_Judgement j = Judge_Settling(monitor, tolerance); j.Settled) {
            // The uncertainty the note states, less one report's scatter, is
            // within the tolerance asked for (a wander states its own).
            if (!j.Wander) {
                EXPECT_LE(j.Uncertainty - j.Noise, tolerance) << step;
            }
            if (at)
                *at = j;
            return step;
        }
    }
    return 0;
}

// How far a damped history still is from its limit at `step`.
double Envelope(int step, double amplitude, double decay) {
    return amplitude * std::exp(-step / decay);
}

TEST(SettleRule, DampedOscillationSettlesOnlyOnceItsSwingIsWithinTheTolerance) {
    // Periods near the old fixed window of 20000 steps and well beyond it:
    // the means of two half windows agree long before the swing is gone. A
    // looser tolerance ends sooner, but never inside a swing beyond it.
    for (double period : {21000.0, 90000.0}) {
        auto nu = [&](int step) {
            return float(4.5 * (1.0 + Envelope(step, 0.02, 40000.0) *
                                          std::cos(6.283185307179586 * step / period)));
        };
        int before = 0;
        for (double tolerance : {1e-3, 1e-4, 1e-5}) {
            Settle_Judgement j;
            const int step = Settled_At(nu, tolerance, 1000000, 20000, &j);
            EXPECT_GT(step, before) << period << " " << tolerance;
            EXPECT_LT(Envelope(step, 0.02, 40000.0), tolerance) << period << " at " << step;
            EXPECT_LE(Envelope(step, 0.02, 40000.0), j.Uncertainty) << period << " at " << step;
            before = step;
        }
        EXPECT_LT(before, 500000) << period;
    }
}

TEST(SettleRule, ALooseToleranceWatchesNoLongerThanItNeeds) {
    // A smooth approach within 1e-3 from step 46050 on: the range over a
    // window of a quarter of the run held the rule 1.3 decay times beyond.
    auto nu = [](int step) { return float(4.5 * (1.0 + Envelope(step, 0.01, 20000.0))); };
    const int step = Settled_At(nu, 1e-3, 1000000, 2000);
    EXPECT_LT(Envelope(step, 0.01, 20000.0), 1e-3) << step;
    EXPECT_LT(step, 46050 + 10000);
}

TEST(SettleRule, NoiseOfTheToleranceItselfDoesNotHoldARunForever) {
    // A steady Nu with rounding noise of 1e-5 relative a report (uniform,
    // from a fixed sequence), after a quick approach.
    std::uint32_t state = 12345;
    auto nu = [&](int step) {
        state = state * 1664525u + 1013904223u;
        const double noise = (double(state >> 8) / double(1 << 24) - 0.5) * 3.4641016e-5;
        return float(4.5 * (1.0 + Envelope(step, 0.01, 2000.0) + noise));
    };
    const int step = Settled_At(nu, 1e-5, 1000000);
    EXPECT_GT(step, 14000); // the approach is within the tolerance from 13800 on
    EXPECT_LT(step, 100000);
}

TEST(SettleRule, SlowDriftSettlesOnlyNearItsLimit) {
    // Over 20000 steps, this drift changes Nu by 1e-5 while 5.5e-5 is still
    // to come.
    auto nu = [](int step) { return float(4.5 * (1.0 + Envelope(step, 0.01, 100000.0))); };
    const int step = Settled_At(nu, 1e-5, 1000000, 2000);
    ASSERT_GT(step, 0);
    EXPECT_LT(Envelope(step, 0.01, 100000.0), 1e-5) << step;
    // A drift that does not slow down never settles.
    EXPECT_EQ(Settled_At([](int step) { return float(4.5 + 2e-9 * step); }, 1e-5, 200000), 0);
}

// A wander of Nu as single precision makes it: correlated over some 20000
// steps, 5e-6 (relative) in spread, with 3e-6 of scatter a report on top.
struct Float_Wander {
    std::uint32_t state = 777;
    double slow = 0.0;
    double Uniform() { // spread 1
        state = state * 1664525u + 1013904223u;
        return (double(state >> 8) / double(1 << 24) - 0.5) * 3.4641016;
    }
    double operator()() {
        const double keep = std::exp(-50.0 / 20000.0);
        slow = keep * slow + std::sqrt(1.0 - keep * keep) * 5e-6 * Uniform();
        return slow + 3e-6 * Uniform();
    }
};

TEST(SettleRule, AWanderAtTheFloatFloorEndsAtThatFloorStated) {
    // Below the wander, the run ends once the last half of it shows no drift,
    // with the wander as its estimate, and within it of the middle.
    Float_Wander wander;
    auto nu = [&](int step) { return float(4.5 * (1.0 + Envelope(step, 0.01, 2000.0) + wander())); };
    Settle_Judgement j;
    const int step = Settled_At(nu, 1e-7, 1000000, 2000, &j);
    EXPECT_TRUE(j.Wander);
    EXPECT_GE(step, Floor_Age * 2000);
    EXPECT_LT(step, 200000);
    EXPECT_GT(j.Uncertainty, 3e-6);
    EXPECT_LT(j.Uncertainty, 5e-5);
    EXPECT_LE(std::fabs(wander.slow), j.Uncertainty);
    // A drift beyond the wander over the last half is no floor: the rule
    // waits for it to end, and it does not (over a case's floor of 20000
    // steps it moves Nu by 6e-6, about the wander).
    Float_Wander drifting;
    EXPECT_EQ(Settled_At([&](int step) { return float(4.5 * (1.0 + 3e-10 * step + drifting())); },
                         1e-7, 600000, 20000),
              0);
}

} // namespace
