// Python classes of the photonic compiler and its result record.
#include "analog/photonic.h"
#include "boundary.h"

namespace talvo::bind {

using py::Args;
using py::to_py;

py::Member& member_PhotonicGBSParameters() {
    static py::Class<analog::PhotonicGBSParameters> c({
        "PhotonicGBSParameters",
        "(adjacency_matrix, phases)",
        "",
        {py::readonly<&analog::PhotonicGBSParameters::adjacency_matrix>("adjacency_matrix"),
         py::readonly<&analog::PhotonicGBSParameters::phases>("phases")},
        {},
        [](const Args& a) {
            auto adjacency = a.get<std::vector<std::vector<double>>>(0);
            auto phases = a.get<std::vector<double>>(1);
            return analog::PhotonicGBSParameters{std::move(adjacency), std::move(phases)};
        },
    });
    return c;
}

py::Member& member_PhotonicCompiler() {
    static py::Class<analog::PhotonicCompiler> c({
        "PhotonicCompiler",
        "()",
        "",
        {},
        {{"build_arrazola_bromley_encoding($self, graph)", "",
          [](const analog::PhotonicCompiler&, const Args& a) -> PyObject* {
              auto graph = a.get<sim::LogicalGraph>(0);
              return to_py(analog::build_arrazola_bromley_encoding(graph));
          }}},
        [](const Args&) { return analog::PhotonicCompiler{}; },
    });
    return c;
}

}  // namespace talvo::bind
