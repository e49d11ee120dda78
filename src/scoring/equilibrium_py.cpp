// Python class of the equilibrium score record.
#include "scoring/equilibrium.h"
#include "types_py.h"

namespace talvo::bind {

using scoring::EquilibriumScore;

py::Member& member_EquilibriumScore() {
    static py::Class<EquilibriumScore> c({
        .name = "EquilibriumScore",
        .prose = "Equilibrium score for a single Stackelberg iteration.",
        .attributes = {
            py::readonly<&EquilibriumScore::kappa>(
                "kappa", "Calibration margin \xce\xba \xe2\x88\x88 [0.0, 1.0]. Higher is more trustworthy."),
            py::readonly<&EquilibriumScore::confidence>("confidence", "Raw confidence from the validator."),
            py::readonly<&EquilibriumScore::energy_gap>(
                "energy_gap", "Absolute energy gap between best and second-best solution."),
            py::readonly<&EquilibriumScore::iterations>(
                "iterations", "Number of solver iterations taken to reach this score."),
            py::readonly<&EquilibriumScore::kappa_std>(
                "kappa_std", "Standard deviation of \xce\xba across all scored iterations (0.0 if < 2)."),
        },
        .repr = &scoring::equilibrium_repr,
    });
    return c;
}

}  // namespace talvo::bind
