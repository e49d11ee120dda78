// The shared data-parallel pool: one set of worker threads for the whole
// process, started on first use and kept. A caller hands it a map over the
// indices [0, n) and blocks until every element is done. Each element writes
// only its own result slot and the caller reduces the slots in input order,
// so nothing depends on the number of workers or on scheduling.
//
// Workers never touch Python objects. An exception thrown by an element stops
// the elements after it that have not started; every element before it still
// runs, and the exception of the lowest failing element is rethrown on the
// calling thread once no worker is inside the job any more, so the error too
// is the same for any number of workers. A child made by fork() gets a fresh
// pool on its first use. No Python here.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace talvo::pool {

// The processors this process may run on (see os::available_cpus): on Linux
// its CPU affinity capped by a cgroup CPU quota; at least 1.
std::size_t available_parallelism();

// Number of workers of the pool, starting it if needed.
std::size_t worker_count();

// Runs element(ctx, i) for every i in [0, n) on the workers; returns when all
// are done. Rethrows the exception of the lowest failing element: the first
// failure in input order.
// Jobs from several threads run one after another; an element must not
// itself submit a job.
void run(std::size_t n, void (*element)(void* ctx, std::size_t i), void* ctx);

// Calls f(i) for every i in [0, n) on the pool.
template <class F>
void for_each(std::size_t n, F&& f) {
    using Fn = std::remove_reference_t<F>;
    run(n, [](void* ctx, std::size_t i) { (*static_cast<Fn*>(ctx))(i); }, const_cast<void*>(static_cast<const void*>(&f)));
}

// Jobs of fewer steps than this run on the calling thread: waking the workers
// and waiting for the last of them costs tens of microseconds, more than
// such a job takes on one thread.
inline constexpr std::size_t kInlineSteps = std::size_t{1} << 15;

// Calls f(i) for every i in [0, n), where the whole job takes about `steps`
// steps of the caller's unit (a term, an entry): on the calling thread,
// without starting the pool, when steps < kInlineSteps or n < 2 (one
// element gains nothing from the workers), otherwise on the pool. The
// outcome is the same either way: on the calling thread the elements run in
// input order and the first failure ends the job.
template <class F>
void for_each(std::size_t n, std::size_t steps, F&& f) {
    if (n < 2 || steps < kInlineSteps) {
        for (std::size_t i = 0; i < n; ++i) f(i);
        return;
    }
    for_each(n, std::forward<F>(f));
}

// The results f(0), ..., f(n - 1), computed on the pool, in input order.
template <class T, class F>
std::vector<T> map(std::size_t n, F&& f) {
    std::vector<T> out(n);
    for_each(n, [&](std::size_t i) { out[i] = f(i); });
    return out;
}

}  // namespace talvo::pool
