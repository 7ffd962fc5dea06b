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

std::vector<Stage> acceptAllCascade() {
    Stage s;
    s.threshold = -1;
    s.weights.push_back(1.0f);
    s.weak.push_back(WeakClassifier{});
    return {s};
}

}  // namespace cascade_training
