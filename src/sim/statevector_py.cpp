// Python binding of the dense statevector simulator.
#include <bit>

#include "sim/statevector.h"
#include "types_py.h"

#include <mutex>

namespace talvo::bind {

namespace {

// Keeps the cyclic garbage collector off while millions of new tuples are
// made (none can be part of a cycle), then restores its previous state. The
// collector's switch is one for the whole process: when several threads
// build results at once, the first to start turns it off and the last to
// finish turns it back on if the first found it on, so calls overlapping in
// any order leave it as they found it.
class CollectorPause {
public:
    CollectorPause() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (pauses_++ == 0) restore_ = PyGC_Disable() != 0;
    }
    ~CollectorPause() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (--pauses_ == 0 && restore_) PyGC_Enable();
    }
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;

private:
    // Neither switch can wait for the interpreter, so the lock is only ever
    // held for an instant.
    static inline std::mutex mutex_;
    static inline std::size_t pauses_ = 0;  // calls between their start and their end
    static inline bool restore_ = false;    // the first of them found the collector on
};

// The amplitudes as a list of (real, imag) tuples, built in one pass. The
// amplitudes that are exactly (+0.0, +0.0), most of a sparse state, share one
// tuple, as the calling package's [(0.0, 0.0)] * size does.
PyObject* amplitude_list(const sim::StateBuffer& state) {
    CollectorPause pause;
    const double* amp = state.data();
    const auto size = static_cast<Py_ssize_t>(state.size());
    py::Ref list = py::own(PyList_New(size));
    py::Ref zero;
    for (Py_ssize_t i = 0; i < size; ++i) {
        if (std::bit_cast<std::uint64_t>(amp[2 * i]) == 0 && std::bit_cast<std::uint64_t>(amp[2 * i + 1]) == 0) {
            if (!zero) zero = py::own(Py_BuildValue("(dd)", 0.0, 0.0));
            PyList_SetItem(list.get(), i, Py_NewRef(zero.get()));
            continue;
        }
        PyObject* re = py::check(PyFloat_FromDouble(amp[2 * i]));
        PyObject* im = PyFloat_FromDouble(amp[2 * i + 1]);
        // GCOVR_EXCL_START: a float or a pair fails only when memory runs out,
        // which the size check before the run has ruled out.
        if (!im) {
            Py_DECREF(re);
            py::throw_error();
        }
        PyObject* pair = PyTuple_New(2);
        if (!pair) {
            Py_DECREF(re);
            Py_DECREF(im);
            py::throw_error();
        }
        // GCOVR_EXCL_STOP
        PyTuple_SetItem(pair, 0, re);
        PyTuple_SetItem(pair, 1, im);
        PyList_SetItem(list.get(), i, pair);
    }
    return list.release();
}

}  // namespace

py::Member& member_run_statevector() {
    static py::Function f(
        "run_statevector",
        "Run a gate sequence on a dense statevector of n_qubits qubits, starting from the\n"
        "all-zero basis state, and return the final amplitudes as (real, imag) pairs.\n\n"
        "Basis index i stands for the state in which qubit q has the value (i >> q) & 1:\n"
        "qubit 0 is the least significant bit.\n\n"
        "# Arguments\n"
        "* `instructions` - list of (gate_name, qubit_indices, params) tuples in execution\n"
        "  order. Single-qubit gates: h, x, y, z, s, t, rx, ry, rz (theta), u (theta, phi,\n"
        "  lambda). Two-qubit gates: cx (control, target), swap, cz.\n"
        "* `n_qubits` - number of qubits; the result has length 2^n_qubits.\n\n"
        "# Errors\n"
        "SizeViolation when n_qubits > 24, because memory grows as 2^n_qubits complex\n"
        "amplitudes. ValueError for an unknown gate name.",
        [](py::Arg<std::vector<sim::Instruction>, "instructions"> instructions,
           py::Arg<std::uint64_t, "n_qubits"> n_qubits) -> PyObject* {
            sim::check_statevector_size(n_qubits.value);
            const auto n = static_cast<unsigned>(n_qubits.value);
            std::vector<sim::GateOp> ops = sim::compile_circuit(instructions.value, n);
            instructions.value = {};
            // The state and then the result, a tuple of two floats an amplitude:
            // refuse up front what the machine cannot hold.
            check_allocation(std::uint64_t{1} << n, 2 * sizeof(double) + py::estimate::kFloatPairInList);
            sim::StateBuffer state(n);
            sim::apply_circuit(state.data(), n, ops);
            return amplitude_list(state);
        });
    return f;
}

}  // namespace talvo::bind
