// Python bindings of the circuit-cutting records and reconstruction.
#include "cutting/reconstruct.h"
#include "types_py.h"

namespace talvo::bind {

using cutting::SampleCoefficient;
using cutting::SubcircuitSampleCounts;
using py::Arg;
using py::Ref;

namespace {

// A new dict with the record's histogram.
Ref counts_dict(const SubcircuitSampleCounts& c) {
    const cutting::Histogram& h = c->counts;
    Ref dict = py::own(PyDict_New());
    for (std::size_t k = 0; k < h.size(); ++k) {
        std::string_view bits = h.bits(k);
        Ref key = py::own(PyUnicode_FromStringAndSize(bits.data(), static_cast<Py_ssize_t>(bits.size())));
        Ref value = py::own(py::to_py(h.count(k)));
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) py::throw_error();
    }
    return dict;
}

const std::string& label_of(const SubcircuitSampleCounts& c) { return c->subcircuit_label; }
std::uint64_t sample_of(const SubcircuitSampleCounts& c) { return c->sample_index; }
std::uint64_t shots_of(const SubcircuitSampleCounts& c) { return c->shots; }

template <auto F>
py::Attribute computed(const char* name) {
    return py::computed<SubcircuitSampleCounts, F>(name);
}

}  // namespace

py::Member& member_SampleCoefficient() {
    static py::Class<SampleCoefficient> c({
        .name = "SampleCoefficient",
        .prose =
        "The real-valued coefficient of one joint QPD sample.\n\n"
        "As produced by `qiskit_addon_cutting.generate_cutting_experiments`: the first element\n"
        "of each `(coefficient, WeightType)` tuple it returns.",
        .attributes = {
            py::readonly<&SampleCoefficient::sample_index>("sample_index"),
            py::readonly<&SampleCoefficient::coefficient>("coefficient"),
        },
        .ctor = py::constructor(
            [](Arg<std::uint64_t, "sample_index"> sample_index, Arg<double, "coefficient"> coefficient) {
                return SampleCoefficient{sample_index.value, coefficient.value};
            }),
        .repr = [](const SampleCoefficient& c) { return cutting::repr(c); },
    });
    return c;
}

py::Member& member_SubcircuitSampleCounts() {
    static py::Class<SubcircuitSampleCounts> c({
        .name = "SubcircuitSampleCounts",
        .prose =
        "One real measurement-count histogram from one sub-circuit run on real hardware for\n"
        "one joint QPD sample.\n\n"
        "`counts` maps a bitstring, the sub-circuit's classical registers\n"
        "(`observable_measurements` concatenated with `qpd_measurements`, in either order),\n"
        "to its shot count. The per-shot parity of the combined register reproduces\n"
        "`qpd_factor * obs_outcome` of `qiskit_addon_cutting.reconstruct_expectation_values`,\n"
        "because (-1)^popcount(qpd) * (-1)^popcount(obs) = (-1)^popcount(qpd ++ obs).",
        .attributes = {
            computed<&label_of>("subcircuit_label"),
            computed<&counts_dict>("counts"),
            computed<&sample_of>("sample_index"),
            computed<&shots_of>("shots"),
        },
        .ctor = py::constructor([](Arg<std::uint64_t, "sample_index"> sample_index,
                                   Arg<std::string, "subcircuit_label"> label,
                                   Arg<py::Dict<std::string, std::uint64_t>, "counts"> counts,
                                   Arg<std::uint64_t, "shots"> shots) {
            auto body = std::make_shared<cutting::SampleCounts>();
            body->subcircuit_label = std::move(label.value);
            body->counts = cutting::Histogram(counts.value.items);
            body->sample_index = sample_index.value;
            body->shots = shots.value;
            return SubcircuitSampleCounts{std::move(body)};
        }),
        .repr = [](const SubcircuitSampleCounts& c) { return cutting::repr(c); },
    });
    return c;
}

py::Member& member_reconstruct_expectation() {
    static py::Function f(
        "reconstruct_expectation",
        "Reconstruct the expectation value of a cut circuit from its sub-circuit histograms.\n\n"
        "<O> = sum over samples of coefficient[sample] * prod over sub-circuits of\n"
        "<O>(sub-circuit, sample), where <O>(sub-circuit, sample) is the parity-signed\n"
        "histogram sum divided by the record's shots.\n\n"
        "`subcircuit_labels` must list every participating sub-circuit label. For every pair\n"
        "(sample_index of a coefficient, label) of coefficients x subcircuit_labels exactly\n"
        "one matching SubcircuitSampleCounts must be present in `counts`: a missing or\n"
        "duplicate entry raises ValueError instead of silently contributing zero.\n"
        "The outer sum over samples is computed in parallel and added in coefficient order.",
        [](Arg<std::vector<SubcircuitSampleCounts>, "counts"> counts,
           Arg<std::vector<SampleCoefficient>, "coefficients"> coefficients,
           Arg<std::vector<std::string>, "subcircuit_labels"> labels) -> PyObject* {
            return py::to_py(cutting::reconstruct_expectation(counts.value, coefficients.value, labels.value));
        });
    return f;
}

}  // namespace talvo::bind
