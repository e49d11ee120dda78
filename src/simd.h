// The instruction-set layer of the kernels. No Python here.
//
// Everything that depends on the processor architecture or on the compiler's
// vector support lives in this header and simd.cpp: the choice of the
// instruction set at import, the target attributes that compile one kernel
// body for several instruction sets, and a small set of fixed-width vector
// operations. Kernels are written once over `Vec<W>` (W doubles) and compiled
// as a generic variant and, on x86-64 with GCC or Clang, as AVX2 and AVX-512
// variants; every variant performs each lane's arithmetic exactly as the
// scalar code would (no fused multiply-add, no reassociation), so they all
// give the same bits.
//
// Vector types: GCC and Clang (clang-cl included) use their generic vector
// extensions, which compile to whatever the enclosing function's target
// offers (SSE2 or NEON in the generic variant). Other compilers, or a build
// with TALVO_SIMD_PLAIN defined, get plain structs whose operations loop over
// the lanes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#if !defined(TALVO_SIMD_PLAIN) && (defined(__GNUC__) || defined(__clang__))
#define TALVO_VECTOR_EXT 1
#else
#define TALVO_VECTOR_EXT 0
#endif

// Variants for wider instruction sets exist on x86-64 with a compiler that
// takes per-function target attributes.
#if TALVO_VECTOR_EXT && (defined(__x86_64__) || defined(_M_X64))
#define TALVO_SIMD_X86 1
#define TALVO_TARGET_AVX2 __attribute__((target("avx2,popcnt,bmi,bmi2")))
#define TALVO_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx2,popcnt,bmi,bmi2")))
#else
#define TALVO_SIMD_X86 0
#endif

// Kernel bodies are always inlined into the variant that calls them, so
// they are compiled for that variant's instruction set: a helper left out of
// line would be shared by all variants and compiled for the generic one.
// TALVO_LAMBDA_INLINE goes after a lambda's parameter list.
#if defined(__GNUC__) || defined(__clang__)
#define TALVO_INLINE inline __attribute__((always_inline))
#define TALVO_LAMBDA_INLINE __attribute__((always_inline))
#elif defined(_MSC_VER)
#define TALVO_INLINE __forceinline
#define TALVO_LAMBDA_INLINE
#else
#define TALVO_INLINE inline
#define TALVO_LAMBDA_INLINE
#endif

// Before a loop over a kernel's accumulators: unrolled, they stay in registers.
#if defined(__clang__)
#define TALVO_UNROLL _Pragma("unroll")
#elif defined(__GNUC__)
#define TALVO_UNROLL _Pragma("GCC unroll 16")
#else
#define TALVO_UNROLL
#endif

namespace talvo::simd {

// ---------------------------------------------------------------------------
// Instruction sets and the choice made at import.

enum class Level : int { Generic = 0, Avx2 = 1, Avx512 = 2 };

namespace detail {
inline Level active_level = Level::Generic;
}

// The instruction set the kernels use: the best this build and processor
// offer, or the one TALVO_CORE_SIMD asked for.
inline Level active() { return detail::active_level; }

const char* name(Level level);

// The best instruction set this build can use on this processor (the
// processor's and the operating system's support both count).
Level best_available();

// Sets the active instruction set from the value of TALVO_CORE_SIMD (null or
// empty: the best available). Returns "" on success, else the reason the
// value cannot be used; the active level is then unchanged.
std::string select(const char* value);

// ---------------------------------------------------------------------------
// Vectors of W doubles, and 64-bit lane masks stored in the same type (all
// bits set or all clear).

#if TALVO_VECTOR_EXT

template <unsigned W>
struct VecTypes;
template <>
struct VecTypes<2> {
    typedef double F __attribute__((vector_size(16)));
    typedef long long I __attribute__((vector_size(16)));
    typedef unsigned long long U __attribute__((vector_size(16)));
};
template <>
struct VecTypes<4> {
    typedef double F __attribute__((vector_size(32)));
    typedef long long I __attribute__((vector_size(32)));
    typedef unsigned long long U __attribute__((vector_size(32)));
};
template <>
struct VecTypes<8> {
    typedef double F __attribute__((vector_size(64)));
    typedef long long I __attribute__((vector_size(64)));
    typedef unsigned long long U __attribute__((vector_size(64)));
};

template <unsigned W>
using Vec = typename VecTypes<W>::F;
template <unsigned W>
using Ints = typename VecTypes<W>::I;

// Every lane x, bit for bit (also -0.0 and NaN patterns used as masks).
template <unsigned W>
TALVO_INLINE Vec<W> splat(double x) {
    Vec<W> v;
    for (unsigned k = 0; k < W; ++k) v[k] = x;
    return v;
}
template <unsigned W>
TALVO_INLINE Vec<W> load(const double* p) {
    Vec<W> v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <unsigned W>
TALVO_INLINE void store(double* p, Vec<W> v) {
    std::memcpy(p, &v, sizeof v);
}
template <unsigned W>
TALVO_INLINE Vec<W> bit_and(Vec<W> a, Vec<W> b) {
    return (Vec<W>)((Ints<W>)a & (Ints<W>)b);
}
template <unsigned W>
TALVO_INLINE Vec<W> bit_or(Vec<W> a, Vec<W> b) {
    return (Vec<W>)((Ints<W>)a | (Ints<W>)b);
}
template <unsigned W>
TALVO_INLINE Vec<W> bit_xor(Vec<W> a, Vec<W> b) {
    return (Vec<W>)((Ints<W>)a ^ (Ints<W>)b);
}
// Lane masks of a < b (false where either is NaN).
template <unsigned W>
TALVO_INLINE Vec<W> less(Vec<W> a, Vec<W> b) {
    return (Vec<W>)(Ints<W>)(a < b);
}
// mask ? a : b, lane by lane.
template <unsigned W>
TALVO_INLINE Vec<W> select(Vec<W> mask, Vec<W> a, Vec<W> b) {
    Ints<W> m = (Ints<W>)mask;
    return (Vec<W>)((m & (Ints<W>)a) | (~m & (Ints<W>)b));
}
template <unsigned W>
TALVO_INLINE double lane(Vec<W> v, unsigned k) {
    return v[k];
}

// Rounds each lane half away from zero (as round() does) and writes the
// results as 64-bit integers to out[0 .. W). Exact for magnitudes below
// 2^51; returns a lane mask of the lanes within that range (NaN is not), the
// others are left for the caller to redo.
template <unsigned W>
TALVO_INLINE Vec<W> round_half_away(Vec<W> s, std::int64_t* out) {
    using I = Ints<W>;
    const Vec<W> a = (Vec<W>)((I)s & (I{} + 0x7FFFFFFFFFFFFFFFLL));
    const Vec<W> in_range = (Vec<W>)(I)(a < splat<W>(0x1p51));
    const Vec<W> big = splat<W>(0x1p52), one = splat<W>(1.0);
    Vec<W> t = (a + big) - big;                                // nearest integer, ties to even
    t = t - (Vec<W>)((I)(t > a) & (I)one);                     // floor(a)
    t = t + (Vec<W>)((I)(a - t >= splat<W>(0.5)) & (I)one);    // halves away from zero
    const I magnitude = (I)(t + big) - (I)big;                  // the integer in the mantissa
    const I negative = (I)(s < splat<W>(0.0));
    const I key = (magnitude ^ negative) - negative;
    std::memcpy(out, &key, sizeof key);
    return in_range;
}

// True when every lane of a lane mask is set.
template <unsigned W>
TALVO_INLINE bool all_lanes(Vec<W> mask) {
    const Ints<W> m = (Ints<W>)mask;
    long long all = -1;
    for (unsigned k = 0; k < W; ++k) all &= m[k];
    return all == -1;
}

// Four lanes picked from x (indices 0-3) and y (indices 4-7), as one
// permutation: the form for targets whose registers hold four doubles.
template <int A, int B, int C, int D>
TALVO_INLINE Vec<4> shuffle(Vec<4> x, Vec<4> y) {
#if defined(__clang__) || __GNUC__ >= 12
    return __builtin_shufflevector(x, y, A, B, C, D);
#else
    return __builtin_shuffle(x, y, Ints<4>{A, B, C, D});
#endif
}

// The same lanes written as a construction from single lanes: the form for
// 2-lane targets, where compilers split it into 2-lane moves (a 4-lane
// permutation there goes through memory).
template <int A, int B, int C, int D>
TALVO_INLINE Vec<4> shuffle_by_lanes(Vec<4> x, Vec<4> y) {
    const auto pick = [&](int k) { return k < 4 ? x[k] : y[k - 4]; };
    return Vec<4>{pick(A), pick(B), pick(C), pick(D)};
}

#else  // plain structs

template <unsigned W>
struct Vec {
    double v[W];
    double operator[](unsigned k) const { return v[k]; }
    double& operator[](unsigned k) { return v[k]; }
};

#define TALVO_PLAIN_OP(op)                                                  \
    template <unsigned W>                                                   \
    TALVO_INLINE Vec<W> operator op(Vec<W> a, Vec<W> b) {                   \
        Vec<W> r;                                                           \
        for (unsigned k = 0; k < W; ++k) r.v[k] = a.v[k] op b.v[k];         \
        return r;                                                           \
    }                                                                       \
    template <unsigned W>                                                   \
    TALVO_INLINE Vec<W> operator op(Vec<W> a, double b) {                   \
        Vec<W> r;                                                           \
        for (unsigned k = 0; k < W; ++k) r.v[k] = a.v[k] op b;              \
        return r;                                                           \
    }                                                                       \
    template <unsigned W>                                                   \
    TALVO_INLINE Vec<W>& operator op##=(Vec<W>& a, Vec<W> b) {              \
        for (unsigned k = 0; k < W; ++k) a.v[k] = a.v[k] op b.v[k];         \
        return a;                                                           \
    }
TALVO_PLAIN_OP(+)
TALVO_PLAIN_OP(-)
TALVO_PLAIN_OP(*)
#undef TALVO_PLAIN_OP

template <unsigned W>
TALVO_INLINE Vec<W> splat(double x) {
    Vec<W> r;
    for (unsigned k = 0; k < W; ++k) r.v[k] = x;
    return r;
}
template <unsigned W>
TALVO_INLINE Vec<W> load(const double* p) {
    Vec<W> v;
    std::memcpy(v.v, p, sizeof v.v);
    return v;
}
template <unsigned W>
TALVO_INLINE void store(double* p, Vec<W> v) {
    std::memcpy(p, v.v, sizeof v.v);
}

namespace detail {
inline std::uint64_t bits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}
inline double from_bits(std::uint64_t u) {
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}
}  // namespace detail

#define TALVO_PLAIN_BITOP(name, op)                                                                   \
    template <unsigned W>                                                                             \
    TALVO_INLINE Vec<W> name(Vec<W> a, Vec<W> b) {                                                    \
        Vec<W> r;                                                                                     \
        for (unsigned k = 0; k < W; ++k) r.v[k] = detail::from_bits(detail::bits(a.v[k]) op detail::bits(b.v[k])); \
        return r;                                                                                     \
    }
TALVO_PLAIN_BITOP(bit_and, &)
TALVO_PLAIN_BITOP(bit_or, |)
TALVO_PLAIN_BITOP(bit_xor, ^)
#undef TALVO_PLAIN_BITOP

template <unsigned W>
TALVO_INLINE Vec<W> less(Vec<W> a, Vec<W> b) {
    Vec<W> r;
    for (unsigned k = 0; k < W; ++k) r.v[k] = detail::from_bits(a.v[k] < b.v[k] ? ~std::uint64_t{0} : 0);
    return r;
}
template <unsigned W>
TALVO_INLINE Vec<W> select(Vec<W> mask, Vec<W> a, Vec<W> b) {
    Vec<W> r;
    for (unsigned k = 0; k < W; ++k) r.v[k] = detail::bits(mask.v[k]) ? a.v[k] : b.v[k];
    return r;
}
template <unsigned W>
TALVO_INLINE double lane(Vec<W> v, unsigned k) {
    return v.v[k];
}

template <unsigned W>
TALVO_INLINE Vec<W> round_half_away(Vec<W> s, std::int64_t* out) {
    Vec<W> in_range;
    for (unsigned k = 0; k < W; ++k) {
        const double a = s.v[k] < 0 ? -s.v[k] : s.v[k];
        const bool ok = a < 0x1p51;
        in_range.v[k] = detail::from_bits(ok ? ~std::uint64_t{0} : 0);
        if (!ok) continue;
        double t = static_cast<double>(static_cast<std::int64_t>(a));  // floor(a) in this range
        if (a - t >= 0.5) t += 1.0;
        const std::int64_t m = static_cast<std::int64_t>(t);
        out[k] = s.v[k] < 0 ? -m : m;
    }
    return in_range;
}
template <unsigned W>
TALVO_INLINE bool all_lanes(Vec<W> mask) {
    for (unsigned k = 0; k < W; ++k) {
        if (!detail::bits(mask.v[k])) return false;
    }
    return true;
}

template <int A, int B, int C, int D>
TALVO_INLINE Vec<4> shuffle(Vec<4> x, Vec<4> y) {
    const double all[8] = {x.v[0], x.v[1], x.v[2], x.v[3], y.v[0], y.v[1], y.v[2], y.v[3]};
    return Vec<4>{{all[A], all[B], all[C], all[D]}};
}
template <int A, int B, int C, int D>
TALVO_INLINE Vec<4> shuffle_by_lanes(Vec<4> x, Vec<4> y) {
    return shuffle<A, B, C, D>(x, y);
}

#endif

// out[k] = (the signed 64-bit integer values[k] + add) / divisor, for k < n,
// each quotient rounded once as a scalar division would. Every integer must
// be below 2^51 in magnitude: then adding it to the bits of 1.5 * 2^52 gives
// that double plus the integer exactly, and subtracting 1.5 * 2^52 again
// converts it without a scalar conversion, a vector at a time (four lanes
// where AVX2 is active, else two).
void divide_small_ints(const std::uint64_t* values, std::uint64_t add, std::size_t n, double divisor, double* out);

namespace detail {

template <unsigned W>
TALVO_INLINE void divide_small_ints_lanes(const std::uint64_t* values, std::uint64_t add, std::size_t n,
                                          double divisor, double* out) {
    constexpr std::uint64_t kMagic = 0x4338000000000000;  // the bits of 1.5 * 2^52
    std::size_t k = 0;
#if TALVO_VECTOR_EXT
    // Unsigned lanes: the sum wraps around as the scalar one does.
    using Words = typename VecTypes<W>::U;
    const Words offset = Words{} + (add + kMagic);
    const Vec<W> magic = splat<W>(0x1.8p52), d = splat<W>(divisor);
    for (; k + W <= n; k += W) {
        Words v;
        std::memcpy(&v, values + k, sizeof v);
        store<W>(out + k, ((Vec<W>)(v + offset) - magic) / d);
    }
#endif
    for (; k < n; ++k) {
        const std::uint64_t bits = values[k] + add + kMagic;
        double x;
        std::memcpy(&x, &bits, sizeof x);
        out[k] = (x - 0x1.8p52) / divisor;
    }
}

}  // namespace detail

// c[k] becomes c[0] + c[1] + ... + c[k] (modulo 2^16), for k < n: the slot
// starts of a counting sort. Eight counts at a time where vectors exist, so
// the carried sum is one add per eight counts instead of one per count.
TALVO_INLINE void running_sums(std::uint16_t* c, std::size_t n) {
    std::size_t k = 0;
    std::uint16_t run = 0;
#if TALVO_VECTOR_EXT
    typedef std::uint16_t Counts __attribute__((vector_size(16)));
#if defined(__clang__) || __GNUC__ >= 12
#define TALVO_SHIFT_IN(x, ...) __builtin_shufflevector(Counts{}, x, __VA_ARGS__)
#else
    typedef short Picks __attribute__((vector_size(16)));
#define TALVO_SHIFT_IN(x, ...) __builtin_shuffle(Counts{}, x, Picks{__VA_ARGS__})
#endif
    Counts carry = {};
    for (; k + 8 <= n; k += 8) {
        Counts x;
        std::memcpy(&x, c + k, sizeof x);
        // Lane l takes lane l - d shifted in (zeros below): after d = 1, 2, 4
        // every lane holds the sum of itself and the lanes before it.
        x += TALVO_SHIFT_IN(x, 7, 8, 9, 10, 11, 12, 13, 14);
        x += TALVO_SHIFT_IN(x, 6, 7, 8, 9, 10, 11, 12, 13);
        x += TALVO_SHIFT_IN(x, 4, 5, 6, 7, 8, 9, 10, 11);
        x += carry;
        std::memcpy(c + k, &x, sizeof x);
        carry = TALVO_SHIFT_IN(x, 15, 15, 15, 15, 15, 15, 15, 15);  // the last lane everywhere
    }
#undef TALVO_SHIFT_IN
    run = carry[0];
#endif
    for (; k < n; ++k) {
        run = static_cast<std::uint16_t>(run + c[k]);
        c[k] = run;
    }
}

}  // namespace talvo::simd
