// Circuit-cutting reconstruction: the sample records and the recombination of
// sub-circuit histograms into the expectation value of the uncut circuit.
// No Python here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::cutting {

// Measured bitstring -> shot count, in the order given. The bitstrings are
// stored back to back, followed by 8 zero bytes, so any 8-byte read starting
// inside the text stays in bounds, and one pass over a histogram reads one
// block of text. A histogram is built whole from its entries and never
// changed, so the padding is always there.
class Histogram {
public:
    static constexpr std::size_t kPadding = 8;

    Histogram() : text_(kPadding, '\0') {}
    // From (bitstring, count) pairs, in order.
    template <class Entries>
    explicit Histogram(const Entries& entries) {
        for (const auto& [bits, count] : entries) {
            text_.append(bits);
            ends_.push_back(text_.size());
            counts_.push_back(count);
        }
        text_.append(kPadding, '\0');
    }

    std::size_t size() const { return counts_.size(); }
    std::size_t begin(std::size_t k) const { return k == 0 ? 0 : ends_[k - 1]; }
    std::size_t end(std::size_t k) const { return ends_[k]; }
    std::uint64_t count(std::size_t k) const { return counts_[k]; }
    std::string_view bits(std::size_t k) const {
        return std::string_view(text_).substr(begin(k), end(k) - begin(k));
    }
    // The bitstrings back to back, then kPadding zero bytes.
    std::string_view text() const { return text_; }

private:
    std::string text_;
    std::vector<std::size_t> ends_;
    std::vector<std::uint64_t> counts_;
};

// The real coefficient of one joint sample.
struct SampleCoefficient {
    std::uint64_t sample_index = 0;
    double coefficient = 0.0;
};

struct SampleCounts {
    std::string subcircuit_label;
    Histogram counts;
    std::uint64_t sample_index = 0;
    std::uint64_t shots = 0;
};

// The histogram of one sub-circuit run for one joint sample. Immutable once
// built, so copies share one body.
struct SubcircuitSampleCounts {
    std::shared_ptr<const SampleCounts> body;
    const SampleCounts& operator*() const { return *body; }
    const SampleCounts* operator->() const { return body.get(); }
};

std::string repr(const SampleCoefficient& c);
std::string repr(const SubcircuitSampleCounts& c);

// sum over coefficients (in order, from -0.0) of
//   coefficient * prod over labels (in order) of e(record),
// where e is the histogram sum over `shots`, a bitstring with an odd number of
// '1' characters counting negatively (a used record with zero shots fails),
// after checking that every (sample, label) pair has exactly one record.
// Throws InvalidInput with the message of the first problem found.
double reconstruct_expectation(const std::vector<SubcircuitSampleCounts>& counts,
                               const std::vector<SampleCoefficient>& coefficients,
                               const std::vector<std::string>& subcircuit_labels);

}  // namespace talvo::cutting
