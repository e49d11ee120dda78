// Python bindings of the hardware delta corrections.
#include <array>
#include <utility>

#include "delta/delta.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::to_py;

namespace {

// The corrected couplings as ((site_i, site_j), J) tuples. A site usually
// takes part in several couplings: the int of a recent site index is made
// once and shared (ints are immutable), as a loop that puts the caller's key
// tuples into its result shares them.
PyObject* coupling_list(const delta::PairValues& values) {
    py::Ref list = py::own(PyList_New(static_cast<Py_ssize_t>(values.size())));
    std::array<std::pair<std::uint64_t, py::Ref>, 64> recent;  // by the index's low bits
    auto site = [&](std::uint64_t v) {
        auto& [index, obj] = recent[v & 63];
        if (!obj || index != v) {
            obj = py::own(PyLong_FromUnsignedLongLong(v));
            index = v;
        }
        return Py_NewRef(obj.get());
    };
    for (std::size_t k = 0; k < values.size(); ++k) {
        if ((k & 0xFFFF) == 0xFFFF) py::raise_pending_signal();  // a long list notices Ctrl-C
        py::Ref key = py::own(PyTuple_New(2));
        PyTuple_SetItem(key.get(), 0, site(values[k].i));
        PyTuple_SetItem(key.get(), 1, site(values[k].j));
        py::Ref weight = py::own(PyFloat_FromDouble(values[k].w));
        PyObject* item = py::check(PyTuple_New(2));
        PyTuple_SetItem(item, 0, key.release());
        PyTuple_SetItem(item, 1, weight.release());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), item);
    }
    return list.release();
}

}  // namespace

py::Member& member_apply_detuning_correction() {
    static py::Function f(
        "apply_detuning_correction",
        "Subtract measured per-site detuning offsets from target detunings.\n\n"
        "The value at position k becomes d - offset when an offset is recorded for site k\n"
        "(the last entry for a site wins); offsets for sites beyond the list are ignored.\n"
        "Returns a new list; the inputs are not changed.\n\n"
        "# Arguments\n"
        "* `detunings` - target detuning values, one per site.\n"
        "* `offsets` - (site_index, offset_mhz) pairs recording measured hardware detuning errors.",
        [](Arg<std::vector<double>, "detunings"> detunings, Arg<delta::SiteOffsets, "offsets"> offsets) -> PyObject* {
            return to_py(delta::apply_detuning_correction(detunings.value, offsets.value));
        });
    return f;
}

py::Member& member_apply_coupling_correction() {
    static py::Function f(
        "apply_coupling_correction",
        "Divide coupling strengths by their measured fractional scale error.\n\n"
        "Each J becomes J / max(1.0 + e, 0.01) with the error e recorded for exactly its\n"
        "(site_i, site_j) pair (the last entry for a pair wins; (j, i) is a different pair);\n"
        "couplings without an error are unchanged. Returns a new list in the order of\n"
        "`couplings`; the inputs are not changed.\n\n"
        "# Arguments\n"
        "* `couplings` - ((site_i, site_j), J) pairs.\n"
        "* `errors` - ((site_i, site_j), fractional_error) pairs.",
        [](Arg<QuboTerms, "couplings"> couplings, Arg<QuboTerms, "errors"> errors) -> PyObject* {
            return coupling_list(delta::apply_coupling_correction(couplings.value, errors.value));
        });
    return f;
}

py::Member& member_apply_rabi_correction() {
    static py::Function f(
        "apply_rabi_correction",
        "Divide a global Rabi frequency by the measured global drive error.\n\n"
        "Returns rabi_frequency / max(1.0 + global_rabi_error, 0.01) as a new value; there\n"
        "are no side effects.\n\n"
        "# Arguments\n"
        "* `rabi_frequency` - target global Rabi frequency (for example in MHz).\n"
        "* `global_rabi_error` - measured fractional error on the drive (0.0 = perfect); the\n"
        "  hardware multiplies it into the drive as (1.0 + global_rabi_error).",
        [](Arg<double, "rabi_frequency"> rabi, Arg<double, "global_rabi_error"> error) -> PyObject* {
            return to_py(delta::apply_rabi_correction(rabi.value, error.value));
        });
    return f;
}

}  // namespace talvo::bind
