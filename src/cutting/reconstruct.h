// Circuit-cutting reconstruction: the sample records and the recombination of
// sub-circuit histograms into the expectation value of the uncut circuit.
// No Python here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace talvo::cutting {

// Measured bitstring -> shot count, in the order given.
using Histogram = std::vector<std::pair<std::string, std::uint64_t>>;

// The real coefficient of one joint sample.
struct SampleCoefficient {
    std::uint64_t sample_index = 0;
    double coefficient = 0.0;
};

// The histogram of one sub-circuit run for one joint sample. Immutable once
// built, so copies share the histogram.
struct SubcircuitSampleCounts {
    std::string subcircuit_label;
    std::shared_ptr<const Histogram> counts;
    std::uint64_t sample_index = 0;
    std::uint64_t shots = 0;
};

std::string repr(const SampleCoefficient& c);
std::string repr(const SubcircuitSampleCounts& c);

// The parity-signed histogram sum over `shots`: a bitstring with an odd number
// of '1' characters counts negatively. Throws InvalidInput for zero shots.
double subcircuit_expectation(const SubcircuitSampleCounts& c);

// sum over coefficients (in order, from -0.0) of
//   coefficient * prod over labels (in order) of subcircuit_expectation(record),
// after checking that every (sample, label) pair has exactly one record.
// Throws InvalidInput with the message of the first problem found.
double reconstruct_expectation(const std::vector<SubcircuitSampleCounts>& counts,
                               const std::vector<SampleCoefficient>& coefficients,
                               const std::vector<std::string>& subcircuit_labels);

}  // namespace talvo::cutting
