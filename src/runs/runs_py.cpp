// Python binding of the noisy-run simulation.
#include <array>

#include "runs/runs.h"
#include "types_py.h"

namespace talvo::bind {

using py::Arg;
using py::Ref;

namespace {

// The runs as a list of lists of int, built straight from the run-major
// bytes. Every byte value maps to one cached int object.
PyObject* runs_to_py(const runs::NoisyRuns& runs) {
    std::array<Ref, 256> ints;
    for (int v = 0; v < 256; ++v) ints[static_cast<std::size_t>(v)] = py::own(PyLong_FromLong(v));
    Ref outer = py::own(PyList_New(static_cast<Py_ssize_t>(runs.n_runs)));
    for (std::size_t r = 0; r < runs.n_runs; ++r) {
        PyObject* row = py::check(PyList_New(static_cast<Py_ssize_t>(runs.n_vars)));
        PyList_SetItem(outer.get(), static_cast<Py_ssize_t>(r), row);
        const std::uint8_t* bits = runs.run(r);
        for (std::size_t k = 0; k < runs.n_vars; ++k) {
            PyObject* v = ints[bits[k]].get();
            Py_INCREF(v);
            PyList_SetItem(row, static_cast<Py_ssize_t>(k), v);
        }
    }
    return outer.release();
}

}  // namespace

py::Member& member_simulate_qubo_runs() {
    static py::Function f(
        "simulate_qubo_runs",
        "Simulate noisy annealer runs around a base assignment of a QUBO.\n\n"
        "Each of the n_runs runs starts from base_bits and flips every bit whose uniform\n"
        "draw u satisfies noise_level > u. All draws come from one SplitMix64 stream seeded\n"
        "with seed, one per bit, run by run. The energy of each run (the QUBO term list\n"
        "summed in list order from -0.0) is evaluated on the shared worker pool; the result\n"
        "does not depend on the number of workers.\n\n"
        "# Arguments\n"
        "* `qubo` - list of ((i, j), w) terms over positions of base_bits.\n"
        "* `base_bits` - the starting assignment, one bit per variable.\n"
        "* `n_runs` - number of runs.\n"
        "* `noise_level` - per-bit flip probability.\n"
        "* `seed` - 64-bit seed of the random stream.\n\n"
        "# Returns\n"
        "(assignments, energies): one list of bits and one float per run, in run order.",
        [](Arg<QuboTerms, "qubo"> qubo, Arg<std::vector<std::uint8_t>, "base_bits"> base_bits,
           Arg<std::uint64_t, "n_runs"> n_runs, Arg<double, "noise_level"> noise_level,
           Arg<std::uint64_t, "seed"> seed) -> PyObject* {
            // Each run becomes a list of small ints and a float.
            const std::uint64_t result_bytes = py::estimate::small_int_list_in_list(base_bits.value.size()) +
                                               py::estimate::kFloatInList;
            runs::NoisyRuns result = runs::simulate_qubo_runs(qubo.value, base_bits.value, n_runs.value,
                                                              noise_level.value, seed.value, result_bytes);
            Ref assignments = py::own(runs_to_py(result));
            Ref energies = py::own(py::to_py(result.energies));
            PyObject* t = py::check(PyTuple_New(2));
            PyTuple_SetItem(t, 0, assignments.release());
            PyTuple_SetItem(t, 1, energies.release());
            return t;
        });
    return f;
}

}  // namespace talvo::bind
