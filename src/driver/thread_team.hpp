#pragma once
// The threads of the time step: workers started once and kept for the run,
// each handed one share of every step. A step is short (tens of
// microseconds on small grids), so the workers wait for work and at
// barriers by spinning a while before they sleep.
#include <atomic>
#include <functional>
#include <thread>
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
    // and returns when all have finished.
    void Run(const std::function<void(int)>& job);

    // Inside a job: waits until every thread has reached it.
    void Barrier();

    void Stop();

  private:
    int count_ = 1;
    std::vector<std::thread> workers_;
    const std::function<void(int)>* job_ = nullptr;
    std::atomic<unsigned> job_number_{0};
    std::atomic<int> arrived_{0};
    std::atomic<unsigned> barrier_number_{0};
    bool stopping_ = false;
};
