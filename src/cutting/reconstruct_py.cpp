// Python bindings of the circuit-cutting records and reconstruction.
#include "boundary.h"
#include "cutting/reconstruct.h"

namespace talvo::bind {

using cutting::SampleCoefficient;
using cutting::SubcircuitSampleCounts;
using py::Args;
using py::Ref;

namespace {

// A new dict with the record's histogram.
Ref counts_dict(const SubcircuitSampleCounts& c) {
    Ref dict = py::own(PyDict_New());
    for (const auto& [bits, count] : *c.counts) {
        Ref key = py::own(py::to_py(bits));
        Ref value = py::own(py::to_py(count));
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) py::throw_error();
    }
    return dict;
}

}  // namespace

py::Member& member_SampleCoefficient() {
    static py::Class<SampleCoefficient> c({
        "SampleCoefficient",
        "(sample_index, coefficient)",
        "The real-valued coefficient of one joint QPD sample.\n\n"
        "As produced by `qiskit_addon_cutting.generate_cutting_experiments`: the first element\n"
        "of each `(coefficient, WeightType)` tuple it returns.",
        {
            py::readonly<&SampleCoefficient::sample_index>("sample_index"),
            py::readonly<&SampleCoefficient::coefficient>("coefficient"),
        },
        {},
        [](const Args& a) -> SampleCoefficient {
            auto sample_index = a.get<std::uint64_t>(0);
            auto coefficient = a.get<double>(1);
            return {sample_index, coefficient};
        },
        [](const SampleCoefficient& c) { return cutting::repr(c); },
    });
    return c;
}

py::Member& member_SubcircuitSampleCounts() {
    static py::Class<SubcircuitSampleCounts> c({
        "SubcircuitSampleCounts",
        "(sample_index, subcircuit_label, counts, shots)",
        "One real measurement-count histogram from one sub-circuit run on real hardware for\n"
        "one joint QPD sample.\n\n"
        "`counts` maps a bitstring, the sub-circuit's classical registers\n"
        "(`observable_measurements` concatenated with `qpd_measurements`, in either order),\n"
        "to its shot count. The per-shot parity of the combined register reproduces\n"
        "`qpd_factor * obs_outcome` of `qiskit_addon_cutting.reconstruct_expectation_values`,\n"
        "because (-1)^popcount(qpd) * (-1)^popcount(obs) = (-1)^popcount(qpd ++ obs).",
        {
            py::readonly<&SubcircuitSampleCounts::subcircuit_label>("subcircuit_label"),
            py::Attribute{"counts", &py::computed_get<SubcircuitSampleCounts, &counts_dict>, nullptr, nullptr},
            py::readonly<&SubcircuitSampleCounts::sample_index>("sample_index"),
            py::readonly<&SubcircuitSampleCounts::shots>("shots"),
        },
        {},
        [](const Args& a) -> SubcircuitSampleCounts {
            auto sample_index = a.get<std::uint64_t>(0);
            auto label = a.get<std::string>(1);
            auto counts = a.get<py::Dict<std::string, std::uint64_t>>(2);
            auto shots = a.get<std::uint64_t>(3);
            return {std::move(label), std::make_shared<const cutting::Histogram>(std::move(counts.items)),
                    sample_index, shots};
        },
        [](const SubcircuitSampleCounts& c) { return cutting::repr(c); },
    });
    return c;
}

py::Member& member_reconstruct_expectation() {
    static py::Function f(
        "reconstruct_expectation(counts, coefficients, subcircuit_labels)",
        "Reconstruct the expectation value of a cut circuit from its sub-circuit histograms.\n\n"
        "<O> = sum over samples of coefficient[sample] * prod over sub-circuits of\n"
        "<O>(sub-circuit, sample), where <O>(sub-circuit, sample) is the parity-signed\n"
        "histogram sum divided by the record's shots.\n\n"
        "`subcircuit_labels` must list every participating sub-circuit label. For every pair\n"
        "(sample_index of a coefficient, label) of coefficients x subcircuit_labels exactly\n"
        "one matching SubcircuitSampleCounts must be present in `counts`: a missing or\n"
        "duplicate entry raises ValueError instead of silently contributing zero.\n"
        "The outer sum over samples is computed in parallel and added in coefficient order.",
        [](const Args& a) -> PyObject* {
            auto counts = a.get<std::vector<SubcircuitSampleCounts>>(0);
            auto coefficients = a.get<std::vector<SampleCoefficient>>(1);
            auto labels = a.get<std::vector<std::string>>(2);
            return py::to_py(cutting::reconstruct_expectation(counts, coefficients, labels));
        });
    return f;
}

}  // namespace talvo::bind
