#pragma once
// A frontal cascade of one stage with one weak classifier over 19 x 19 windows, whose look-up table
// holds one value everywhere: it accepts every window (or rejects every one).
#include <string>
#include <vector>

#include "visionlib/DiskXFile.h"

namespace fixtures {

inline void writeUniformCascade(const std::string& path, bool acceptAll, float value = 1.0f) {
    vision::DiskXFile f(path.c_str(), "w");
    const int size = 19, stages = 1, trainers = 1, location = 0;
    const float threshold = acceptAll ? -1000.0f : 1000.0f;
    const float weight = 1.0f;
    std::vector<float> lut(512, value);
    f.taggedWrite(&size, 4, 1, "WIDTH");
    f.taggedWrite(&size, 4, 1, "HEIGHT");
    f.taggedWrite(&stages, 4, 1, "N_STAGES");
    f.taggedWrite(&threshold, 4, 1, "THRESHOLD");
    f.taggedWrite(&trainers, 4, 1, "N_TRAINERS");
    f.taggedWrite(&weight, 4, 1, "WEIGHTS");
    f.taggedWrite(&location, 4, 1, "LOCATION");
    f.taggedWrite(lut.data(), 4, 512, "LUT");
}

}  // namespace fixtures
