// Python binding of the tour QUBO: the result dict is built directly, with
// one str object per variable shared by every key that names it.
#include <array>
#include <cstring>

#include "frontends/vrp.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::Ref;

namespace {

PyObject* build_terms_dict(const frontends::VrpTerms& terms) {
    std::vector<Ref> names;
    names.reserve(terms.names.size());
    for (const auto& name : terms.names) names.push_back(py::own(py::to_py(name)));

    // Most weights repeat (2A, -2A): equal bit patterns share one float
    // object through a small direct-mapped cache.
    constexpr std::size_t kSlots = 64;
    std::array<std::uint64_t, kSlots> cached_bits{};
    std::array<Ref, kSlots> cached;

    Ref dict = py::own(PyDict_New());
    terms.for_each_entry([&](const frontends::VrpEntry& e) {
        Ref key = py::own(PyTuple_Pack(2, names[e.first].get(), names[e.second].get()));
        // A pair of strings can never be part of a reference cycle: keeping
        // the key away from the cycle collector also keeps the dict untracked,
        // so collections triggered while it fills never walk it.
        PyObject_GC_UnTrack(key.get());
        std::uint64_t bits;
        std::memcpy(&bits, &e.weight, sizeof bits);
        std::size_t slot = (bits ^ (bits >> 29) ^ (bits >> 47)) % kSlots;
        if (!cached[slot] || cached_bits[slot] != bits) {
            cached[slot] = py::own(PyFloat_FromDouble(e.weight));
            cached_bits[slot] = bits;
        }
        if (PyDict_SetItem(dict.get(), key.get(), cached[slot].get()) < 0) py::throw_error();
    });
    return dict.release();
}

}  // namespace

py::Member& member_vrp_qubo_terms() {
    static py::Function f(
        "vrp_qubo_terms",
        "Build the one-hot tour QUBO of a vehicle-routing / travelling-salesman instance.\n\n"
        "Binary variable x_i_t means \"augmented node i occupies tour position t\". The\n"
        "Hamiltonian, with its constant offsets dropped, is\n\n"
        "    H = A * sum_i (1 - sum_t x_it)^2 + A * sum_t (1 - sum_i x_it)^2\n"
        "      + B * sum_{u != v, t} d_uv * x_ut * x_v,t+1      (cyclic tour length)\n\n"
        "Terms are accumulated on integer keys and turned into Python objects only at\n"
        "the end, with one cached string object per variable name. Each key is ordered\n"
        "by string comparison of the two names (the smaller name first), and entries are\n"
        "inserted sorted by the variable indices of the key, so the dict order is fixed.\n\n"
        "# Arguments\n"
        "* `dist` - the N x N augmented distance matrix (depot copies included).\n"
        "* `penalty_a` - constraint penalty weight A.\n"
        "* `penalty_b` - distance weight B.\n\n"
        "# Returns\n"
        "A dict {(name_a, name_b): weight}; a key with two equal names is a linear term.\n\n"
        "# Errors\n"
        "ValueError when `dist` is not square.",
        [](Arg<std::vector<std::vector<double>>, "dist"> dist, Arg<double, "penalty_a"> penalty_a,
           Arg<double, "penalty_b"> penalty_b) -> PyObject* {
            frontends::VrpTerms terms = frontends::vrp_qubo_terms(dist.value, penalty_a.value, penalty_b.value);
            return build_terms_dict(terms);
        });
    return f;
}

}  // namespace talvo::bind
