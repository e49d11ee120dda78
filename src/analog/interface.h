// Analog intermediate records: a continuous control field and the measured
// calibration of a device. They only carry values. No Python here.
#pragma once

#include <vector>

namespace talvo::analog {

struct ContinuousFieldIR {
    std::vector<double> data;
};

struct HardwareDeltaModel {
    std::vector<double> calibration_data;
};

}  // namespace talvo::analog
