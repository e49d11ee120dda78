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
    std::vector<v4d> x(static_cast<std::size_t>(n) * 4);
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

}  // namespace talvo::sim
