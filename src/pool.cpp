#include "pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

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
// How many processors the process may use.

std::optional<std::string> read_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "re");
    if (!f) return std::nullopt;
    std::string text;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    std::fclose(f);
    return text;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

std::optional<std::int64_t> parse_int(const std::string& s) {
    std::string t = s;
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    if (t.empty()) return std::nullopt;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return v;
}

// Processors granted by a quota over a period, rounded up.
std::size_t quota_cpus(std::int64_t quota, std::int64_t period) {
    if (quota <= 0 || period <= 0) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(std::max<std::int64_t>(1, (quota + period - 1) / period));
}

struct Mount {
    std::string root;   // the part of the hierarchy mounted there
    std::string point;  // where it is mounted
};

// The mount of the cgroup v2 hierarchy (v1 == false) or of the v1 hierarchy
// holding the "cpu" controller.
std::optional<Mount> find_cgroup_mount(bool v1) {
    auto info = read_file("/proc/self/mountinfo");
    if (!info) return std::nullopt;
    for (const std::string& line : split(*info, '\n')) {
        std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::vector<std::string> before = split(line.substr(0, dash), ' ');
        std::vector<std::string> after = split(line.substr(dash + 3), ' ');
        if (before.size() < 5 || after.size() < 3) continue;
        if (!v1 && after[0] == "cgroup2") return Mount{before[3], before[4]};
        if (v1 && after[0] == "cgroup") {
            for (const std::string& opt : split(after[2], ',')) {
                if (opt == "cpu") return Mount{before[3], before[4]};
            }
        }
    }
    return std::nullopt;
}

// The smallest CPU quota set on the process's cgroup or any of its ancestors.
std::size_t cgroup_cpus() {
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    auto groups = read_file("/proc/self/cgroup");
    if (!groups) return limit;
    for (const std::string& line : split(*groups, '\n')) {
        std::vector<std::string> f = split(line, ':');
        if (f.size() < 3) continue;
        bool v2 = f[0] == "0" && f[1].empty();
        bool v1 = false;
        for (const std::string& c : split(f[1], ',')) v1 = v1 || c == "cpu";
        if (!v1 && !v2) continue;
        auto mount = find_cgroup_mount(v1);
        if (!mount) continue;
        // The group's path below the mounted part of the hierarchy.
        std::string path = line.substr(f[0].size() + f[1].size() + 2);
        if (mount->root != "/" && path.rfind(mount->root, 0) == 0) path = path.substr(mount->root.size());
        for (;;) {
            std::string dir = mount->point + path;
            if (v2) {
                if (auto text = read_file(dir + "/cpu.max")) {
                    std::vector<std::string> parts = split(*text, ' ');
                    if (parts.size() >= 2) {
                        auto q = parse_int(parts[0]);
                        auto p = parse_int(parts[1]);
                        if (q && p) limit = std::min(limit, quota_cpus(*q, *p));
                    }
                }
            } else {
                auto q = read_file(dir + "/cpu.cfs_quota_us");
                auto p = read_file(dir + "/cpu.cfs_period_us");
                if (q && p) {
                    auto qv = parse_int(*q);
                    auto pv = parse_int(*p);
                    if (qv && pv) limit = std::min(limit, quota_cpus(*qv, *pv));
                }
            }
            if (path.empty() || path == "/") break;
            std::size_t slash = path.rfind('/');
            path = slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
        }
    }
    return limit;
}

std::size_t affinity_cpus() {
    for (int size = 1024; size <= (1 << 20); size *= 4) {
        cpu_set_t* set = CPU_ALLOC(size);
        if (!set) break;
        std::size_t bytes = CPU_ALLOC_SIZE(size);
        CPU_ZERO_S(bytes, set);
        if (sched_getaffinity(0, bytes, set) == 0) {
            std::size_t n = static_cast<std::size_t>(CPU_COUNT_S(bytes, set));
            CPU_FREE(set);
            return n;
        }
        CPU_FREE(set);
        if (errno != EINVAL) break;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::size_t>(n) : 1;
}

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
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            for (std::size_t k = 0; k < workers; ++k) threads_.emplace_back([this] { loop(); });
        } catch (...) {
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
            if (threads_.empty()) throw;
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
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
        pthread_setname_np(pthread_self(), "talvo-pool");
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
        std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, &forget_pool_in_child); });
        p = new Pool(available_parallelism());
        g_pool.store(p, std::memory_order_release);
    }
    return *p;
}

}  // namespace

std::size_t available_parallelism() {
    std::size_t n = std::min(affinity_cpus(), cgroup_cpus());
    return std::max<std::size_t>(1, n);
}

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
