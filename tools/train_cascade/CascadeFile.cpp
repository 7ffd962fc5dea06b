#include "tools/train_cascade/CascadeFile.h"

#include <cstdint>
#include <cstdio>

#include "visionlib/DiskXFile.h"

namespace cascade_training {

void writeCascade(const std::string& path, const std::vector<Stage>& stages) {
    const std::string tmp = path + ".tmp";
    {
        vision::DiskXFile file(tmp.c_str(), "w");
        int32_t v = 19;
        file.taggedWrite(&v, 4, 1, "WIDTH");
        file.taggedWrite(&v, 4, 1, "HEIGHT");
        v = static_cast<int32_t>(stages.size());
        file.taggedWrite(&v, 4, 1, "N_STAGES");
        for (const Stage& s : stages) {
            file.taggedWrite(&s.threshold, 4, 1, "THRESHOLD");
            v = static_cast<int32_t>(s.weak.size());
            file.taggedWrite(&v, 4, 1, "N_TRAINERS");
        }
        for (const Stage& s : stages) {
            file.taggedWrite(s.weights.data(), 4, static_cast<int>(s.weights.size()), "WEIGHTS");
            for (const WeakClassifier& w : s.weak) {
                v = w.location;
                file.taggedWrite(&v, 4, 1, "LOCATION");
                file.taggedWrite(w.lut, 4, kCodes, "LUT");
            }
        }
    }
    std::rename(tmp.c_str(), path.c_str());
}

std::vector<Stage> readCascade(const std::string& path) {
    vision::DiskXFile file(path.c_str(), "r");
    int32_t v;
    file.taggedRead(&v, 4, 1, "WIDTH");
    file.taggedRead(&v, 4, 1, "HEIGHT");
    int32_t n = 0;
    file.taggedRead(&n, 4, 1, "N_STAGES");
    std::vector<Stage> stages(n > 0 ? n : 0);
    for (Stage& s : stages) {
        file.taggedRead(&s.threshold, 4, 1, "THRESHOLD");
        file.taggedRead(&v, 4, 1, "N_TRAINERS");
        s.weights.resize(v > 0 ? v : 0);
        s.weak.resize(s.weights.size());
    }
    for (Stage& s : stages) {
        file.taggedRead(s.weights.data(), 4, static_cast<int>(s.weights.size()), "WEIGHTS");
        for (WeakClassifier& w : s.weak) {
            file.taggedRead(&v, 4, 1, "LOCATION");
            w.location = v;
            file.taggedRead(w.lut, 4, kCodes, "LUT");
        }
    }
    return stages;
}

std::vector<Stage> acceptAllCascade() {
    Stage s;
    s.threshold = -1;
    s.weights.push_back(1.0f);
    s.weak.push_back(WeakClassifier{});
    return {s};
}

}  // namespace cascade_training
