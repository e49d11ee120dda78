#include "sim/ising.h"

#include "sim/key_sort.h"

#include "buffer.h"

#include "simd.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace talvo::sim {

namespace {

using simd::Vec;

// Assignments are evaluated a block at a time: kGroups accumulators of W
// lanes, so the independent sums overlap; each lane's own sum still adds the
// terms one by one in list order, exactly as the scalar loop does. Lane l of
// accumulator g holds assignment base + g * W + l, so the low variables of a
// block (its "lane variables") differ from lane to lane and every higher
// variable is the same in all lanes of the block.
constexpr unsigned kGroups = 8;

// A term over variables i and j; j == n (one past the last variable) stands
// for a constant 1 (+1 for spins), so (i, n) is the linear term x_i * w.
struct Term {
    std::uint32_t i, j;
    double w;
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

inline std::uint64_t bits_of(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The bit sets of the terms left on by each low part of a block number are
// tabled while they fit in this many words.
constexpr std::size_t kOnTableWords = std::size_t{1} << 14;

// A QUBO term list that switches between terms with and without lane
// variables at most this often gets a branch per term (see qubo_finite):
// each switch can cost a block a misprediction, against a few cycles saved
// per term without lane variables. Measured: a list in variable order (one
// switch) gains, with the linear terms first it has three; seven switches
// already lose.
constexpr std::size_t kFewKindChanges = 3;

// What a scan keeps of the energies, block by block. Each receives a whole
// block in registers (`block`) or, for the one partial block of a problem
// smaller than a block, its first `count` energies (`partial`).

// The first lowest energy: strictly lower replaces, so ties keep the smallest
// number and a NaN never wins.
template <unsigned W>
struct FirstMin {
    double best = kInf;
    std::uint64_t best_v = 0;

    TALVO_INLINE void block(const Vec<W>* e, std::uint64_t base) { take(block_min(e), e, base); }

    // The lowest energy of each lane position across the block's
    // accumulators (+inf where all are NaN).
    static TALVO_INLINE Vec<W> block_min(const Vec<W>* e) {
        Vec<W> m = simd::splat<W>(kInf);
        TALVO_UNROLL
        for (unsigned g = 0; g < kGroups; ++g) m = simd::select<W>(simd::less<W>(e[g], m), e[g], m);
        return m;
    }

    // The block's energies `e` and their block_min `m`.
    TALVO_INLINE void take(Vec<W> m, const Vec<W>* e, std::uint64_t base) {
        double low = kInf;
        for (unsigned l = 0; l < W; ++l) low = simd::lane<W>(m, l) < low ? simd::lane<W>(m, l) : low;
        if (!(low < best)) return;
        // This block holds a new best: the first lane equal to the block's
        // minimum is where the sequential scan would have stopped replacing.
        double lanes[W * kGroups];
        TALVO_UNROLL
        for (unsigned g = 0; g < kGroups; ++g) simd::store<W>(lanes + g * W, e[g]);
        for (unsigned k = 0; k < W * kGroups; ++k) {
            if (lanes[k] == low) {
                best = low;
                best_v = base + k;
                return;
            }
        }
    }
    void partial(const double* e, std::uint64_t base, std::uint64_t count) {
        for (std::uint64_t k = 0; k < count; ++k) {
            if (best > e[k]) {
                best = e[k];
                best_v = base + k;
            }
        }
    }
};

// The first lowest energy, every energy's key, and the smallest and largest
// key written. Blocks whose keys all come from the vector rounding keep their
// lowest and highest energies in two vectors (rounding is monotone, so their
// keys' range is that of those energies' keys); the others, keyed lane by
// lane, are compared key by key.
template <unsigned W>
struct KeysAndMin {
    std::int64_t* keys;
    FirstMin<W> min;
    Vec<W> low = simd::splat<W>(kInf), high = simd::splat<W>(-kInf);
    std::int64_t key_lo = std::numeric_limits<std::int64_t>::max();
    std::int64_t key_hi = std::numeric_limits<std::int64_t>::min();

    TALVO_INLINE void block(const Vec<W>* e, std::uint64_t base) {
        const Vec<W> m = FirstMin<W>::block_min(e);
        min.take(m, e, base);
        Vec<W> in_range = simd::splat<W>(from_bits(~std::uint64_t{0}));
        Vec<W> top = e[0];
        TALVO_UNROLL
        for (unsigned g = 0; g < kGroups; ++g) {
            const Vec<W> ok = simd::round_half_away<W>(e[g] * simd::splat<W>(1e9), keys + base + g * W);
            in_range = simd::bit_and<W>(in_range, ok);
            top = simd::select<W>(simd::less<W>(top, e[g]), e[g], top);
        }
        if (simd::all_lanes<W>(in_range)) {
            // No NaN here: m and top are the block's exact extremes.
            low = simd::select<W>(simd::less<W>(m, low), m, low);
            high = simd::select<W>(simd::less<W>(high, top), top, high);
            return;
        }
        // A NaN, an infinity or a huge energy: the exact rule, lane by lane.
        double lanes[W * kGroups];
        TALVO_UNROLL
        for (unsigned g = 0; g < kGroups; ++g) simd::store<W>(lanes + g * W, e[g]);
        for (unsigned k = 0; k < W * kGroups; ++k) keys[base + k] = key_of(lanes[k]);
        range_of(base, W * kGroups);
    }
    void partial(const double* e, std::uint64_t base, std::uint64_t count) {
        min.partial(e, base, count);
        for (std::uint64_t k = 0; k < count; ++k) keys[base + k] = key_of(e[k]);
        range_of(base, count);
    }
    void range_of(std::uint64_t base, std::uint64_t count) {
        for (std::uint64_t k = 0; k < count; ++k) {
            key_lo = std::min(key_lo, keys[base + k]);
            key_hi = std::max(key_hi, keys[base + k]);
        }
    }
    // Folds the vector blocks' extremes into key_lo and key_hi.
    void finish() {
        double lo = kInf, hi = -kInf;
        for (unsigned l = 0; l < W; ++l) {
            lo = std::min(lo, simd::lane<W>(low, l));
            hi = std::max(hi, simd::lane<W>(high, l));
        }
        if (lo != kInf) {  // some block was keyed by vectors (its energies are finite)
            key_lo = std::min(key_lo, key_of(lo));
            key_hi = std::max(key_hi, key_of(hi));
        }
    }
};

// The largest |E|, from 0.0; a NaN never counts.
template <unsigned W>
struct MaxAbs {
    Vec<W> m = simd::splat<W>(0.0);
    double best = 0.0;

    TALVO_INLINE void block(const Vec<W>* e, std::uint64_t) {
        const Vec<W> magnitude = simd::splat<W>(from_bits(~kSignBit));
        TALVO_UNROLL
        for (unsigned g = 0; g < kGroups; ++g) {
            const Vec<W> a = simd::bit_and<W>(e[g], magnitude);
            m = simd::select<W>(simd::less<W>(m, a), a, m);
        }
    }
    void partial(const double* e, std::uint64_t, std::uint64_t count) {
        for (std::uint64_t k = 0; k < count; ++k) {
            const double a = std::fabs(e[k]);
            if (a > best) best = a;
        }
    }
    double result() const {
        double r = best;
        for (unsigned l = 0; l < W; ++l) r = simd::lane<W>(m, l) > r ? simd::lane<W>(m, l) : r;
        return r;
    }
};

// Blocks between looks for an interrupt: about 16k assignments of up to 256
// terms; fewer blocks when each has more terms to add, so that a long term
// list is noticed as quickly.
template <unsigned W>
constexpr std::uint64_t kPollBlocks = (std::uint64_t{1} << 14) / (W * kGroups);

template <unsigned W>
constexpr std::uint64_t poll_stride(std::size_t n_terms) {
    return std::max<std::uint64_t>(1, kPollBlocks<W> * 256 / std::max<std::uint64_t>(n_terms, 256));
}

// The scans of one vector width.
template <unsigned W>
struct Scan {
    using V = Vec<W>;
    static constexpr unsigned kLanes = W * kGroups;
    static constexpr unsigned kBits = std::countr_zero(kLanes);  // lane variables of a block

    // Lane patterns, kGroups vectors each: pattern p, accumulator g is the
    // W doubles at table[p + g * W]. A pattern stands for a set of lane
    // variables. (Kept as doubles and read with unaligned loads: nothing here
    // depends on how an allocator aligns vector types.)
    struct Patterns {
        std::vector<double> table;
        int index[kLanes];  // pattern of each set of lane variables, -1 until made
        Patterns() {
            for (int& k : index) k = -1;
        }
        // And: lanes where every variable of `set` is 1 have all bits set.
        // Parity: lanes where an odd number of them is 0 (spin -1) have the
        // sign bit set.
        std::uint32_t get(unsigned set, bool parity) {
            if (index[set] < 0) {
                index[set] = static_cast<int>(table.size());
                for (unsigned lane = 0; lane < kLanes; ++lane) {
                    const bool on = parity ? std::popcount(~lane & set) % 2 == 1 : (lane & set) == set;
                    table.push_back(from_bits(on ? (parity ? kSignBit : ~std::uint64_t{0}) : 0));
                }
            }
            return static_cast<std::uint32_t>(index[set]);
        }
    };

    // Adds one term to a block: its weight to every accumulator when no lane
    // variable is among its variables (`uniform`), else the weight with the
    // lane pattern at p applied, masked (a QUBO term) or as sign flips (kSigns,
    // a spin term).
    template <bool kSigns>
    static TALVO_INLINE void add_term(V* acc, V weight, bool uniform, const double* p) {
        if (uniform) {
            TALVO_UNROLL
            for (unsigned g = 0; g < kGroups; ++g) acc[g] += weight;
            return;
        }
        TALVO_UNROLL
        for (unsigned g = 0; g < kGroups; ++g) {
            const V pattern = simd::load<W>(p + g * W);
            acc[g] += kSigns ? simd::bit_xor<W>(weight, pattern) : simd::bit_and<W>(weight, pattern);
        }
    }

    // Calls sink.block for every block of `count` assignments from 0 (whole
    // blocks, or one partial block when count is smaller); eval(base, acc)
    // fills the accumulators of the block starting at base, adding up to
    // n_terms terms.
    template <class Eval, class Sink>
    static TALVO_INLINE void blocks(std::uint64_t count, std::size_t n_terms, Eval&& eval, Sink& sink) {
        V acc[kGroups];
        if (count < kLanes) {
            eval(0, acc);
            double lanes[kLanes];
            TALVO_UNROLL
            for (unsigned g = 0; g < kGroups; ++g) simd::store<W>(lanes + g * W, acc[g]);
            sink.partial(lanes, 0, count);
            return;
        }
        const std::uint64_t stride = poll_stride<W>(n_terms);
        for (std::uint64_t base = 0, b = 0; base < count; base += kLanes, ++b) {
            if (b % stride == 0) poll_interrupt();
            eval(base, acc);
            sink.block(acc, base);
        }
    }

    // QUBO with finite weights. A term adds w to a lane exactly where both
    // its variables are 1 (adding the zero it contributes elsewhere leaves
    // the running sum as it is: a sum that starts at +0.0 is never -0.0). For
    // each block, the terms that are on somewhere in it (every variable of
    // the term above the lane variables is 1) form a bit set; only those are
    // added, in list order, each masked by the pattern of its lane variables.
    //
    // A term without lane variables ("uniform") adds its weight to every
    // lane: no pattern to load and mask. Telling the two kinds apart costs a
    // branch per term, which pays only where it is predictable, that is when
    // the list has the two kinds in a few long runs (as a list ordered by
    // variable does); otherwise every term is masked.
    template <class Sink>
    static TALVO_INLINE void qubo_finite(const Term* terms, std::size_t n_terms, unsigned n, Sink& sink) {
        if (kind_changes(terms, n_terms, n) <= kFewKindChanges) {
            qubo_finite_with<true>(terms, n_terms, n, sink);
        } else {
            qubo_finite_with<false>(terms, n_terms, n, sink);
        }
    }

    // Whether a term has no lane variable: it adds the same to every lane of
    // a block (with j == n the constant).
    static bool uniform(const Term& t, unsigned n) {
        return t.i >= kBits && (t.j >= kBits || t.j == n);
    }
    // How often the list switches between uniform terms and the others.
    static std::size_t kind_changes(const Term* terms, std::size_t n_terms, unsigned n) {
        std::size_t changes = 0;
        for (std::size_t t = 1; t < n_terms; ++t) changes += uniform(terms[t], n) != uniform(terms[t - 1], n);
        return changes;
    }

    template <bool Split, class Sink>
    static TALVO_INLINE void qubo_finite_with(const Term* terms, std::size_t n_terms, unsigned n, Sink& sink) {
        struct Entry {
            double w;
            std::uint32_t pattern;
            bool uniform;
        };
        Patterns patterns;
        std::vector<Entry> entries(n_terms);
        const std::size_t words = (n_terms + 63) / 64;
        // off[k]: the terms that stay off in a block where variable k is 0.
        std::vector<std::uint64_t> all(words, 0), off(std::size_t{n} * words, 0);
        for (std::size_t t = 0; t < n_terms; ++t) {
            const std::uint64_t need = (std::uint64_t{1} << terms[t].i) | (std::uint64_t{1} << terms[t].j);
            const unsigned lanes = static_cast<unsigned>(need & (kLanes - 1));
            entries[t] = {terms[t].w, patterns.get(lanes, false), uniform(terms[t], n)};
            all[t / 64] |= std::uint64_t{1} << (t % 64);
            for (unsigned k = kBits; k < n; ++k) {
                if ((need >> k) & 1) off[k * words + t / 64] |= std::uint64_t{1} << (t % 64);
            }
        }
        const double* table = patterns.table.data();

        // The block number splits into a low part of low_bits bits and a
        // high part: `low` holds the terms left on by each low part, made
        // once; `high` those left on by the current high part, made again
        // when it changes. A block's set is the two rows ANDed.
        const unsigned high_bits = n > kBits ? n - kBits : 0;
        unsigned low_bits = (high_bits + 1) / 2;
        while (low_bits > 0 && (std::size_t{1} << low_bits) * words > kOnTableWords) --low_bits;
        const std::uint64_t low_mask = (std::uint64_t{1} << low_bits) - 1;
        const auto left_on = [&](std::uint64_t* row, std::uint64_t zeros) {
            std::copy(all.begin(), all.end(), row);
            for (; zeros; zeros &= zeros - 1) {
                const std::uint64_t* o = off.data() + (kBits + static_cast<unsigned>(std::countr_zero(zeros))) * words;
                for (std::size_t w = 0; w < words; ++w) row[w] &= ~o[w];
            }
        };
        std::vector<std::uint64_t> low((std::size_t{1} << low_bits) * words), high(words);
        for (std::uint64_t x = 0; x <= low_mask; ++x) left_on(low.data() + x * words, ~x & low_mask);
        const std::uint64_t high_mask = ((std::uint64_t{1} << high_bits) - 1) & ~low_mask;
        blocks(std::uint64_t{1} << n, n_terms, [&](std::uint64_t base, V* acc) TALVO_LAMBDA_INLINE {
            const std::uint64_t b = base >> kBits;
            if ((b & low_mask) == 0) left_on(high.data(), ~b & high_mask);
            const std::uint64_t* row = low.data() + (b & low_mask) * words;
            TALVO_UNROLL
            for (unsigned g = 0; g < kGroups; ++g) acc[g] = simd::splat<W>(0.0);
            for (std::size_t w = 0; w < words; ++w) {
                for (std::uint64_t on = row[w] & high[w]; on; on &= on - 1) {
                    const Entry& e = entries[w * 64 + static_cast<unsigned>(std::countr_zero(on))];
                    add_term<false>(acc, simd::splat<W>(e.w), Split && e.uniform, table + e.pattern);
                }
            }
        }, sink);
    }

    // QUBO with an infinite or NaN weight: 0 * inf is NaN, so every term is
    // evaluated in every lane as (x_i * w) * x_j with x = 0.0 or 1.0.
    template <class Sink>
    static TALVO_INLINE void qubo_general(const Term* terms, std::size_t n_terms, unsigned n, Sink& sink) {
        // x[k * kLanes + lane]: variable k in each lane, 0.0 or 1.0.
        std::vector<double> x(std::size_t{n} * kLanes);
        for (unsigned k = 0; k < n && k < kBits; ++k) {
            for (unsigned lane = 0; lane < kLanes; ++lane) x[k * kLanes + lane] = (lane >> k) & 1 ? 1.0 : 0.0;
        }
        blocks(std::uint64_t{1} << n, n_terms, [&](std::uint64_t base, V* acc) TALVO_LAMBDA_INLINE {
            for (unsigned k = kBits; k < n; ++k) std::fill_n(&x[k * kLanes], kLanes, (base >> k) & 1 ? 1.0 : 0.0);
            TALVO_UNROLL
            for (unsigned g = 0; g < kGroups; ++g) acc[g] = simd::splat<W>(0.0);
            for (std::size_t t = 0; t < n_terms; ++t) {
                const double* xi = &x[terms[t].i * kLanes];
                const double* xj = &x[terms[t].j * kLanes];
                const V w = simd::splat<W>(terms[t].w);
                TALVO_UNROLL
                for (unsigned g = 0; g < kGroups; ++g) {
                    acc[g] += (simd::load<W>(xi + g * W) * w) * simd::load<W>(xj + g * W);
                }
            }
        }, sink);
    }

    // Spins: (w * s_i) * s_j is w with its sign flipped once for each spin
    // that is -1 (exact for every weight; a NaN stays a NaN). A term's lane
    // variables give a sign pattern; its other variables flip the weight
    // once per block. Only configurations below `count` are scanned.
    template <class Sink>
    static TALVO_INLINE void spins(const Term* terms, std::size_t n_terms, unsigned n, std::uint64_t count,
                                   Sink& sink) {
        constexpr unsigned kNone = 31;  // flip[kNone] is always 0
        struct Entry {
            std::uint64_t w;
            std::uint32_t pattern;
            std::uint8_t a, b;  // variables above the lane variables, or kNone
            bool uniform;
        };
        Patterns patterns;
        std::vector<Entry> entries(n_terms);
        for (std::size_t t = 0; t < n_terms; ++t) {
            // The variables whose spins flip the sign: i and j, unless they
            // are equal (s * s = 1) or j is the constant.
            std::uint64_t odd = std::uint64_t{1} << terms[t].i;
            if (terms[t].j < n) odd ^= std::uint64_t{1} << terms[t].j;
            Entry& e = entries[t];
            e.w = bits_of(terms[t].w);
            e.pattern = patterns.get(static_cast<unsigned>(odd & (kLanes - 1)), true);
            e.uniform = (odd & (kLanes - 1)) == 0;
            e.a = e.b = kNone;
            std::uint64_t above = odd & ~std::uint64_t{kLanes - 1};
            if (above) {
                e.a = static_cast<std::uint8_t>(std::countr_zero(above));
                above &= above - 1;
            }
            if (above) e.b = static_cast<std::uint8_t>(std::countr_zero(above));
        }
        const double* table = patterns.table.data();
        std::uint64_t flip[32] = {};
        blocks(count, n_terms, [&](std::uint64_t base, V* acc) TALVO_LAMBDA_INLINE {
            for (unsigned k = kBits; k < n; ++k) flip[k] = (base >> k) & 1 ? 0 : kSignBit;
            TALVO_UNROLL
            for (unsigned g = 0; g < kGroups; ++g) acc[g] = simd::splat<W>(0.0);
            for (std::size_t t = 0; t < n_terms; ++t) {
                const Entry& e = entries[t];
                add_term<true>(acc, simd::splat<W>(from_bits(e.w ^ flip[e.a] ^ flip[e.b])), e.uniform,
                               table + e.pattern);
            }
        }, sink);
    }

    static TALVO_INLINE void spectrum(const Term* terms, std::size_t n_terms, unsigned n, bool finite, std::int64_t* keys,
                                      double& best, std::uint64_t& best_v, std::int64_t& key_lo, std::int64_t& key_hi) {
        KeysAndMin<W> sink{keys, {}};
        if (finite) {
            qubo_finite(terms, n_terms, n, sink);
        } else {
            qubo_general(terms, n_terms, n, sink);
        }
        sink.finish();
        best = sink.min.best;
        best_v = sink.min.best_v;
        key_lo = sink.key_lo;
        key_hi = sink.key_hi;
    }

    static TALVO_INLINE void spin_min(const Term* terms, std::size_t n_terms, unsigned n, std::uint64_t count, double& best,
                         std::uint64_t& best_v) {
        FirstMin<W> sink;
        spins(terms, n_terms, n, count, sink);
        best = sink.best;
        best_v = sink.best_v;
    }

    static TALVO_INLINE double spin_max_abs(const Term* terms, std::size_t n_terms, unsigned n, std::uint64_t count) {
        MaxAbs<W> sink;
        spins(terms, n_terms, n, count, sink);
        return sink.result();
    }
};

// The variants, and the dispatch on the instruction set chosen at import.
// The generic variant uses 2-lane vectors, the width of the baseline vector
// registers (SSE2, NEON): wider ones would be split and spill.

void spectrum_generic(const Term* t, std::size_t c, unsigned n, bool f, std::int64_t* k, double& b,
                      std::uint64_t& v, std::int64_t& lo, std::int64_t& hi) {
    Scan<2>::spectrum(t, c, n, f, k, b, v, lo, hi);
}
void spin_min_generic(const Term* t, std::size_t c, unsigned n, std::uint64_t m, double& b, std::uint64_t& v) {
    Scan<2>::spin_min(t, c, n, m, b, v);
}
double spin_max_abs_generic(const Term* t, std::size_t c, unsigned n, std::uint64_t m) {
    return Scan<2>::spin_max_abs(t, c, n, m);
}

#if TALVO_SIMD_X86
// A test build (TALVO_SIMD_TEST_WIDE, never shipped) can run the 8-lane
// kernels of the AVX-512 variant under the AVX2 level, so that machines
// without AVX-512 can test them: it does when TALVO_SIMD_TEST_WIDE=1 is set in
// the environment, and otherwise runs the 4-lane kernels like any other build.
#ifdef TALVO_SIMD_TEST_WIDE
const bool kAvx2Wide = [] {
    const char* v = std::getenv("TALVO_SIMD_TEST_WIDE");
    return v != nullptr && std::strcmp(v, "1") == 0;
}();
#define TALVO_AVX2_SCAN(call) (kAvx2Wide ? Scan<8>::call : Scan<4>::call)
#else
#define TALVO_AVX2_SCAN(call) Scan<4>::call
#endif
TALVO_TARGET_AVX2 void spectrum_avx2(const Term* t, std::size_t c, unsigned n, bool f, std::int64_t* k, double& b,
                                     std::uint64_t& v, std::int64_t& lo, std::int64_t& hi) {
    TALVO_AVX2_SCAN(spectrum(t, c, n, f, k, b, v, lo, hi));
}
TALVO_TARGET_AVX2 void spin_min_avx2(const Term* t, std::size_t c, unsigned n, std::uint64_t m, double& b,
                                     std::uint64_t& v) {
    TALVO_AVX2_SCAN(spin_min(t, c, n, m, b, v));
}
TALVO_TARGET_AVX2 double spin_max_abs_avx2(const Term* t, std::size_t c, unsigned n, std::uint64_t m) {
    return TALVO_AVX2_SCAN(spin_max_abs(t, c, n, m));
}
#undef TALVO_AVX2_SCAN
// GCOVR_EXCL_START: entered only on processors with AVX-512, which the CI
// machine lacks; the 8-lane bodies they call run there through
// TALVO_SIMD_TEST_WIDE (scripts/check_wide_simd.sh).
TALVO_TARGET_AVX512 void spectrum_avx512(const Term* t, std::size_t c, unsigned n, bool f, std::int64_t* k,
                                         double& b, std::uint64_t& v, std::int64_t& lo, std::int64_t& hi) {
    Scan<8>::spectrum(t, c, n, f, k, b, v, lo, hi);
}
TALVO_TARGET_AVX512 void spin_min_avx512(const Term* t, std::size_t c, unsigned n, std::uint64_t m, double& b,
                                         std::uint64_t& v) {
    Scan<8>::spin_min(t, c, n, m, b, v);
}
TALVO_TARGET_AVX512 double spin_max_abs_avx512(const Term* t, std::size_t c, unsigned n, std::uint64_t m) {
    return Scan<8>::spin_max_abs(t, c, n, m);
}
// GCOVR_EXCL_STOP
#endif

void scan_spectrum(const std::vector<Term>& terms, unsigned n, bool finite, std::int64_t* keys, double& best,
                   std::uint64_t& best_v, std::int64_t& lo, std::int64_t& hi) {
    const Term* t = terms.data();
    const std::size_t c = terms.size();
    switch (simd::active()) {
#if TALVO_SIMD_X86
        case simd::Level::Avx512: return spectrum_avx512(t, c, n, finite, keys, best, best_v, lo, hi);  // GCOVR_EXCL_LINE: AVX-512 only
        case simd::Level::Avx2: return spectrum_avx2(t, c, n, finite, keys, best, best_v, lo, hi);
#endif
        default: return spectrum_generic(t, c, n, finite, keys, best, best_v, lo, hi);
    }
}

void scan_spin_min(const std::vector<Term>& terms, unsigned n, std::uint64_t count, double& best,
                   std::uint64_t& best_v) {
    switch (simd::active()) {
#if TALVO_SIMD_X86
        case simd::Level::Avx512: return spin_min_avx512(terms.data(), terms.size(), n, count, best, best_v);  // GCOVR_EXCL_LINE: AVX-512 only
        case simd::Level::Avx2: return spin_min_avx2(terms.data(), terms.size(), n, count, best, best_v);
#endif
        default: return spin_min_generic(terms.data(), terms.size(), n, count, best, best_v);
    }
}

double scan_spin_max_abs(const std::vector<Term>& terms, unsigned n, std::uint64_t count) {
    switch (simd::active()) {
#if TALVO_SIMD_X86
        case simd::Level::Avx512: return spin_max_abs_avx512(terms.data(), terms.size(), n, count);  // GCOVR_EXCL_LINE: AVX-512 only
        case simd::Level::Avx2: return spin_max_abs_avx2(terms.data(), terms.size(), n, count);
#endif
        default: return spin_max_abs_generic(terms.data(), terms.size(), n, count);
    }
}

// A spin sum is the same for a configuration and its complement when every
// term flips its sign an even number of times under a global flip (no
// linear terms): each contribution is then the same, in the same order. Of
// the two, the one with the top variable 0 comes first, so only those need
// scanning.
std::uint64_t spin_count(const std::vector<Term>& terms, unsigned n) {
    for (const Term& t : terms) {
        if (t.j == n) return std::uint64_t{1} << n;
    }
    return std::uint64_t{1} << (n - 1);
}

}  // namespace

namespace detail {

void spectrum_scan(const QuboTerms& terms, unsigned n, std::int64_t* keys, double& best, std::uint64_t& best_v,
                   std::int64_t& key_lo, std::int64_t& key_hi) {
    std::vector<Term> packed(terms.size());
    bool finite = true;
    for (std::size_t t = 0; t < terms.size(); ++t) {
        packed[t] = {static_cast<std::uint32_t>(terms[t].i), static_cast<std::uint32_t>(terms[t].j), terms[t].w};
        finite = finite && std::isfinite(terms[t].w);
    }
    scan_spectrum(packed, n, finite, keys, best, best_v, key_lo, key_hi);
}

std::size_t sort_energies(std::int64_t* keys, std::size_t count, std::int64_t lo, std::int64_t hi) {
    KeyBuffer scratch(count);
    return sort_unique_energies(keys, count, lo, hi, scratch.data());
}

}  // namespace detail

KeyBuffer::KeyBuffer(std::size_t count) {
    if (count < kSmallKeys) {
        small_.resize(count);
    } else {
        large_ = std::make_unique<LargeBuffer<std::int64_t>>(count);
    }
}

Spectrum qubo_energy_spectrum(const QuboTerms& terms, std::uint64_t n_vars) {
    if (n_vars > kMaxExhaustiveVars) throw SizeLimit("SizeViolation: qubo_energy_spectrum requires n_vars <= 20");
    if (n_vars == 0) {
        Spectrum result(1);
        result.best_energy = 0.0;
        const double zero = 0.0;
        std::memcpy(result.keys(), &zero, sizeof zero);
        return result;
    }
    check_qubo_indices(terms, n_vars);
    const unsigned n = static_cast<unsigned>(n_vars);
    Spectrum result(std::size_t{1} << n);
    std::uint64_t best_v = 0;
    std::int64_t key_lo = 0, key_hi = 0;
    detail::spectrum_scan(terms, n, result.keys(), result.best_energy, best_v, key_lo, key_hi);
    result.distinct = detail::sort_energies(result.keys(), std::size_t{1} << n, key_lo, key_hi);
    result.best_assignment.resize(n);
    for (unsigned k = 0; k < n; ++k) result.best_assignment[k] = (best_v >> k) & 1;
    return result;
}

double exact_ising_norm(const LinearTerms& dh, const QuboTerms& dj, std::uint64_t n_sites) {
    if (n_sites > kMaxExhaustiveVars) throw SizeLimit("SizeViolation: exact_ising_norm requires n_sites <= 20");
    if (n_sites == 0 || (dh.empty() && dj.empty())) return 0.0;
    // The first evaluated configuration meets every index: linear terms first,
    // then i before j within each coupling.
    for (const auto& [i, h] : dh) check_index(i, n_sites);
    check_qubo_indices(dj, n_sites);

    // dE adds s_i * h over dh, then (J * s_i) * s_j over dj, in list order:
    // a linear term pairs its site with the constant +1 of site n.
    const unsigned n = static_cast<unsigned>(n_sites);
    std::vector<Term> terms;
    terms.reserve(dh.size() + dj.size());
    for (const auto& [i, h] : dh) terms.push_back({static_cast<std::uint32_t>(i), n, h});
    for (const QuboTerm& t : dj) {
        terms.push_back({static_cast<std::uint32_t>(t.i), static_cast<std::uint32_t>(t.j), t.w});
    }
    return scan_spin_max_abs(terms, n, spin_count(terms, n));
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
    // nothing. A variable interacting with itself is a local field s_a * w
    // (paired with the constant +1 of position n); otherwise the contribution
    // s_b * (s_a * w) is the same product as (s_a * w) * s_b.
    const NameIndex index(graph.variables);
    std::vector<Term> terms;
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

    // Strictly lower replaces: ties keep the smallest configuration, NaN never wins.
    double best = 0.0;
    std::uint64_t best_c = 0;
    scan_spin_min(terms, n, spin_count(terms, n), best, best_c);
    for (unsigned k = 0; k < n; ++k) result[k] = ((best_c >> k) & 1) ? 1 : -1;
    return result;
}

}  // namespace talvo::sim
