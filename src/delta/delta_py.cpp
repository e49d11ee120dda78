// Python bindings of the hardware delta corrections.
#include "boundary.h"
#include "delta/delta.h"
#include "qubo_py.h"

namespace talvo::bind {

using py::Args;
using py::to_py;

py::Member& member_apply_detuning_correction() {
    static py::Function f(
        "apply_detuning_correction(detunings, offsets)",
        "Subtract measured per-site detuning offsets from target detunings.\n\n"
        "The value at position k becomes d - offset when an offset is recorded for site k\n"
        "(the last entry for a site wins); offsets for sites beyond the list are ignored.\n"
        "Returns a new list; the inputs are not changed.\n\n"
        "# Arguments\n"
        "* `detunings` - target detuning values, one per site.\n"
        "* `offsets` - (site_index, offset_mhz) pairs recording measured hardware detuning errors.",
        [](const Args& a) -> PyObject* {
            auto detunings = a.get<std::vector<double>>(0);
            auto offsets = a.get<delta::SiteOffsets>(1);
            return to_py(delta::apply_detuning_correction(detunings, offsets));
        });
    return f;
}

py::Member& member_apply_coupling_correction() {
    static py::Function f(
        "apply_coupling_correction(couplings, errors)",
        "Divide coupling strengths by their measured fractional scale error.\n\n"
        "Each J becomes J / max(1.0 + e, 0.01) with the error e recorded for exactly its\n"
        "(site_i, site_j) pair (the last entry for a pair wins; (j, i) is a different pair);\n"
        "couplings without an error are unchanged. Returns a new list in the order of\n"
        "`couplings`; the inputs are not changed.\n\n"
        "# Arguments\n"
        "* `couplings` - ((site_i, site_j), J) pairs.\n"
        "* `errors` - ((site_i, site_j), fractional_error) pairs.",
        [](const Args& a) -> PyObject* {
            auto couplings = a.get<QuboTerms>(0);
            auto errors = a.get<QuboTerms>(1);
            return to_py(delta::apply_coupling_correction(couplings, errors));
        });
    return f;
}

py::Member& member_apply_rabi_correction() {
    static py::Function f(
        "apply_rabi_correction(rabi_frequency, global_rabi_error)",
        "Divide a global Rabi frequency by the measured global drive error.\n\n"
        "Returns rabi_frequency / max(1.0 + global_rabi_error, 0.01) as a new value; there\n"
        "are no side effects.\n\n"
        "# Arguments\n"
        "* `rabi_frequency` - target global Rabi frequency (for example in MHz).\n"
        "* `global_rabi_error` - measured fractional error on the drive (0.0 = perfect); the\n"
        "  hardware multiplies it into the drive as (1.0 + global_rabi_error).",
        [](const Args& a) -> PyObject* {
            auto rabi = a.get<double>(0);
            auto error = a.get<double>(1);
            return to_py(delta::apply_rabi_correction(rabi, error));
        });
    return f;
}

}  // namespace talvo::bind
