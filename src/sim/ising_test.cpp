// The spectrum's evaluation pass on every instruction set this machine
// offers: each key against the energy summed term by term, and the key range
// it reports against a direct minimum and maximum of the keys. Problems below,
// at and above a block's size; term lists in random order and ordered by
// variable (the two ways the pass adds terms); weights that keep every key on
// the vector path, that send some blocks or all of them to the lane-by-lane
// rule (infinities, NaN, energies past 2^51 / 1e9), and all zero.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qubo.h"
#include "sim/ising.h"
#include "simd.h"
#include "testing/check.h"

using namespace talvo;
using namespace talvo::sim;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// round(E * 1e9), halves away from zero, saturated, NaN -> 0.
std::int64_t model_key(double e) {
    const double scaled = e * 1e9;
    if (std::isnan(scaled)) return 0;
    const double r = std::round(scaled);
    if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (r < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

void check_case(const QuboTerms& terms, unsigned n) {
    const std::size_t total = std::size_t{1} << n;
    std::vector<std::int64_t> keys(total, 12345);
    double best = 0.0;
    std::uint64_t best_v = 0;
    std::int64_t lo = 1, hi = -1;
    detail::spectrum_scan(terms, n, keys.data(), best, best_v, lo, hi);

    double model_best = kInf;
    std::uint64_t model_v = 0;
    std::vector<std::uint8_t> bits(n);
    for (std::size_t v = 0; v < total; ++v) {
        for (unsigned k = 0; k < n; ++k) bits[k] = (v >> k) & 1;
        const double e = qubo_energy(terms, bits.data(), 0.0);
        CHECK(keys[v] == model_key(e));
        if (model_best > e) {
            model_best = e;
            model_v = v;
        }
    }
    CHECK(std::memcmp(&best, &model_best, sizeof best) == 0);
    CHECK(best_v == model_v);
    CHECK(lo == *std::min_element(keys.begin(), keys.end()));
    CHECK(hi == *std::max_element(keys.begin(), keys.end()));
}

QuboTerms random_terms(std::mt19937_64& rng, unsigned n, std::size_t count, double scale) {
    QuboTerms terms(count);
    std::uniform_real_distribution<double> weight(-scale, scale);
    for (QuboTerm& t : terms) {
        t.i = rng() % n;
        t.j = rng() % n;
        t.w = weight(rng);
    }
    return terms;
}

void check_all(std::mt19937_64& rng) {
    for (unsigned n : {1u, 3u, 4u, 5u, 6u, 7u, 9u, 12u}) {
        check_case({}, n);
        check_case(random_terms(rng, n, 3 * n + 2, 1.0), n);
        check_case(random_terms(rng, n, 70, 2.0), n);  // more than one word of terms

        // Every pair in order of the first variable: the terms without lane
        // variables come in one run at the end.
        QuboTerms ordered;
        for (unsigned i = 0; i < n; ++i) {
            for (unsigned j = i; j < n; ++j) ordered.push_back({i, j, std::uniform_real_distribution<double>(-1, 1)(rng)});
        }
        check_case(ordered, n);
        std::reverse(ordered.begin(), ordered.end());
        check_case(ordered, n);

        QuboTerms zero = random_terms(rng, n, 2 * n, 1.0);
        for (QuboTerm& t : zero) t.w = 0.0;
        check_case(zero, n);
        for (QuboTerm& t : zero) t.w = -0.0;
        check_case(zero, n);

        for (double special : {kInf, -kInf, kNaN}) {
            QuboTerms terms = random_terms(rng, n, 2 * n + 1, 1.0);
            terms[rng() % terms.size()].w = special;
            check_case(terms, n);
        }
        QuboTerms both = random_terms(rng, n, 2 * n + 2, 1.0);
        both[0].w = kInf;
        both.back().w = -kInf;  // inf - inf: NaN where both are on
        check_case(both, n);

        // Energies past the vector rounding's range where the top variable is
        // 1: some blocks keyed lane by lane, the others by vectors.
        QuboTerms huge = random_terms(rng, n, 2 * n, 1.0);
        huge.push_back({n - 1, n - 1, 3e6});
        check_case(huge, n);
        huge.back().w = -1e300;
        check_case(huge, n);
    }
}

}  // namespace

int main() {
    for (const char* set : {"generic", "avx2", "avx512"}) {
        if (!simd::select(set).empty()) continue;  // not offered here
        std::mt19937_64 rng(20261208);
        check_all(rng);
        std::printf("ising_test: %s checked\n", set);
    }
    return talvo::testing::finish("ising_test");
}
