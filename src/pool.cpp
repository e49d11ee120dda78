#include "pool.h"

#include "os.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace talvo::pool {
namespace {

// ---------------------------------------------------------------------------
// The pool.

struct Job {
    static constexpr std::size_t kNoFailure = std::numeric_limits<std::size_t>::max();

    std::size_t n;
    std::size_t chunk;
    void (*element)(void*, std::size_t);
    void* ctx;
    std::atomic<std::size_t> next{0};      // first element not yet claimed
    std::atomic<std::size_t> finished{0};  // elements done (or skipped after a failure)
    // The lowest element index known to have failed. It only ever goes down,
    // and elements above it are skipped, never those below: every element
    // below the final value has run, so the error reported is the one of the
    // first failing element in input order, whatever the number of workers
    // and the timing.
    std::atomic<std::size_t> first_failure{kNoFailure};
    std::mutex error_mutex;
    std::size_t error_index = kNoFailure;
    std::exception_ptr error;

    void record(std::size_t i, std::exception_ptr e) {
        {
            std::lock_guard<std::mutex> lock(error_mutex);
            if (i < error_index) {
                error_index = i;
                error = std::move(e);
            }
        }
        std::size_t seen = first_failure.load(std::memory_order_relaxed);
        while (i < seen && !first_failure.compare_exchange_weak(seen, i, std::memory_order_relaxed)) {
        }
    }

    // Claims and runs chunks until none is left. Chunks are claimed in
    // increasing order; within one, the elements run in order until one
    // fails or the rest lie above a known failure.
    void work() {
        for (;;) {
            std::size_t begin = next.fetch_add(chunk, std::memory_order_relaxed);
            if (begin >= n) return;
            std::size_t end = std::min(n, begin + chunk);
            for (std::size_t i = begin; i < end; ++i) {
                if (i > first_failure.load(std::memory_order_relaxed)) break;  // an earlier element failed
                try {
                    element(ctx, i);
                } catch (...) {
                    record(i, std::current_exception());
                    break;
                }
            }
            finished.fetch_add(end - begin, std::memory_order_acq_rel);
        }
    }
};

class Pool {
public:
    explicit Pool(std::size_t workers) {
        // Workers take no signals: they stay with the interpreter's thread.
        os::with_signals_blocked([&] {
            try {
                for (std::size_t k = 0; k < workers; ++k) threads_.emplace_back([this] { loop(); });
            } catch (...) {  // GCOVR_EXCL_START: only when the system refuses more threads
                if (threads_.empty()) throw;
            }  // GCOVR_EXCL_STOP
        });
    }

    // The pool lives for the rest of the process (and is abandoned, never
    // destroyed, in a forked child), so the threads are never joined.
    ~Pool() = delete;

    std::size_t size() const { return threads_.size(); }

    void run(Job& job) {
        std::lock_guard<std::mutex> one_job_at_a_time(submit_);
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = &job;
        ++generation_;
        work_cv_.notify_all();
        // Done when every element is accounted for and no worker is still
        // inside the job; a worker that wakes later finds no job.
        done_cv_.wait(lock, [&] { return inside_ == 0 && job.finished.load(std::memory_order_acquire) >= job.n; });
        job_ = nullptr;
    }

private:
    void loop() {
        os::name_this_thread("talvo-pool");
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_cv_.wait(lock, [&] { return job_ != nullptr && generation_ != seen; });
            seen = generation_;
            Job* job = job_;
            ++inside_;
            lock.unlock();
            job->work();
            lock.lock();
            if (--inside_ == 0) done_cv_.notify_all();
        }
    }

    std::mutex submit_;
    std::mutex mutex_;
    std::condition_variable work_cv_;
    std::condition_variable done_cv_;
    Job* job_ = nullptr;
    std::uint64_t generation_ = 0;
    std::size_t inside_ = 0;
    std::vector<std::thread> threads_;
};

std::atomic<Pool*> g_pool{nullptr};
std::mutex g_start_mutex;

// In a child made by fork() only the forking thread exists: forget the
// parent's pool (its threads are gone, its locks may be held) and start a
// new one on first use. The old object is deliberately leaked.
void forget_pool_in_child() {
    g_pool.store(nullptr, std::memory_order_relaxed);
    new (&g_start_mutex) std::mutex();
}

Pool& instance() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (p) return *p;
    std::lock_guard<std::mutex> lock(g_start_mutex);
    p = g_pool.load(std::memory_order_acquire);
    if (!p) {
        static std::once_flag registered;
        std::call_once(registered, [] { os::on_fork_child(&forget_pool_in_child); });
        p = new Pool(available_parallelism());
        g_pool.store(p, std::memory_order_release);
    }
    return *p;
}

}  // namespace

std::size_t available_parallelism() { return os::available_cpus(); }

std::size_t worker_count() { return instance().size(); }

void run(std::size_t n, void (*element)(void*, std::size_t), void* ctx) {
    if (n == 0) return;
    Pool& pool = instance();
    Job job;
    job.n = n;
    // A few chunks per worker balance uneven elements without much contention.
    job.chunk = std::max<std::size_t>(1, n / (pool.size() * 8));
    job.element = element;
    job.ctx = ctx;
    pool.run(job);
    if (job.error) std::rethrow_exception(job.error);
}

}  // namespace talvo::pool
