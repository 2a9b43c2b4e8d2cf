#pragma once
// The threads of the time step: workers started once and kept for the run,
// each handed one share of every step. A step is short (tens of
// microseconds on small grids), so the workers wait for work and at
// barriers by spinning some microseconds before they sleep; they sleep soon
// so that on a machine busy with other work a waiting thread gives its core
// to the one it waits for.
#include <atomic>
#include <cstdint>
#include <thread>
#include <type_traits>
#include <vector>

class Thread_Team {
  public:
    Thread_Team() = default;
    Thread_Team(const Thread_Team&) = delete;
    Thread_Team& operator=(const Thread_Team&) = delete;
    ~Thread_Team() { Stop(); }

    // `count` threads in all, the caller's included. Workers start with the
    // caller's floating-point environment (traps, no flush to zero).
    void Start(int count);
    int Count() const { return count_; }

    // Runs job(t) on every thread t = 0..Count()-1, the caller being t = 0,
    // and returns when all have finished. Nothing is allocated for it.
    template <class Job> void Run(Job&& job) {
        Run_Job([](void* j, int t) { (*static_cast<std::remove_reference_t<Job>*>(j))(t); },
                const_cast<void*>(static_cast<const void*>(&job)));
    }

    // Inside a job: waits until every thread has reached it.
    void Barrier();

    // Nanoseconds the threads have spent waiting at barriers (each thread's
    // waits added up) since the last call.
    std::int64_t Take_Barrier_Waits() { return barrier_waits_.exchange(0); }

    void Stop();

  private:
    void Run_Job(void (*call)(void*, int), void* job);

    int count_ = 1;
    std::vector<std::thread> workers_;
    void (*call_)(void*, int) = nullptr;
    void* job_ = nullptr;
    std::atomic<unsigned> job_number_{0};
    std::atomic<int> arrived_{0};
    std::atomic<unsigned> barrier_number_{0};
    bool stopping_ = false;
    alignas(64) std::atomic<std::int64_t> barrier_waits_{0};
};
