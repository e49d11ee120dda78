#include "sim/ising_backend.h"

#include "buffer.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace talvo::sim {

namespace {

typedef double v4d __attribute__((vector_size(32)));

// Assignments are evaluated 32 at a time, in eight 4-lane accumulators, so the
// independent sums overlap; each lane's own sum still adds the terms one by
// one in list order, exactly as the scalar loop does.
constexpr unsigned kBlockBits = 5;
constexpr std::uint64_t kBlock = 1u << kBlockBits;
constexpr unsigned kGroups = kBlock / 4;

struct Term {
    std::uint32_t i, j;
    double w;
};

// Rounds half away from zero, like round(), without a library call.
inline double round_half_away(double s) {
    double t = std::trunc(s);
    if (std::fabs(s - t) >= 0.5) t += std::copysign(1.0, s);
    return t;
}

// Spectrum identity of an energy: round(E * 1e9), halves away from zero,
// saturating at the 64-bit range, NaN -> 0.
inline std::int64_t key_of(double e) {
    double scaled = e * 1e9;
    if (scaled != scaled) return 0;
    double r = round_half_away(scaled);
    if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (r < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

// Fills x[k * kGroups + g] with variable k of assignments base + 4g .. base + 4g + 3:
// `off` where its bit is 0 and 1.0 where it is 1 (0.0 / 1.0 for QUBO bits,
// -1.0 / +1.0 for spins). The low kBlockBits variables follow the lane number
// and never change; the others are the same in every lane of a block.
inline void low_patterns(v4d* x, unsigned n, double off) {
    for (unsigned k = 0; k < n && k < kBlockBits; ++k) {
        for (unsigned g = 0; g < kGroups; ++g) {
            for (unsigned l = 0; l < 4; ++l) x[k * kGroups + g][l] = (((g * 4 + l) >> k) & 1) ? 1.0 : off;
        }
    }
}

inline void high_patterns(v4d* x, unsigned n, std::uint64_t base, double off) {
    for (unsigned k = kBlockBits; k < n; ++k) {
        const double bit = ((base >> k) & 1) ? 1.0 : off;
        const v4d v = {bit, bit, bit, bit};
        for (unsigned g = 0; g < kGroups; ++g) x[k * kGroups + g] = v;
    }
}

// The general evaluation of assignments first .. last - 1 (multiples of the
// block) into out[0 .. last - first): each term contributes (x_i * w) * x_j.
// Variable n is 1.0 in every assignment, so a term (i, n) contributes x_i * w
// exactly (the Ising linear terms).
__attribute__((target_clones("avx2", "default"))) void evaluate_blocks(const Term* terms, std::size_t n_terms,
                                                                       unsigned n, double off, std::uint64_t first,
                                                                       std::uint64_t last, double* out) {
    v4d x[(kMaxExhaustiveVars + 1) * kGroups];
    low_patterns(x, n, off);
    const v4d ones = {1.0, 1.0, 1.0, 1.0};
    for (unsigned g = 0; g < kGroups; ++g) x[n * kGroups + g] = ones;
    for (std::uint64_t base = first; base < last; base += kBlock) {
        high_patterns(x, n, base, off);
        const v4d zero = {0.0, 0.0, 0.0, 0.0};
        v4d a0 = zero, a1 = zero, a2 = zero, a3 = zero, a4 = zero, a5 = zero, a6 = zero, a7 = zero;
        for (std::size_t t = 0; t < n_terms; ++t) {
            const v4d* xi = &x[terms[t].i * kGroups];
            const v4d* xj = &x[terms[t].j * kGroups];
            const double w = terms[t].w;
            a0 += (xi[0] * w) * xj[0];
            a1 += (xi[1] * w) * xj[1];
            a2 += (xi[2] * w) * xj[2];
            a3 += (xi[3] * w) * xj[3];
            a4 += (xi[4] * w) * xj[4];
            a5 += (xi[5] * w) * xj[5];
            a6 += (xi[6] * w) * xj[6];
            a7 += (xi[7] * w) * xj[7];
        }
        const v4d acc[kGroups] = {a0, a1, a2, a3, a4, a5, a6, a7};
        std::memcpy(out + (base - first), acc, sizeof acc);
    }
}

// With every weight finite, a term whose x_i or x_j is 0 contributes a zero,
// and adding a zero of either sign leaves the running sum as it is (a sum
// that starts at +0.0 is never -0.0). So each lane adds w exactly where
// x_i = x_j = 1, in list order, and the result is bit for bit the same.
__attribute__((target("avx2"))) void evaluate_blocks_finite_avx2(const Term* terms, std::size_t n_terms,
                                                                 unsigned n, std::uint64_t first,
                                                                 std::uint64_t last, double* out) {
    alignas(32) v4d x[kMaxExhaustiveVars * kGroups];
    low_patterns(x, n, 0.0);
    for (unsigned k = 0; k < n && k < kBlockBits; ++k) {
        for (unsigned g = 0; g < kGroups; ++g) {
            x[k * kGroups + g] = _mm256_cmp_pd(x[k * kGroups + g], _mm256_set1_pd(0.5), _CMP_GT_OQ);
        }
    }
    for (std::uint64_t base = first; base < last; base += kBlock) {
        for (unsigned k = kBlockBits; k < n; ++k) {
            const __m256d v = ((base >> k) & 1) ? _mm256_castsi256_pd(_mm256_set1_epi64x(-1)) : _mm256_setzero_pd();
            for (unsigned g = 0; g < kGroups; ++g) x[k * kGroups + g] = v;
        }
        __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
        for (std::size_t t = 0; t < n_terms; ++t) {
            const __m256d* xi = reinterpret_cast<const __m256d*>(&x[terms[t].i * kGroups]);
            const __m256d* xj = reinterpret_cast<const __m256d*>(&x[terms[t].j * kGroups]);
            const __m256d w = _mm256_broadcast_sd(&terms[t].w);
            a0 = _mm256_add_pd(a0, _mm256_and_pd(_mm256_and_pd(xi[0], xj[0]), w));
            a1 = _mm256_add_pd(a1, _mm256_and_pd(_mm256_and_pd(xi[1], xj[1]), w));
            a2 = _mm256_add_pd(a2, _mm256_and_pd(_mm256_and_pd(xi[2], xj[2]), w));
            a3 = _mm256_add_pd(a3, _mm256_and_pd(_mm256_and_pd(xi[3], xj[3]), w));
            a4 = _mm256_add_pd(a4, _mm256_and_pd(_mm256_and_pd(xi[4], xj[4]), w));
            a5 = _mm256_add_pd(a5, _mm256_and_pd(_mm256_and_pd(xi[5], xj[5]), w));
            a6 = _mm256_add_pd(a6, _mm256_and_pd(_mm256_and_pd(xi[6], xj[6]), w));
            a7 = _mm256_add_pd(a7, _mm256_and_pd(_mm256_and_pd(xi[7], xj[7]), w));
        }
        double* o = out + (base - first);
        _mm256_storeu_pd(o, a0);
        _mm256_storeu_pd(o + 4, a1);
        _mm256_storeu_pd(o + 8, a2);
        _mm256_storeu_pd(o + 12, a3);
        _mm256_storeu_pd(o + 16, a4);
        _mm256_storeu_pd(o + 20, a5);
        _mm256_storeu_pd(o + 24, a6);
        _mm256_storeu_pd(o + 28, a7);
    }
}

// The same finite-weight evaluation with AVX-512: 64 assignments a block, a
// lane mask per variable, and a masked add that leaves the lanes where
// x_i x_j = 0 as they are.
__attribute__((target("avx512f"))) void evaluate_blocks_finite_avx512(const Term* terms, std::size_t n_terms,
                                                                     unsigned n, std::uint64_t first,
                                                                     std::uint64_t last, double* out) {
    constexpr unsigned kBits = 6;
    __mmask8 m[kMaxExhaustiveVars][8];
    for (unsigned k = 0; k < n && k < kBits; ++k) {
        for (unsigned g = 0; g < 8; ++g) {
            unsigned mask = 0;
            for (unsigned l = 0; l < 8; ++l) mask |= (((g * 8 + l) >> k) & 1u) << l;
            m[k][g] = static_cast<__mmask8>(mask);
        }
    }
    for (std::uint64_t base = first; base < last; base += 64) {
        for (unsigned k = kBits; k < n; ++k) {
            const __mmask8 v = ((base >> k) & 1) ? 0xFF : 0x00;
            for (unsigned g = 0; g < 8; ++g) m[k][g] = v;
        }
        __m512d a0 = _mm512_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
        for (std::size_t t = 0; t < n_terms; ++t) {
            const __mmask8* mi = m[terms[t].i];
            const __mmask8* mj = m[terms[t].j];
            const __m512d w = _mm512_set1_pd(terms[t].w);
            a0 = _mm512_mask_add_pd(a0, mi[0] & mj[0], a0, w);
            a1 = _mm512_mask_add_pd(a1, mi[1] & mj[1], a1, w);
            a2 = _mm512_mask_add_pd(a2, mi[2] & mj[2], a2, w);
            a3 = _mm512_mask_add_pd(a3, mi[3] & mj[3], a3, w);
            a4 = _mm512_mask_add_pd(a4, mi[4] & mj[4], a4, w);
            a5 = _mm512_mask_add_pd(a5, mi[5] & mj[5], a5, w);
            a6 = _mm512_mask_add_pd(a6, mi[6] & mj[6], a6, w);
            a7 = _mm512_mask_add_pd(a7, mi[7] & mj[7], a7, w);
        }
        double* o = out + (base - first);
        _mm512_storeu_pd(o, a0);
        _mm512_storeu_pd(o + 8, a1);
        _mm512_storeu_pd(o + 16, a2);
        _mm512_storeu_pd(o + 24, a3);
        _mm512_storeu_pd(o + 32, a4);
        _mm512_storeu_pd(o + 40, a5);
        _mm512_storeu_pd(o + 48, a6);
        _mm512_storeu_pd(o + 56, a7);
    }
}

// Keys of n energies and the first smallest energy among them, eight lanes
// at a time: the same keys as key_of, and the same winner as the sequential
// "best > e" scan (the lane minimum skips NaN; the first index holding the
// minimum is the one the scan would have kept).
__attribute__((target("avx512f,avx512dq"))) void keys_and_best_avx512(const double* energy, std::size_t n,
                                                                     std::int64_t* keys, double& best,
                                                                     std::uint64_t& best_index,
                                                                     std::uint64_t first) {
    const __m512d scale = _mm512_set1_pd(1e9);
    const __m512d half = _mm512_set1_pd(0.5);
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d two63 = _mm512_set1_pd(9223372036854775808.0);
    const __m512d minus_two63 = _mm512_set1_pd(-9223372036854775808.0);
    const __m512i sign = _mm512_set1_epi64(std::numeric_limits<std::int64_t>::min());
    __m512d low = _mm512_set1_pd(std::numeric_limits<double>::infinity());
    for (std::size_t v = 0; v < n; v += 8) {
        const __m512d e = _mm512_loadu_pd(energy + v);
        low = _mm512_min_pd(e, low);  // a NaN lane keeps the running minimum
        const __m512d s = _mm512_mul_pd(e, scale);
        __m512d t = _mm512_roundscale_pd(s, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m512d frac = _mm512_abs_pd(_mm512_sub_pd(s, t));
        const __mmask8 up = _mm512_cmp_pd_mask(frac, half, _CMP_GE_OQ);
        const __m512d step = _mm512_castsi512_pd(
            _mm512_or_epi64(_mm512_castpd_si512(one), _mm512_and_epi64(_mm512_castpd_si512(s), sign)));
        t = _mm512_mask_add_pd(t, up, t, step);
        __m512i k = _mm512_cvttpd_epi64(t);
        k = _mm512_mask_mov_epi64(k, _mm512_cmp_pd_mask(t, two63, _CMP_GE_OQ),
                                  _mm512_set1_epi64(std::numeric_limits<std::int64_t>::max()));
        k = _mm512_mask_mov_epi64(k, _mm512_cmp_pd_mask(t, minus_two63, _CMP_LT_OQ),
                                  _mm512_set1_epi64(std::numeric_limits<std::int64_t>::min()));
        k = _mm512_mask_mov_epi64(k, _mm512_cmp_pd_mask(s, s, _CMP_UNORD_Q), _mm512_setzero_si512());
        _mm512_storeu_si512(keys + v, k);
    }
    const double m = _mm512_reduce_min_pd(low);
    if (best > m) {
        for (std::size_t v = 0; v < n; ++v) {
            if (energy[v] == m) {
                best = energy[v];
                best_index = first + v;
                break;
            }
        }
    }
}

__attribute__((target_clones("avx2", "default"))) void compute_keys(const double* energy, std::size_t n,
                                                                    std::int64_t* keys) {
    for (std::size_t v = 0; v < n; ++v) keys[v] = key_of(energy[v]);
}

// LSD radix sort of n unsigned values below 2^bits over 8-bit digits,
// ping-ponging between a and b; the sorted values end in a.
void lsd_sort(std::uint64_t* a, std::uint64_t* b, std::size_t n, unsigned bits) {
    if (n < 48) {
        std::sort(a, a + n);
        return;
    }
    std::uint64_t* from = a;
    std::uint64_t* to = b;
    for (unsigned shift = 0; shift < bits; shift += 8) {
        std::size_t count[256] = {};
        for (std::size_t k = 0; k < n; ++k) ++count[(from[k] >> shift) & 0xFF];
        std::size_t sum = 0;
        for (std::size_t& c : count) {
            std::size_t here = c;
            c = sum;
            sum += here;
        }
        for (std::size_t k = 0; k < n; ++k) to[count[(from[k] >> shift) & 0xFF]++] = from[k];
        std::swap(from, to);
    }
    if (from != a) std::memcpy(a, from, n * sizeof *a);
}

// Sorts signed keys ascending. The keys become offsets from the smallest
// key; one pass splits them by their top 10 bits into buckets small enough
// to stay in cache, and each bucket is radix-sorted on its remaining bits.
// `scratch` holds at least n values.
void sort_keys(std::int64_t* keys, std::size_t n, std::uint64_t* scratch) {
    if (n < 2) return;
    std::int64_t lo = keys[0], hi = keys[0];
    for (std::size_t k = 1; k < n; ++k) {
        lo = std::min(lo, keys[k]);
        hi = std::max(hi, keys[k]);
    }
    const std::uint64_t range = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    if (range == 0) return;
    const unsigned bits = 64 - static_cast<unsigned>(__builtin_clzll(range));
    auto* a = reinterpret_cast<std::uint64_t*>(keys);
    const std::uint64_t offset = static_cast<std::uint64_t>(lo);
    for (std::size_t k = 0; k < n; ++k) a[k] -= offset;
    constexpr unsigned kTopBits = 10;
    if (bits <= kTopBits + 8) {
        lsd_sort(a, scratch, n, bits);
    } else {
        const unsigned shift = bits - kTopBits;
        std::vector<std::size_t> start((std::size_t{1} << kTopBits) + 1, 0);
        for (std::size_t k = 0; k < n; ++k) ++start[(a[k] >> shift) + 1];
        for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < n; ++k) scratch[next[a[k] >> shift]++] = a[k];
        for (std::size_t d = 0; d + 1 < start.size(); ++d) {
            std::size_t s0 = start[d], s1 = start[d + 1];
            lsd_sort(scratch + s0, a + s0, s1 - s0, shift);
        }
        std::memcpy(a, scratch, n * sizeof *a);
    }
    for (std::size_t k = 0; k < n; ++k) a[k] += offset;
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
    // Assignments are evaluated a chunk at a time (small enough to stay in
    // cache, and short enough to notice an interrupt quickly); each chunk's
    // energies are folded into the best so far and turned into keys at once.
    const std::uint64_t chunk = std::min<std::uint64_t>(total, std::uint64_t{1} << 14);
    std::vector<double> energy(chunk);
    LargeBuffer<std::int64_t> keys(total);
    // Strictly greater: ties keep the smallest assignment number, NaN never wins.
    double best = std::numeric_limits<double>::infinity();
    std::uint64_t best_v = 0;
    const bool wide_keys = chunk % 8 == 0 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    auto consume = [&](std::uint64_t first) {
        if (wide_keys) {
            keys_and_best_avx512(energy.data(), chunk, keys.data() + first, best, best_v, first);
            return;
        }
        for (std::uint64_t v = 0; v < chunk; ++v) {
            if (best > energy[v]) {
                best = energy[v];
                best_v = first + v;
            }
        }
        compute_keys(energy.data(), chunk, keys.data() + first);
    };
    if (n >= kBlockBits) {
        std::vector<Term> packed(terms.size());
        for (std::size_t t = 0; t < terms.size(); ++t) {
            packed[t] = {static_cast<std::uint32_t>(terms[t].i), static_cast<std::uint32_t>(terms[t].j), terms[t].w};
        }
        bool finite = true;
        for (const Term& t : packed) finite = finite && std::isfinite(t.w);
        const bool avx512 = finite && n >= 6 && __builtin_cpu_supports("avx512f");
        const bool avx2 = finite && __builtin_cpu_supports("avx2");
        for (std::uint64_t first = 0; first < total; first += chunk) {
            poll_interrupt();
            const std::uint64_t last = first + chunk;
            if (avx512) {
                evaluate_blocks_finite_avx512(packed.data(), packed.size(), n, first, last, energy.data());
            } else if (avx2) {
                evaluate_blocks_finite_avx2(packed.data(), packed.size(), n, first, last, energy.data());
            } else {
                evaluate_blocks(packed.data(), packed.size(), n, 0.0, first, last, energy.data());
            }
            consume(first);
        }
    } else {
        std::uint8_t bits[kBlockBits] = {};
        for (std::uint64_t v = 0; v < total; ++v) {
            for (unsigned k = 0; k < n; ++k) bits[k] = (v >> k) & 1;
            energy[v] = qubo_energy(terms, bits, 0.0);
        }
        consume(0);
    }
    energy = {};
    std::size_t distinct;
    {
        LargeBuffer<std::uint64_t> scratch(total);
        sort_keys(keys.data(), keys.size(), scratch.data());
        distinct = static_cast<std::size_t>(std::unique(keys.data(), keys.data() + total) - keys.data());
    }

    result.best_assignment.resize(n);
    for (unsigned k = 0; k < n; ++k) result.best_assignment[k] = (best_v >> k) & 1;
    result.best_energy = best;
    result.energies.resize(distinct);
    for (std::size_t k = 0; k < distinct; ++k) result.energies[k] = static_cast<double>(keys[k]) / 1e9;
    return result;
}

// ---------------------------------------------------------------------------
// Spin enumeration shared by the Ising norm and the exact solver.

namespace {

// One term of a spin sum contributes (w * s_a) * s_b, which is the same
// product as (s_a * w) * s_b: the QUBO block evaluation with spins -1 / +1 in
// place of bits. A linear term pairs its site with the constant site n.
using SpinTerm = Term;

// Calls visit(first_configuration, energies, count) for consecutive chunks of
// the 2^n configurations, in increasing configuration order.
template <class Visit>
void enumerate_spins(const std::vector<SpinTerm>& terms, unsigned n, Visit&& visit) {
    const std::uint64_t total = std::uint64_t{1} << n;
    constexpr std::uint64_t kChunkBlocks = 128;
    std::vector<double> energy(kChunkBlocks * kBlock);
    // Fewer than a block of configurations: one block is evaluated and its
    // first `total` lanes are the configurations that exist.
    const std::uint64_t n_blocks = (total + kBlock - 1) / kBlock;
    for (std::uint64_t first = 0; first < n_blocks; first += kChunkBlocks) {
        const std::uint64_t count = std::min(kChunkBlocks, n_blocks - first);
        poll_interrupt();
        evaluate_blocks(terms.data(), terms.size(), n, -1.0, first * kBlock, (first + count) * kBlock, energy.data());
        visit(first * kBlock, energy.data(), std::min(count * kBlock, total - first * kBlock));
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
