// The decoder table and the failure sum against a direct enumeration of every
// pattern, for pattern counts on both sides of the split of the inner loops
// (n below, at and above the split width, so the high-bit tables are empty,
// one entry or many).
#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "ecc/decoder.h"
#include "testing/check.h"

using namespace talvo::ecc;

namespace {

unsigned parity(std::uint64_t x) { return static_cast<unsigned>(std::popcount(x) & 1); }

std::uint64_t syndrome_of(Mask pattern, const std::vector<Mask>& masks) {
    std::uint64_t s = 0;
    for (std::size_t j = 0; j < masks.size(); ++j) s |= std::uint64_t{parity(pattern & masks[j])} << j;
    return s;
}

// Patterns in lexicographic order of (x_0, ..., x_{n-1}): counter c, with
// qubit 0 its most significant bit.
Mask pattern_of_counter(std::uint64_t c, unsigned n) {
    Mask p = 0;
    for (unsigned i = 0; i < n; ++i) p |= ((c >> (n - 1 - i)) & 1) << i;
    return p;
}

// syndrome -> the lightest pattern producing it, the first met at equal weight.
std::map<std::uint64_t, Mask> direct_table(unsigned n, const std::vector<Mask>& masks) {
    std::map<std::uint64_t, Mask> best;
    for (std::uint64_t c = 0; c < (std::uint64_t{1} << n); ++c) {
        const Mask p = pattern_of_counter(c, n);
        auto [it, fresh] = best.try_emplace(syndrome_of(p, masks), p);
        if (!fresh && std::popcount(p) < std::popcount(it->second)) it->second = p;
    }
    return best;
}

void check_case(unsigned n, const std::vector<Mask>& masks, Mask logical, const std::vector<double>& weight_prob) {
    const auto expected = direct_table(n, masks);
    DecoderTable table(n, masks);
    CHECK(table.size() == expected.size());
    std::size_t k = 0;
    for (const auto& [syndrome, pattern] : expected) {
        if (k >= table.size()) break;
        CHECK(table.syndrome(k) == syndrome);
        CHECK(table.pattern(k) == pattern);
        ++k;
    }

    // Every pattern in increasing order adds its probability when it and its
    // correction differ by an odd overlap with the logical support.
    double sum = 0.0;
    for (Mask p = 0; p < (Mask{1} << n); ++p) {
        const Mask correction = expected.at(syndrome_of(p, masks));
        if (parity((p ^ correction) & logical)) sum += weight_prob[static_cast<std::size_t>(std::popcount(p))];
    }
    const double got = DecoderTable(n, masks).failure_sum(logical, weight_prob);
    CHECK(std::memcmp(&got, &sum, sizeof sum) == 0);
}

}  // namespace

int main() {
    std::mt19937_64 rng(20240611);
    for (unsigned n : {0u, 1u, 2u, 5u, 10u, 11u, 12u, 13u, 15u}) {
        for (int round = 0; round < 6; ++round) {
            const Mask all = (Mask{1} << n) - 1;
            std::vector<Mask> masks(rng() % 9);
            for (Mask& m : masks) m = rng() & all;
            if (round == 0 && n >= 2) masks = {all & 3, all & 6};  // a chain: rank below the stabilizer count
            const Mask logical = rng() & all;
            std::vector<double> weight_prob(n + 1);
            for (double& w : weight_prob) w = std::uniform_real_distribution<double>(0.0, 1e-3)(rng);
            check_case(n, masks, logical, weight_prob);
        }
    }
    return talvo::testing::finish("decoder_test");
}
