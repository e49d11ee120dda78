// Processor feature detection and the choice of instruction set. No Python here.
#include "simd.h"

namespace talvo::simd {

namespace {

struct Known {
    const char* name;
    Level level;
};

constexpr Known kKnown[] = {{"generic", Level::Generic}, {"avx2", Level::Avx2}, {"avx512", Level::Avx512}};

#if TALVO_SIMD_X86

void cpuid(unsigned leaf, unsigned sub, unsigned r[4]) {
    __asm__ volatile("cpuid" : "=a"(r[0]), "=b"(r[1]), "=c"(r[2]), "=d"(r[3]) : "a"(leaf), "c"(sub));
}

// The register state the operating system saves on a context switch.
std::uint64_t xcr0() {
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (std::uint64_t{hi} << 32) | lo;
}

Level detect() {
    unsigned r[4];
    cpuid(0, 0, r);
    const unsigned max_leaf = r[0];
    if (max_leaf < 7) return Level::Generic;
    cpuid(1, 0, r);
    const bool osxsave = (r[2] >> 27) & 1, avx = (r[2] >> 28) & 1, popcnt = (r[2] >> 23) & 1;
    if (!osxsave || !avx || !popcnt) return Level::Generic;
    const std::uint64_t xcr = xcr0();
    if ((xcr & 0x6) != 0x6) return Level::Generic;  // SSE and AVX state
    cpuid(7, 0, r);
    const unsigned b = r[1];
    const bool bmi1 = (b >> 3) & 1, avx2 = (b >> 5) & 1, bmi2 = (b >> 8) & 1;
    const bool avx512f = (b >> 16) & 1, avx512dq = (b >> 17) & 1;
    if (!(avx2 && bmi1 && bmi2)) return Level::Generic;
    if (avx512f && avx512dq && (xcr & 0xE0) == 0xE0) return Level::Avx512;  // opmask and ZMM state
    return Level::Avx2;
}

#else

Level detect() { return Level::Generic; }

#endif

std::string offered() {
    std::string s;
    for (const Known& k : kKnown) {
        if (k.level > best_available()) break;
        if (!s.empty()) s += ", ";
        s += k.name;
    }
    return s;
}

}  // namespace

// GCOVR_EXCL_START: only the benchmark timers name the active set.
const char* name(Level level) {
    for (const Known& k : kKnown) {
        if (k.level == level) return k.name;
    }
    return "?";
}
// GCOVR_EXCL_STOP

Level best_available() {
    static const Level best = detect();
    return best;
}

std::string select(const char* value) {
    if (!value || !*value) {
        detail::active_level = best_available();
        return "";
    }
    const std::string v(value);
    for (const Known& k : kKnown) {
        if (v != k.name) continue;
        if (k.level > best_available()) {
            return "TALVO_CORE_SIMD='" + v + "' is not available on this machine, which offers " + offered();
        }
        detail::active_level = k.level;
        return "";
    }
    return "TALVO_CORE_SIMD='" + v + "' is not an instruction set: use generic, avx2 or avx512 (this machine offers " +
           offered() + ")";
}

#if TALVO_SIMD_X86
TALVO_TARGET_AVX2 static void divide_small_ints_avx2(const std::uint64_t* values, std::uint64_t add, std::size_t n,
                                                    double divisor, double* out) {
    detail::divide_small_ints_lanes<4>(values, add, n, divisor, out);
}
#endif

void divide_small_ints(const std::uint64_t* values, std::uint64_t add, std::size_t n, double divisor, double* out) {
#if TALVO_SIMD_X86
    if (active() != Level::Generic) return divide_small_ints_avx2(values, add, n, divisor, out);
#endif
    detail::divide_small_ints_lanes<2>(values, add, n, divisor, out);
}

}  // namespace talvo::simd
