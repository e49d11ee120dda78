#include "delta/delta.h"

#include <unordered_map>

namespace talvo::delta {

namespace {

struct PairHash {
    std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& p) const noexcept {
        std::uint64_t h = p.first * 0x9E3779B97F4A7C15ull;
        h ^= p.second + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
        return static_cast<std::size_t>(h);
    }
};

}  // namespace

double clamped_scale(double error) {
    const double d = error + 1.0;
    return d > 0.01 ? d : 0.01;  // NaN takes the clamp
}

PairValues apply_coupling_correction(const PairValues& couplings, const PairValues& errors) {
    std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, double, PairHash> by_pair;
    by_pair.reserve(errors.size());
    for (const QuboTerm& e : errors) by_pair[{e.i, e.j}] = e.w;  // the last entry for a key wins
    PairValues out;
    out.reserve(couplings.size());
    for (const QuboTerm& c : couplings) {
        auto it = by_pair.find({c.i, c.j});
        const double scale = it == by_pair.end() ? 1.0 : clamped_scale(it->second);
        out.push_back({c.i, c.j, c.w / scale});
    }
    return out;
}

std::vector<double> apply_detuning_correction(const std::vector<double>& detunings, const SiteOffsets& offsets) {
    std::unordered_map<std::uint64_t, double> by_site;
    by_site.reserve(offsets.size());
    for (const auto& [site, offset] : offsets) by_site[site] = offset;
    std::vector<double> out;
    out.reserve(detunings.size());
    for (std::size_t k = 0; k < detunings.size(); ++k) {
        auto it = by_site.find(k);
        out.push_back(detunings[k] - (it == by_site.end() ? 0.0 : it->second));
    }
    return out;
}

double apply_rabi_correction(double rabi_frequency, double global_rabi_error) {
    return rabi_frequency / clamped_scale(global_rabi_error);
}

}  // namespace talvo::delta
