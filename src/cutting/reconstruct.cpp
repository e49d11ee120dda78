#include "cutting/reconstruct.h"

#include <cstddef>
#include <limits>
#include <new>
#include <string_view>
#include <unordered_map>

#include "errors.h"
#include "format.h"
#include "pool.h"

namespace talvo::cutting {

std::string repr(const SampleCoefficient& c) {
    return "SampleCoefficient(sample_index=" + std::to_string(c.sample_index) +
           ", coefficient=" + format_float(c.coefficient) + ")";
}

std::string repr(const SubcircuitSampleCounts& c) {
    return "SubcircuitSampleCounts(sample_index=" + std::to_string(c.sample_index) +
           ", subcircuit_label=" + quote(c.subcircuit_label) + ", shots=" + std::to_string(c.shots) + ")";
}

namespace {

std::string describe(std::uint64_t sample, std::string_view label) {
    return "for sample " + std::to_string(sample) + " / subcircuit " + quote(label);
}

// Only the character '1' counts; in UTF-8 its byte never occurs inside
// another character, so counting bytes counts characters.
bool odd_parity(const std::string& bits) {
    unsigned ones = 0;
    for (char ch : bits) ones += ch == '1';
    return ones & 1u;
}

// The lookup key: a sample index and the number of its label among the
// distinct labels met.
struct Key {
    std::uint64_t sample;
    std::uint32_t label;
    bool operator==(const Key&) const = default;
};

struct KeyHash {
    std::size_t operator()(const Key& k) const {
        std::uint64_t z = k.sample + 0x9e3779b97f4a7c15ULL * (std::uint64_t{k.label} + 1);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return static_cast<std::size_t>(z ^ (z >> 31));
    }
};

}  // namespace

double subcircuit_expectation(const SubcircuitSampleCounts& c) {
    if (c.shots == 0) {
        throw InvalidInput("SubcircuitSampleCounts " + describe(c.sample_index, c.subcircuit_label) +
                           " has shots == 0");
    }
    double sum = 0.0;
    for (const auto& [bits, count] : *c.counts) {
        double n = static_cast<double>(count);
        sum += odd_parity(bits) ? -n : n;
    }
    return sum / static_cast<double>(c.shots);
}

double reconstruct_expectation(const std::vector<SubcircuitSampleCounts>& counts,
                               const std::vector<SampleCoefficient>& coefficients,
                               const std::vector<std::string>& subcircuit_labels) {
    if (subcircuit_labels.empty()) throw InvalidInput("subcircuit_labels must not be empty");

    // Number the distinct labels: those asked for first, then the others.
    std::unordered_map<std::string_view, std::uint32_t> label_ids;
    label_ids.reserve(subcircuit_labels.size() + 16);
    auto label_id = [&](std::string_view s) {
        return label_ids.try_emplace(s, static_cast<std::uint32_t>(label_ids.size())).first->second;
    };
    std::vector<std::uint32_t> wanted(subcircuit_labels.size());
    for (std::size_t l = 0; l < subcircuit_labels.size(); ++l) wanted[l] = label_id(subcircuit_labels[l]);

    // Every record goes into the table, also those no coefficient uses, so
    // that any repeated (sample, label) is reported.
    std::unordered_map<Key, std::size_t, KeyHash> table;
    table.reserve(counts.size());
    for (std::size_t r = 0; r < counts.size(); ++r) {
        const SubcircuitSampleCounts& c = counts[r];
        Key key{c.sample_index, label_id(c.subcircuit_label)};
        if (!table.try_emplace(key, r).second) {
            throw InvalidInput("duplicate SubcircuitSampleCounts " + describe(c.sample_index, c.subcircuit_label));
        }
    }

    // Presence of every (sample, label) pair, coefficient-major; the records
    // found are kept for the terms.
    const std::size_t n_labels = subcircuit_labels.size();
    if (coefficients.size() > std::numeric_limits<std::size_t>::max() / sizeof(std::size_t) / n_labels) {
        throw std::bad_alloc();
    }
    std::vector<std::size_t> used(coefficients.size() * n_labels);
    for (std::size_t s = 0; s < coefficients.size(); ++s) {
        for (std::size_t l = 0; l < n_labels; ++l) {
            auto it = table.find(Key{coefficients[s].sample_index, wanted[l]});
            if (it == table.end()) {
                throw InvalidInput("missing SubcircuitSampleCounts " +
                                   describe(coefficients[s].sample_index, subcircuit_labels[l]));
            }
            used[s * n_labels + l] = it->second;
        }
    }

    // One term per coefficient on the pool, then the sum in coefficient order.
    std::vector<double> terms = pool::map<double>(coefficients.size(), [&](std::size_t s) {
        double product = 1.0;
        for (std::size_t l = 0; l < n_labels; ++l) product = product * subcircuit_expectation(counts[used[s * n_labels + l]]);
        return coefficients[s].coefficient * product;
    });
    double sum = -0.0;
    for (double t : terms) sum += t;
    return sum;
}

}  // namespace talvo::cutting
