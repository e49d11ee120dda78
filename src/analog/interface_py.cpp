// Python classes of the analog intermediate records. Nothing in the module
// creates them, so nothing of theirs is pickled; their attributes read and
// replace whole lists of floats.
#include "analog/interface.h"
#include "types_py.h"

namespace talvo::bind {

py::Member& member_ContinuousFieldIR() {
    static py::Class<analog::ContinuousFieldIR> c({
        .name = "ContinuousFieldIR",
        .attributes = {py::writable<&analog::ContinuousFieldIR::data>("data")},
        .pickled = false,
    });
    return c;
}

py::Member& member_HardwareDeltaModel() {
    static py::Class<analog::HardwareDeltaModel> c({
        .name = "HardwareDeltaModel",
        .attributes = {py::writable<&analog::HardwareDeltaModel::calibration_data>("calibration_data")},
        .pickled = false,
    });
    return c;
}

}  // namespace talvo::bind
