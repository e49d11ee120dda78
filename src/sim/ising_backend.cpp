#include "sim/ising_backend.h"

#include "buffer.h"

#include "simd.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace talvo::sim {

namespace {

using simd::Vec;

// Assignments are evaluated a block at a time: kGroups accumulators of W
// lanes, so the independent sums overlap; each lane's own sum still adds the
// terms one by one in list order, exactly as the scalar loop does. Lane l of
// accumulator g holds assignment base + g * W + l.
constexpr unsigned kGroups = 8;
template <unsigned W>
constexpr unsigned kBlockBits = std::countr_zero(W * kGroups);

struct Term {
    std::uint32_t i, j;
    double w;
};

// How a term's contribution is formed in each lane.
enum class Mode {
    // (x_i * w) * x_j with x = 0.0 / 1.0: any weight.
    Multiply,
    // With every weight finite, a term whose x_i or x_j is 0 contributes a
    // zero, and adding a zero of either sign leaves the running sum as it is
    // (a sum that starts at +0.0 is never -0.0). So each lane adds w exactly
    // where x_i = x_j = 1: w masked by the lanes where both bits are set.
    MaskBits,
    // Spins: (w * s_i) * s_j is w with its sign flipped once for each spin
    // that is -1, for every weight (infinities included; a NaN stays a NaN).
    // The patterns hold the sign bit where the spin is -1.
    FlipSigns,
};

// Round half away from zero, like round(), without a library call.
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

inline double from_bits(std::uint64_t u) {
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

// Lane value of variable k where its bit is `bit`, in the form `mode` uses.
inline double lane_value(Mode mode, bool bit) {
    switch (mode) {
        case Mode::Multiply: return bit ? 1.0 : 0.0;
        case Mode::MaskBits: return from_bits(bit ? ~std::uint64_t{0} : 0);
        case Mode::FlipSigns: return from_bits(bit ? 0 : std::uint64_t{1} << 63);
    }
    return 0.0;
}

// Evaluates the assignments first .. last - 1 (multiples of the block) into
// out[0 .. last - first). x[k * kGroups + g] is variable k of accumulator g's
// lanes: the low kBlockBits variables follow the lane number and never
// change, the others are the same in every lane of a block. Variable n is
// the constant 1 (+1 for spins), so a term (i, n) contributes x_i * w
// exactly: the linear terms of a spin sum.
template <unsigned W, Mode M>
TALVO_INLINE void evaluate_impl(const Term* terms, std::size_t n_terms, unsigned n, std::uint64_t first,
                                std::uint64_t last, double* out) {
    constexpr unsigned kBits = kBlockBits<W>;
    using V = Vec<W>;
    V x[(kMaxExhaustiveVars + 1) * kGroups];
    for (unsigned k = 0; k < n && k < kBits; ++k) {
        for (unsigned g = 0; g < kGroups; ++g) {
            double lanes[W];
            for (unsigned l = 0; l < W; ++l) lanes[l] = lane_value(M, ((g * W + l) >> k) & 1);
            x[k * kGroups + g] = simd::load<W>(lanes);
        }
    }
    for (unsigned g = 0; g < kGroups; ++g) x[n * kGroups + g] = simd::splat<W>(lane_value(M, true));
    for (std::uint64_t base = first; base < last; base += W * kGroups) {
        for (unsigned k = kBits; k < n; ++k) {
            const V v = simd::splat<W>(lane_value(M, (base >> k) & 1));
            for (unsigned g = 0; g < kGroups; ++g) x[k * kGroups + g] = v;
        }
        V acc[kGroups];
        for (unsigned g = 0; g < kGroups; ++g) acc[g] = simd::splat<W>(0.0);
        for (std::size_t t = 0; t < n_terms; ++t) {
            const V* xi = &x[terms[t].i * kGroups];
            const V* xj = &x[terms[t].j * kGroups];
            const V w = simd::splat<W>(terms[t].w);
            for (unsigned g = 0; g < kGroups; ++g) {
                if constexpr (M == Mode::Multiply) {
                    acc[g] += (xi[g] * w) * xj[g];
                } else if constexpr (M == Mode::MaskBits) {
                    acc[g] += simd::bit_and<W>(simd::bit_and<W>(xi[g], xj[g]), w);
                } else {
                    acc[g] += simd::bit_xor<W>(simd::bit_xor<W>(xi[g], xj[g]), w);
                }
            }
        }
        for (unsigned g = 0; g < kGroups; ++g) simd::store<W>(out + (base - first) + g * W, acc[g]);
    }
}

template <unsigned W>
TALVO_INLINE void evaluate_variant(Mode mode, const Term* terms, std::size_t n_terms, unsigned n,
                                   std::uint64_t first, std::uint64_t last, double* out) {
    switch (mode) {
        case Mode::Multiply: evaluate_impl<W, Mode::Multiply>(terms, n_terms, n, first, last, out); break;
        case Mode::MaskBits: evaluate_impl<W, Mode::MaskBits>(terms, n_terms, n, first, last, out); break;
        case Mode::FlipSigns: evaluate_impl<W, Mode::FlipSigns>(terms, n_terms, n, first, last, out); break;
    }
}

TALVO_INLINE void keys_impl(const double* energy, std::size_t n, std::int64_t* keys) {
    for (std::size_t v = 0; v < n; ++v) keys[v] = key_of(energy[v]);
}

void evaluate_generic(Mode mode, const Term* terms, std::size_t n_terms, unsigned n, std::uint64_t first,
                      std::uint64_t last, double* out) {
    evaluate_variant<4>(mode, terms, n_terms, n, first, last, out);
}
void keys_generic(const double* energy, std::size_t n, std::int64_t* keys) { keys_impl(energy, n, keys); }

#if TALVO_SIMD_X86
TALVO_TARGET_AVX2 void evaluate_avx2(Mode mode, const Term* terms, std::size_t n_terms, unsigned n,
                                     std::uint64_t first, std::uint64_t last, double* out) {
    evaluate_variant<4>(mode, terms, n_terms, n, first, last, out);
}
TALVO_TARGET_AVX2 void keys_avx2(const double* energy, std::size_t n, std::int64_t* keys) {
    keys_impl(energy, n, keys);
}
TALVO_TARGET_AVX512 void evaluate_avx512(Mode mode, const Term* terms, std::size_t n_terms, unsigned n,
                                         std::uint64_t first, std::uint64_t last, double* out) {
    evaluate_variant<8>(mode, terms, n_terms, n, first, last, out);
}
TALVO_TARGET_AVX512 void keys_avx512(const double* energy, std::size_t n, std::int64_t* keys) {
    keys_impl(energy, n, keys);
}
#endif

// Assignments per block of the active instruction set.
std::uint64_t block_size() {
    return simd::active() == simd::Level::Avx512 ? 8 * kGroups : 4 * kGroups;
}

void evaluate_blocks(Mode mode, const Term* terms, std::size_t n_terms, unsigned n, std::uint64_t first,
                     std::uint64_t last, double* out) {
    switch (simd::active()) {
#if TALVO_SIMD_X86
        case simd::Level::Avx512: evaluate_avx512(mode, terms, n_terms, n, first, last, out); return;
        case simd::Level::Avx2: evaluate_avx2(mode, terms, n_terms, n, first, last, out); return;
#endif
        default: evaluate_generic(mode, terms, n_terms, n, first, last, out); return;
    }
}

void compute_keys(const double* energy, std::size_t n, std::int64_t* keys) {
    switch (simd::active()) {
#if TALVO_SIMD_X86
        case simd::Level::Avx512: keys_avx512(energy, n, keys); return;
        case simd::Level::Avx2: keys_avx2(energy, n, keys); return;
#endif
        default: keys_generic(energy, n, keys); return;
    }
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
    const unsigned bits = 64 - static_cast<unsigned>(std::countl_zero(range));
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
    // Fewer assignments than a block: one block is evaluated and its first
    // `total` lanes are the assignments that exist.
    const std::uint64_t block = block_size();
    const std::uint64_t chunk = std::max(block, std::min<std::uint64_t>(total, std::uint64_t{1} << 14));
    std::vector<double> energy(chunk);
    LargeBuffer<std::int64_t> keys(total);
    // Strictly greater: ties keep the smallest assignment number, NaN never wins.
    double best = std::numeric_limits<double>::infinity();
    std::uint64_t best_v = 0;
    std::vector<Term> packed(terms.size());
    bool finite = true;
    for (std::size_t t = 0; t < terms.size(); ++t) {
        packed[t] = {static_cast<std::uint32_t>(terms[t].i), static_cast<std::uint32_t>(terms[t].j), terms[t].w};
        finite = finite && std::isfinite(terms[t].w);
    }
    const Mode mode = finite ? Mode::MaskBits : Mode::Multiply;
    for (std::uint64_t first = 0; first < total; first += chunk) {
        poll_interrupt();
        const std::uint64_t count = std::min(chunk, total - first);
        evaluate_blocks(mode, packed.data(), packed.size(), n, first, first + chunk, energy.data());
        for (std::uint64_t v = 0; v < count; ++v) {
            if (best > energy[v]) {
                best = energy[v];
                best_v = first + v;
            }
        }
        compute_keys(energy.data(), count, keys.data() + first);
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
    const std::uint64_t block = block_size();
    constexpr std::uint64_t kChunkBlocks = 128;
    std::vector<double> energy(kChunkBlocks * block);
    // Fewer than a block of configurations: one block is evaluated and its
    // first `total` lanes are the configurations that exist.
    const std::uint64_t n_blocks = (total + block - 1) / block;
    for (std::uint64_t first = 0; first < n_blocks; first += kChunkBlocks) {
        const std::uint64_t count = std::min(kChunkBlocks, n_blocks - first);
        poll_interrupt();
        evaluate_blocks(Mode::FlipSigns, terms.data(), terms.size(), n, first * block, (first + count) * block,
                        energy.data());
        visit(first * block, energy.data(), std::min(count * block, total - first * block));
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
