#include "graph_partition/stoer_wagner.h"

#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#include "errors.h"

namespace talvo::graph_partition {

namespace {

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};

// The n x n weight matrix, zero-filled. calloc leaves untouched pages to the
// kernel, and a matrix too large for memory surfaces as bad_alloc.
std::unique_ptr<double[], FreeDeleter> zero_matrix(std::uint64_t n) {
    constexpr std::uint64_t limit = std::numeric_limits<std::size_t>::max() / sizeof(double);
    if (n != 0 && n > limit / n) throw std::bad_alloc();
    check_allocation(n * n, sizeof(double));
    auto* p = static_cast<double*>(std::calloc(static_cast<std::size_t>(n * n), sizeof(double)));
    if (!p) throw std::bad_alloc();
    return std::unique_ptr<double[], FreeDeleter>(p);
}

}  // namespace

Bisection stoer_wagner_bisect(const std::vector<Edge>& edges, std::uint64_t n) {
    if (n < 2) throw InvalidInput("n_nodes must be >= 2 to bisect");
    for (const auto& [i, j, w] : edges) {
        check_index(i, n);
        check_index(j, n);
    }
    auto matrix = zero_matrix(n);
    double* W = matrix.get();
    for (const auto& [i, j, w] : edges) {
        W[i * n + j] += w;
        W[j * n + i] += w;
    }

    // Active nodes in increasing index order; merged-away nodes leave it.
    std::vector<std::uint64_t> active(n);
    for (std::uint64_t v = 0; v < n; ++v) active[v] = v;
    // Groups as linked lists: a group's list starts at its own node, `next`
    // links the members in merge order, `tail` is the last member.
    std::vector<std::uint64_t> next(n, kNone), tail(n);
    for (std::uint64_t v = 0; v < n; ++v) tail[v] = v;

    std::vector<double> key(n);
    std::vector<std::uint64_t> outside;  // active nodes not yet in A, increasing
    outside.reserve(n);
    double best_cut = std::numeric_limits<double>::infinity();
    std::vector<std::uint64_t> best_side;
    // Matrix entries read since the last poll for Ctrl-C: a poll every
    // million or so, a few milliseconds of work.
    std::uint64_t work = 0;
    auto count_work = [&](std::uint64_t entries) {
        work += entries;
        if (work >= (std::uint64_t{1} << 20)) {
            work = 0;
            poll_interrupt();
        }
    };

    while (active.size() >= 2) {
        // Maximum-adjacency ordering from the lowest active node.
        const std::uint64_t a = active[0];
        outside.assign(active.begin() + 1, active.end());
        const double* wa = W + a * n;
        for (std::uint64_t v : outside) key[v] = wa[v];

        std::uint64_t s = a, t = a;
        while (!outside.empty()) {
            // The largest key wins, the lowest index among equal keys; a NaN
            // or -inf key is never chosen.
            std::size_t pick = outside.size();
            double top = -std::numeric_limits<double>::infinity();
            for (std::size_t k = 0; k < outside.size(); ++k) {
                double kv = key[outside[k]];
                if (kv > top) {
                    top = kv;
                    pick = k;
                }
            }
            if (pick == outside.size()) panic("a candidate remains while n_in_a < active_count");
            const std::uint64_t chosen = outside[pick];
            outside.erase(outside.begin() + static_cast<std::ptrdiff_t>(pick));
            const double* wc = W + chosen * n;
            for (std::uint64_t v : outside) key[v] = wc[v] + key[v];
            s = t;
            t = chosen;
            count_work(outside.size() + 1);
        }

        // The cut of the phase, recomputed from the matrix.
        const double* wt = W + t * n;
        double cut = 0.0;
        for (std::uint64_t v : active) {
            if (v != t) cut += wt[v];
        }
        if (cut < best_cut) {
            best_cut = cut;
            best_side.clear();
            for (std::uint64_t v = t; v != kNone; v = next[v]) best_side.push_back(v);
        }

        // Merge t into s.
        double* ws = W + s * n;
        for (std::uint64_t v : active) {
            if (v == s || v == t) continue;
            ws[v] = wt[v] + ws[v];
            W[v * n + s] = W[v * n + t] + W[v * n + s];
        }
        count_work(3 * active.size());
        next[tail[s]] = t;
        tail[s] = tail[t];
        for (std::size_t k = 0; k < active.size(); ++k) {
            if (active[k] == t) {
                active.erase(active.begin() + static_cast<std::ptrdiff_t>(k));
                break;
            }
        }
    }

    if (best_side.empty()) throw InvalidInput("no cut found");
    return {best_cut, std::move(best_side)};
}

}  // namespace talvo::graph_partition
