#include "sim/ising_backend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace talvo::sim {

std::int64_t energy_key(double e) {
    double scaled = e * 1e9;
    if (std::isnan(scaled)) return 0;
    double r = std::round(scaled);
    if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (r < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

namespace {

typedef double v4d __attribute__((vector_size(32)));

// Assignments are evaluated 16 at a time, in four 4-lane accumulators, so the
// independent sums overlap; each lane's own sum still adds the terms one by
// one in list order, exactly as the scalar loop does.
constexpr unsigned kBlockBits = 4;
constexpr std::uint64_t kBlock = 1u << kBlockBits;

struct Term {
    std::uint32_t i, j;
    double w;
};

__attribute__((target_clones("avx2", "default"))) void evaluate_blocks(const Term* terms, std::size_t n_terms,
                                                                       unsigned n, std::uint64_t first_block,
                                                                       std::uint64_t n_blocks, double* out) {
    // A plain array keeps the 32-byte alignment of v4d (a std::vector of a
    // vector type drops it and the aligned loads fault).
    v4d x[kMaxExhaustiveVars * 4];
    for (std::uint64_t b = 0; b < n_blocks; ++b) {
        std::uint64_t base = (first_block + b) << kBlockBits;
        for (unsigned k = 0; k < n; ++k) {
            for (unsigned g = 0; g < 4; ++g) {
                v4d v;
                for (unsigned l = 0; l < 4; ++l) v[l] = static_cast<double>(((base + g * 4 + l) >> k) & 1);
                x[k * 4 + g] = v;
            }
        }
        v4d a0 = {0.0, 0.0, 0.0, 0.0}, a1 = a0, a2 = a0, a3 = a0;
        for (std::size_t t = 0; t < n_terms; ++t) {
            const v4d* xi = &x[terms[t].i * 4];
            const v4d* xj = &x[terms[t].j * 4];
            const double w = terms[t].w;
            a0 += (xi[0] * w) * xj[0];
            a1 += (xi[1] * w) * xj[1];
            a2 += (xi[2] * w) * xj[2];
            a3 += (xi[3] * w) * xj[3];
        }
        double* o = out + b * kBlock;
        std::memcpy(o, &a0, sizeof a0);
        std::memcpy(o + 4, &a1, sizeof a1);
        std::memcpy(o + 8, &a2, sizeof a2);
        std::memcpy(o + 12, &a3, sizeof a3);
    }
}

// Sorts signed keys ascending: LSD radix over 16-bit digits of the key with
// its sign bit flipped.
void radix_sort(std::vector<std::int64_t>& keys) {
    const std::size_t n = keys.size();
    std::vector<std::uint64_t> a(n), b(n);
    for (std::size_t k = 0; k < n; ++k) a[k] = static_cast<std::uint64_t>(keys[k]) ^ (std::uint64_t{1} << 63);
    std::vector<std::size_t> count(1 << 16);
    for (unsigned shift = 0; shift < 64; shift += 16) {
        std::fill(count.begin(), count.end(), 0);
        for (std::uint64_t v : a) ++count[(v >> shift) & 0xFFFF];
        if (count[(a[0] >> shift) & 0xFFFF] == n) continue;  // one digit value throughout
        std::size_t sum = 0;
        for (std::size_t& c : count) {
            std::size_t here = c;
            c = sum;
            sum += here;
        }
        for (std::uint64_t v : a) b[count[(v >> shift) & 0xFFFF]++] = v;
        a.swap(b);
    }
    for (std::size_t k = 0; k < n; ++k) keys[k] = static_cast<std::int64_t>(a[k] ^ (std::uint64_t{1} << 63));
}

}  // namespace

Spectrum qubo_energy_spectrum(const QuboTerms& terms, std::uint64_t n_vars) {
    if (n_vars > kMaxExhaustiveVars) throw SizeLimit("SizeViolation: qubo_energy_spectrum requires n_vars <= 20");
    Spectrum result;
    if (n_vars == 0) {
        result.best_energy = 0.0;
        result.energies = {0.0};
        return result;
    }
    check_qubo_indices(terms, n_vars);

    const unsigned n = static_cast<unsigned>(n_vars);
    const std::uint64_t total = std::uint64_t{1} << n;
    std::vector<double> energy(total);
    if (n >= kBlockBits) {
        std::vector<Term> packed(terms.size());
        for (std::size_t t = 0; t < terms.size(); ++t) {
            packed[t] = {static_cast<std::uint32_t>(terms[t].i), static_cast<std::uint32_t>(terms[t].j), terms[t].w};
        }
        evaluate_blocks(packed.data(), packed.size(), n, 0, total >> kBlockBits, energy.data());
    } else {
        std::uint8_t bits[kBlockBits];
        for (std::uint64_t v = 0; v < total; ++v) {
            for (unsigned k = 0; k < n; ++k) bits[k] = (v >> k) & 1;
            energy[v] = qubo_energy(terms, bits, 0.0);
        }
    }

    // Strictly greater: ties keep the smallest assignment number, NaN never wins.
    double best = std::numeric_limits<double>::infinity();
    std::uint64_t best_v = 0;
    std::vector<std::int64_t> keys(total);
    for (std::uint64_t v = 0; v < total; ++v) {
        if (best > energy[v]) {
            best = energy[v];
            best_v = v;
        }
        keys[v] = energy_key(energy[v]);
    }
    energy = {};
    radix_sort(keys);
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    result.best_assignment.resize(n);
    for (unsigned k = 0; k < n; ++k) result.best_assignment[k] = (best_v >> k) & 1;
    result.best_energy = best;
    result.energies.reserve(keys.size());
    for (std::int64_t k : keys) result.energies.push_back(static_cast<double>(k) / 1e9);
    return result;
}

// ---------------------------------------------------------------------------
// Spin enumeration shared by the Ising norm and the exact solver.

namespace {

// One term of a spin sum: contributes (w * s_a) * s_b. A linear term uses the
// extra site n, whose spin is +1 in every configuration; multiplying by 1.0
// changes nothing, so s_a * w is reproduced exactly.
struct SpinTerm {
    std::uint32_t a, b;
    double w;
};

// Configurations are evaluated 32 at a time in eight 4-lane accumulators: the
// independent sums overlap, while each lane still adds its terms one by one in
// list order. Lane l of group g is configuration base + 4g + l.
constexpr unsigned kSpinBlockBits = 5;
constexpr std::uint64_t kSpinBlock = std::uint64_t{1} << kSpinBlockBits;
constexpr unsigned kGroups = kSpinBlock / 4;

__attribute__((target_clones("avx2", "default"))) void evaluate_spin_blocks(const SpinTerm* terms,
                                                                            std::size_t n_terms, unsigned n,
                                                                            std::uint64_t first_block,
                                                                            std::uint64_t n_blocks, double* out) {
    // Spins of sites 0..4 follow the lane pattern in every block; higher sites
    // are the same throughout a block.
    v4d s[(kMaxExhaustiveVars + 1) * kGroups];  // aligned, unlike a std::vector of v4d
    for (unsigned k = 0; k < n && k < kSpinBlockBits; ++k) {
        for (unsigned g = 0; g < kGroups; ++g) {
            v4d v;
            for (unsigned l = 0; l < 4; ++l) v[l] = (((g * 4 + l) >> k) & 1) ? 1.0 : -1.0;
            s[k * kGroups + g] = v;
        }
    }
    const v4d ones = {1.0, 1.0, 1.0, 1.0};
    for (unsigned g = 0; g < kGroups; ++g) s[n * kGroups + g] = ones;

    for (std::uint64_t blk = 0; blk < n_blocks; ++blk) {
        const std::uint64_t base = (first_block + blk) << kSpinBlockBits;
        for (unsigned k = kSpinBlockBits; k < n; ++k) {
            const v4d v = ((base >> k) & 1) ? ones : -ones;
            for (unsigned g = 0; g < kGroups; ++g) s[k * kGroups + g] = v;
        }
        v4d a0 = {0.0, 0.0, 0.0, 0.0}, a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
        for (std::size_t t = 0; t < n_terms; ++t) {
            const v4d* sa = &s[terms[t].a * kGroups];
            const v4d* sb = &s[terms[t].b * kGroups];
            const double w = terms[t].w;
            a0 += (w * sa[0]) * sb[0];
            a1 += (w * sa[1]) * sb[1];
            a2 += (w * sa[2]) * sb[2];
            a3 += (w * sa[3]) * sb[3];
            a4 += (w * sa[4]) * sb[4];
            a5 += (w * sa[5]) * sb[5];
            a6 += (w * sa[6]) * sb[6];
            a7 += (w * sa[7]) * sb[7];
        }
        double* o = out + blk * kSpinBlock;
        std::memcpy(o, &a0, sizeof a0);
        std::memcpy(o + 4, &a1, sizeof a1);
        std::memcpy(o + 8, &a2, sizeof a2);
        std::memcpy(o + 12, &a3, sizeof a3);
        std::memcpy(o + 16, &a4, sizeof a4);
        std::memcpy(o + 20, &a5, sizeof a5);
        std::memcpy(o + 24, &a6, sizeof a6);
        std::memcpy(o + 28, &a7, sizeof a7);
    }
}

// Calls visit(first_configuration, energies, count) for consecutive chunks of
// the 2^n configurations, in increasing configuration order.
template <class Visit>
void enumerate_spins(const std::vector<SpinTerm>& terms, unsigned n, Visit&& visit) {
    const std::uint64_t total = std::uint64_t{1} << n;
    constexpr std::uint64_t kChunkBlocks = 128;
    std::vector<double> energy(kChunkBlocks * kSpinBlock);
    // Fewer than 32 configurations: one block is evaluated and its first
    // `total` lanes are the configurations that exist.
    const std::uint64_t n_blocks = (total + kSpinBlock - 1) / kSpinBlock;
    for (std::uint64_t first = 0; first < n_blocks; first += kChunkBlocks) {
        const std::uint64_t count = std::min(kChunkBlocks, n_blocks - first);
        evaluate_spin_blocks(terms.data(), terms.size(), n, first, count, energy.data());
        visit(first * kSpinBlock, energy.data(), std::min(count * kSpinBlock, total));
    }
}

}  // namespace

double exact_ising_norm(const LinearTerms& dh, const QuboTerms& dj, std::uint64_t n_sites) {
    if (n_sites > kMaxExhaustiveVars) throw SizeLimit("SizeViolation: exact_ising_norm requires n_sites <= 20");
    if (n_sites == 0 || (dh.empty() && dj.empty())) return 0.0;
    // The first evaluated configuration meets every index: linear terms first,
    // then i before j within each coupling.
    for (const auto& [i, h] : dh) check_index(i, n_sites);
    check_qubo_indices(dj, n_sites);

    const unsigned n = static_cast<unsigned>(n_sites);
    std::vector<SpinTerm> terms;
    terms.reserve(dh.size() + dj.size());
    for (const auto& [i, h] : dh) terms.push_back({static_cast<std::uint32_t>(i), n, h});
    for (const QuboTerm& t : dj) {
        terms.push_back({static_cast<std::uint32_t>(t.i), static_cast<std::uint32_t>(t.j), t.w});
    }

    double best = 0.0;
    enumerate_spins(terms, n, [&](std::uint64_t, const double* e, std::uint64_t count) {
        for (std::uint64_t v = 0; v < count; ++v) {
            const double m = std::fabs(e[v]);
            if (m > best) best = m;  // false for NaN
        }
    });
    return best;
}

NameIndex::NameIndex(const std::vector<Variable>& variables) {
    index_.reserve(variables.size());
    for (std::size_t k = 0; k < variables.size(); ++k) index_[variables[k].name] = k;
}

std::int64_t NameIndex::find(const std::string& name) const {
    auto it = index_.find(name);
    return it == index_.end() ? -1 : static_cast<std::int64_t>(it->second);
}

std::vector<std::int8_t> solve_exact(const LogicalGraph& graph) {
    const std::uint64_t n_vars = graph.variables.size();
    if (n_vars > kMaxExhaustiveVars) throw SizeLimit("SizeViolation: N > 20 is not supported for exact solver");
    const unsigned n = static_cast<unsigned>(n_vars);
    std::vector<std::int8_t> result(n, -1);
    if (n == 0 || graph.interactions.empty()) return result;

    // Names are resolved once; an interaction with an unknown name adds
    // nothing. A variable interacting with itself is a local field s_a * w.
    const NameIndex index(graph.variables);
    std::vector<SpinTerm> terms;
    terms.reserve(graph.interactions.size());
    for (const Interaction& it : graph.interactions) {
        const std::int64_t a = index.find(it.i);
        const std::int64_t b = index.find(it.j);
        if (a < 0 || b < 0) continue;
        if (a == b) {
            terms.push_back({static_cast<std::uint32_t>(a), n, it.weight});
        } else {
            terms.push_back({static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b), it.weight});
        }
    }

    // Strictly greater: ties keep the smallest configuration, NaN never wins.
    double best = std::numeric_limits<double>::infinity();
    std::uint64_t best_c = 0;
    enumerate_spins(terms, n, [&](std::uint64_t first, const double* e, std::uint64_t count) {
        for (std::uint64_t v = 0; v < count; ++v) {
            if (best > e[v]) {
                best = e[v];
                best_c = first + v;
            }
        }
    });
    for (unsigned k = 0; k < n; ++k) result[k] = ((best_c >> k) & 1) ? 1 : -1;
    return result;
}

}  // namespace talvo::sim
