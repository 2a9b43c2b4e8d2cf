#include "lattice/thread_team.hpp"

#include <cfenv>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <xmmintrin.h>

namespace {

// Pauses spun before a wait sleeps: some tens of microseconds, longer than
// the threads of a step on idle cores keep each other waiting, shorter than
// a time slice of the scheduler, which a thread on a busy machine would
// otherwise take from the one it waits for.
constexpr int Spin_Pauses = 512;

// Waits until `number` no longer holds `seen`: spins a while (a step's share
// is often shorter than a sleep and a wake-up), then sleeps until notified.
void Wait_For_Change(const std::atomic<unsigned>& number, unsigned seen) {
    for (int spin = 0; number.load(std::memory_order_acquire) == seen; ++spin) {
        if (spin < Spin_Pauses)
            _mm_pause();
        else
            number.wait(seen, std::memory_order_acquire);
    }
}

} // namespace

void Thread_Team::Start(int count) {
    Stop();
    count_ = count < 1 ? 1 : count;
    stopping_ = false;
    std::fenv_t env;
    std::fegetenv(&env);
    const unsigned csr = _mm_getcsr();
    const unsigned first = job_number_.load();
    // The workers start with the interruptions blocked, so the handler that
    // removes the temporary files runs on this thread, never while this
    // thread goes on replacing a file behind it.
    sigset_t interruptions, before;
    sigemptyset(&interruptions);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&interruptions, sig);
    pthread_sigmask(SIG_BLOCK, &interruptions, &before);
    struct Restore {
        const sigset_t& mask;
        ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{before};
    for (int t = 1; t < count_; ++t)
        workers_.emplace_back([this, t, env, csr, first] {
            std::fesetenv(&env);
            _mm_setcsr(csr);
            unsigned seen = first;
            for (;;) {
                Wait_For_Change(job_number_, seen);
                ++seen;
                if (stopping_)
                    return;
                call_(job_, t);
                Barrier();
            }
        });
}

void Thread_Team::Run_Job(void (*call)(void*, int), void* job) {
    if (workers_.empty()) {
        call(job, 0);
        return;
    }
    call_ = call;
    job_ = job;
    job_number_.fetch_add(1, std::memory_order_release);
    job_number_.notify_all();
    call(job, 0);
    Barrier();
}

void Thread_Team::Barrier() {
    if (count_ == 1)
        return;
    const unsigned seen = barrier_number_.load(std::memory_order_acquire);
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == count_) {
        arrived_.store(0, std::memory_order_relaxed);
        barrier_number_.fetch_add(1, std::memory_order_release);
        barrier_number_.notify_all();
    } else if (barrier_number_.load(std::memory_order_acquire) == seen) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        Wait_For_Change(barrier_number_, seen);
        const auto waited = std::chrono::nanoseconds(Clock::now() - start);
        barrier_waits_.fetch_add(waited.count(), std::memory_order_relaxed);
    }
}

void Thread_Team::Stop() {
    if (!workers_.empty()) {
        stopping_ = true;
        job_number_.fetch_add(1, std::memory_order_release);
        job_number_.notify_all();
        for (std::thread& w : workers_)
            w.join();
        workers_.clear();
    }
    count_ = 1;
}
