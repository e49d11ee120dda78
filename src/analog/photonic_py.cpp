// Python classes of the photonic compiler and its result record.
#include "analog/photonic.h"
#include "types_py.h"

namespace talvo::bind {

using analog::PhotonicCompiler;
using analog::PhotonicGBSParameters;
using py::Arg;

py::Member& member_PhotonicGBSParameters() {
    static py::Class<PhotonicGBSParameters> c({
        .name = "PhotonicGBSParameters",
        .attributes = {py::readonly<&PhotonicGBSParameters::adjacency_matrix>("adjacency_matrix"),
                       py::readonly<&PhotonicGBSParameters::phases>("phases")},
        .ctor = py::constructor([](Arg<std::vector<std::vector<double>>, "adjacency_matrix"> adjacency,
                                   Arg<std::vector<double>, "phases"> phases) {
            return PhotonicGBSParameters{std::move(adjacency.value), std::move(phases.value)};
        }),
    });
    return c;
}

py::Member& member_PhotonicCompiler() {
    static py::Class<PhotonicCompiler> c({
        .name = "PhotonicCompiler",
        .methods = {py::method("build_arrazola_bromley_encoding", "",
                               [](const PhotonicCompiler&, Arg<sim::LogicalGraph, "graph"> graph) -> PyObject* {
                                   return py::to_py(analog::build_arrazola_bromley_encoding(graph.value));
                               })},
        .ctor = py::constructor([] { return PhotonicCompiler{}; }),
    });
    return c;
}

}  // namespace talvo::bind
