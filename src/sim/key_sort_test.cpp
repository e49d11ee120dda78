// The key sort against std::sort and std::unique, on the shapes the spectrum
// meets (a bell curve of a million keys, a few values repeated, saturated
// extremes far from the rest) and the edges of its buckets, with the keys'
// range given right, given too wide, given wrong, or not given.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "sim/key_sort.h"
#include "simd.h"
#include "testing/check.h"

using talvo::sim::sort_unique_energies;
using talvo::sim::sort_unique_keys;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

std::vector<std::int64_t> expected(std::vector<std::int64_t> keys) {
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

std::uint64_t bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// Both entries on one set of keys; `lo` and `hi` are what the energies entry
// is told (lo > hi: nothing).
void check(const std::vector<std::int64_t>& keys, std::int64_t lo, std::int64_t hi) {
    const std::vector<std::int64_t> want = expected(keys);
    std::vector<std::int64_t> a(keys), scratch(keys.size() + 1);
    const std::size_t m = sort_unique_keys(a.data(), a.size(), scratch.data());
    CHECK(m == want.size());
    CHECK(std::equal(want.begin(), want.end(), a.begin()));

    std::vector<std::int64_t> e(keys);
    const std::size_t me = sort_unique_energies(e.data(), e.size(), lo, hi, scratch.data());
    CHECK(me == want.size());
    bool same = me == want.size();
    for (std::size_t k = 0; same && k < me; ++k) {
        double got;
        std::memcpy(&got, &e[k], sizeof got);
        same = bits(got) == bits(static_cast<double>(want[k]) / 1e9);
    }
    CHECK(same);
}

void check_all_ranges(const std::vector<std::int64_t>& keys) {
    if (keys.empty()) {
        check(keys, 1, 0);
        return;
    }
    const auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
    check(keys, *lo, *hi);  // exact
    check(keys, 1, 0);      // unknown
    if (*lo > kMin && *hi < kMax) check(keys, *lo - 1, *hi + 1);  // too wide
    if (*lo < *hi) {
        check(keys, *lo + 1, *hi);  // wrong: the smallest key lies outside
        check(keys, *lo, *hi - 1);  // wrong: the largest key lies outside
    }
}

// The slot starts of the bucket finish, against the plain running sum, on
// lengths around the vector width and counts that wrap around.
void check_running_sums(std::mt19937_64& rng) {
    for (std::size_t n = 0; n <= 40; ++n) {
        std::vector<std::uint16_t> c(n);
        for (auto& v : c) v = static_cast<std::uint16_t>(rng() % 3 == 0 ? rng() : rng() % 4);
        std::vector<std::uint16_t> want(c);
        for (std::size_t k = 1; k < n; ++k) want[k] = static_cast<std::uint16_t>(want[k] + want[k - 1]);
        talvo::simd::running_sums(c.data(), n);
        CHECK(c == want);
    }
}

void check_shapes(std::mt19937_64& rng) {
    // A bell curve like a random QUBO's energies: sums of uniform terms, on
    // the 1e-9 grid, a million of them with a few repeats.
    {
        std::vector<std::int64_t> keys(std::size_t{1} << 20);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (auto& k : keys) {
            double e = 0;
            for (int t = 0; t < 12; ++t) e += u(rng);
            k = std::llround(e * 1e9);
        }
        for (std::size_t k = 0; k < 1000; ++k) keys[rng() % keys.size()] = keys[rng() % keys.size()];
        check_all_ranges(keys);
    }

    // A few values repeated many times; one value; two values far apart.
    {
        std::vector<std::int64_t> keys(300000);
        for (auto& k : keys) k = static_cast<std::int64_t>(rng() % 100) * 1000000007 - 50000000000;
        check_all_ranges(keys);
        std::fill(keys.begin(), keys.end(), -42);
        check_all_ranges(keys);
        for (auto& k : keys) k = rng() % 2 ? kMin : kMax;
        check_all_ranges(keys);
    }

    // Saturated extremes beside a narrow cluster: the cluster falls into one
    // slice of the whole range and is split again, more than once.
    {
        std::vector<std::int64_t> keys(200000);
        for (auto& k : keys) {
            const std::uint64_t r = rng();
            k = r % 97 == 0 ? kMax : r % 89 == 0 ? kMin : r % 83 == 0 ? 0 : static_cast<std::int64_t>(r % 5000000);
        }
        check_all_ranges(keys);
        // Clusters at several scales inside each other.
        for (auto& k : keys) {
            const std::uint64_t r = rng();
            k = static_cast<std::int64_t>(r >> (r % 64));
        }
        check_all_ranges(keys);
    }

    // Keys beyond 2^51 in magnitude (the energies' exact-conversion limit),
    // and full-range random keys.
    {
        std::vector<std::int64_t> keys(50000);
        for (auto& k : keys) k = (std::int64_t{1} << 51) - 1000 + static_cast<std::int64_t>(rng() % 3000);
        check_all_ranges(keys);
        for (auto& k : keys) k = -k;
        check_all_ranges(keys);
        for (auto& k : keys) k = static_cast<std::int64_t>(rng());
        check_all_ranges(keys);
    }

    // Sizes around a bucket's, with runs crowded into a few slots.
    for (std::size_t n : {0, 1, 2, 15, 16, 17, 100, 4095, 4096, 4097, 8191, 8193, 70000}) {
        std::vector<std::int64_t> keys(n);
        for (auto& k : keys) k = static_cast<std::int64_t>(rng() % (2 * n + 1)) - static_cast<std::int64_t>(n);
        check_all_ranges(keys);
        for (std::size_t k = 0; k < n; ++k) keys[k] = k % 3 == 0 ? static_cast<std::int64_t>(rng() % 1000000) : 5;
        check_all_ranges(keys);
        std::sort(keys.begin(), keys.end());
        check_all_ranges(keys);
        std::reverse(keys.begin(), keys.end());
        check_all_ranges(keys);
    }
}

}  // namespace

int main() {
    // The energies' division takes wider vectors where the instruction set has them.
    for (const char* set : {"generic", "avx2", "avx512"}) {
        if (!talvo::simd::select(set).empty()) continue;  // not offered here
        std::mt19937_64 rng(7);
        check_running_sums(rng);
        check_shapes(rng);
        std::printf("key_sort_test: %s checked\n", set);
    }
    return talvo::testing::finish("key_sort_test");
}
