// Pre-distortion of analog control values by measured hardware errors, so
// that what the device executes lands on the requested target. No Python here.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "qubo.h"

namespace talvo::delta {

// ((site_i, site_j), value) entries: couplings, or their fractional errors.
// The pair is an ordered key: (i, j) and (j, i) differ.
using PairValues = QuboTerms;
// (site, offset) entries.
using SiteOffsets = std::vector<std::pair<std::uint64_t, double>>;

// max(e + 1.0, 0.01): an error of -1.0 or below (or NaN) divides by 0.01.
double clamped_scale(double error);

// Each coupling J becomes J / clamped_scale(e) with the error e recorded for
// exactly its (i, j) key (the last such entry wins), J / 1.0 otherwise.
PairValues apply_coupling_correction(const PairValues& couplings, const PairValues& errors);

// Detuning k becomes d - offset for the last offset recorded for site k,
// d - 0.0 otherwise.
std::vector<double> apply_detuning_correction(const std::vector<double>& detunings, const SiteOffsets& offsets);

// rabi_frequency / clamped_scale(global_rabi_error).
double apply_rabi_correction(double rabi_frequency, double global_rabi_error);

}  // namespace talvo::delta
