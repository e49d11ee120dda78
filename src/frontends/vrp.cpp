#include "frontends/vrp.h"

#include <algorithm>
#include <numeric>

#include "errors.h"

namespace talvo::frontends {

namespace {

using Contribution = VrpContribution;

// Stable counting sort of the contributions by `second`, then by `first`: a
// two-digit radix sort on the key (first, second) with base M (the variable
// count). Stability keeps the contributions of one key in the order they
// were made, so summing a run adds them in that order. Each pass walks the
// items in blocks, polling for Ctrl-C between them.
void sort_by_key(std::vector<Contribution>& items, std::size_t m) {
    std::vector<Contribution> tmp(items.size());
    std::vector<std::size_t> start(m + 1);
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    auto pass = [&](auto digit, std::vector<Contribution>& from, std::vector<Contribution>& to) {
        std::fill(start.begin(), start.end(), 0);
        for (std::size_t b = 0; b < from.size(); b += kBlock) {
            poll_interrupt();
            const std::size_t e = std::min(from.size(), b + kBlock);
            for (std::size_t k = b; k < e; ++k) ++start[digit(from[k]) + 1];
        }
        for (std::size_t d = 1; d <= m; ++d) start[d] += start[d - 1];
        for (std::size_t b = 0; b < from.size(); b += kBlock) {
            poll_interrupt();
            const std::size_t e = std::min(from.size(), b + kBlock);
            for (std::size_t k = b; k < e; ++k) to[start[digit(from[k])]++] = from[k];
        }
    };
    pass([](const Contribution& c) { return c.second; }, items, tmp);
    pass([](const Contribution& c) { return c.first; }, tmp, items);
}

}  // namespace

VrpTerms vrp_qubo_terms(const std::vector<std::vector<double>>& dist, double penalty_a, double penalty_b) {
    const std::size_t n = dist.size();
    for (const auto& row : dist) {
        if (row.size() != n) throw InvalidInput("distance matrix must be square");
    }
    // Variable indices and the (first, second) key must fit 32 bits each.
    if (n > 0xFFFF) capacity_overflow();
    const std::size_t m = n * n;
    // Each of the 2 N^3 contributions takes 16 bytes, 16 more while they are
    // sorted, and becomes about one entry of the result dict (a key tuple and
    // its slot, some 120 bytes): refuse up front what the machine cannot hold.
    check_allocation(2 * static_cast<std::uint64_t>(n) * n * n, 152);

    VrpTerms out;
    out.names.reserve(m);
    for (std::size_t i = 0; i < n; ++i) {
        poll_interrupt();
        for (std::size_t t = 0; t < n; ++t) {
            out.names.push_back("x_" + std::to_string(i) + "_" + std::to_string(t));
        }
    }

    // Rank of each variable's name in string order; the name that sorts first
    // leads the key of every pair.
    std::vector<std::uint32_t> rank(m);
    {
        std::vector<std::uint32_t> order(m);
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t x, std::uint32_t y) { return out.names[x] < out.names[y]; });
        for (std::size_t r = 0; r < m; ++r) rank[order[r]] = static_cast<std::uint32_t>(r);
    }

    std::vector<Contribution> items;
    items.reserve(m * 2 + m * (n > 0 ? n - 1 : 0) * 2);
    auto var = [n](std::size_t node, std::size_t pos) { return static_cast<std::uint32_t>(node * n + pos); };
    auto add_pair = [&](std::uint32_t p, std::uint32_t q, double delta) {
        if (rank[p] < rank[q]) {
            items.push_back({p, q, delta});
        } else {
            items.push_back({q, p, delta});
        }
    };

    const double two_a = 2.0 * penalty_a;
    // Each node occupies exactly one position: A (1 - sum_t x_it)^2.
    for (std::size_t i = 0; i < n; ++i) {
        poll_interrupt();
        for (std::size_t t = 0; t < n; ++t) {
            std::uint32_t x = var(i, t);
            items.push_back({x, x, -penalty_a});
            for (std::size_t s = t + 1; s < n; ++s) add_pair(x, var(i, s), two_a);
        }
    }
    // Each position holds exactly one node: A (1 - sum_i x_it)^2.
    for (std::size_t t = 0; t < n; ++t) {
        poll_interrupt();
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t x = var(i, t);
            items.push_back({x, x, -penalty_a});
            for (std::size_t j = i + 1; j < n; ++j) add_pair(x, var(j, t), two_a);
        }
    }
    // Cyclic tour length: node u at position t followed by node v at t + 1.
    for (std::size_t u = 0; u < n; ++u) {
        poll_interrupt();
        for (std::size_t v = 0; v < n; ++v) {
            if (v == u) continue;
            const double w = dist[u][v] * penalty_b;
            for (std::size_t t = 0; t < n; ++t) add_pair(var(u, t), var(v, (t + 1) % n), w);
        }
    }

    sort_by_key(items, m);
    out.contributions = std::move(items);
    return out;
}

}  // namespace talvo::frontends
