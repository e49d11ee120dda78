#include "scoring/equilibrium.h"

#include "format.h"

namespace talvo::scoring {

std::string equilibrium_repr(const EquilibriumScore& s) {
    std::string out = "EquilibriumScore(kappa=";
    out += format_fixed(s.kappa, 4);
    out += ", confidence=";
    out += format_fixed(s.confidence, 4);
    out += ", energy_gap=";
    out += format_fixed(s.energy_gap, 4);
    out += ", kappa_std=";
    out += format_fixed(s.kappa_std, 4);
    out += ", iterations=";
    out += std::to_string(s.iterations);
    out += ')';
    return out;
}

}  // namespace talvo::scoring
