// The threads of the time step: each runs its share under the run's
// floating-point environment, and a barrier holds every thread until all
// have reached it.
#include "lattice/thread_team.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include <xmmintrin.h>

namespace {

TEST(ThreadTeam, WorkersKeepTheTrapsAndTheDenormals) {
    Thread_Team team;
    team.Start(3);
    const unsigned run_csr = _mm_getcsr() & ~0x3Fu; // without the sticky flags
    std::vector<unsigned> csr(3);
    std::vector<float> tiny(3);
    team.Run([&](int t) {
        csr[std::size_t(t)] = _mm_getcsr() & ~0x3Fu;
        volatile float a = 1e-30f;
        tiny[std::size_t(t)] = a * 1e-10f; // a denormal, unless flushed to zero
    });
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(csr[std::size_t(t)], run_csr) << t;
        EXPECT_GT(tiny[std::size_t(t)], 0.0f) << t;
    }
}

TEST(ThreadTeam, BarrierHoldsEveryThreadUntilAllArrive) {
    Thread_Team team;
    team.Start(3);
    std::atomic<int> arrived{0}, early{0};
    for (int job = 0; job < 20; ++job)
        team.Run([&](int) {
            for (int round = 1; round <= 50; ++round) {
                arrived.fetch_add(1);
                team.Barrier();
                if (arrived.load() < 3 * (50 * job + round))
                    early.fetch_add(1);
                team.Barrier();
            }
        });
    EXPECT_EQ(early.load(), 0);
    EXPECT_EQ(arrived.load(), 20 * 3 * 50);

    // The waits are counted: two threads wait for one that comes 20 ms late
    // (past the spinning, so they sleep), then the count starts again.
    team.Take_Barrier_Waits();
    team.Run([&](int t) {
        if (t == 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        team.Barrier();
    });
    EXPECT_GE(team.Take_Barrier_Waits(), 2 * 19'000'000);
    EXPECT_EQ(team.Take_Barrier_Waits(), 0);
}

} // namespace
