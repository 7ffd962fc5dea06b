#pragma once
// Cascade files for tests: a writer for hand-made stages (also for deliberately broken files) and a
// template cascade whose weak classifiers each recognise the census code of one 19 x 19 pattern.
#include <array>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/XFile.h"

namespace cascade_fixture {

const int kPattern = 19;
const int kLocations = (kPattern - 2) * (kPattern - 2);  // 289

struct Weak {
    int location = 0;
    float weight = 1.0f;
    std::array<float, 512> lut{};  // zeros
};

struct Stage {
    float threshold = 0.0f;
    std::vector<Weak> weak;
};

struct Cascade {
    int width = kPattern;
    int height = kPattern;
    std::vector<Stage> stages;
};

// Writes the records in the file layout: sizes, stage thresholds and counts, then per stage the weights
// followed by each weak classifier's location and table.
inline void write(const std::string& path, const Cascade& c) {
    vision::DiskXFile f(path.c_str(), "w");
    int n = (int)c.stages.size();
    f.taggedWrite(&c.width, 4, 1, "WIDTH");
    f.taggedWrite(&c.height, 4, 1, "HEIGHT");
    f.taggedWrite(&n, 4, 1, "N_STAGES");
    for (const Stage& s : c.stages) {
        int nt = (int)s.weak.size();
        f.taggedWrite(&s.threshold, 4, 1, "THRESHOLD");
        f.taggedWrite(&nt, 4, 1, "N_TRAINERS");
    }
    for (const Stage& s : c.stages) {
        std::vector<float> w;
        for (const Weak& k : s.weak) w.push_back(k.weight);
        f.taggedWrite(w.data(), 4, (int)w.size(), "WEIGHTS");
        for (const Weak& k : s.weak) {
            f.taggedWrite(&k.location, 4, 1, "LOCATION");
            f.taggedWrite(k.lut.data(), 4, 512, "LUT");
        }
    }
}

// Census code of the 3 x 3 pixel block at a mask location of a 19 x 19 pattern (row-major values), with
// the detector's comparison: a pixel is 1 when it exceeds the block's sum times 0.111111.
inline int templateCode(const float* pattern, int location) {
    const int x0 = location % (kPattern - 2), y0 = location / (kPattern - 2);
    float sum = 0;
    for (int dy = 0; dy < 3; dy++)
        for (int dx = 0; dx < 3; dx++) sum += pattern[(y0 + dy) * kPattern + x0 + dx];
    const float mean = (float)((double)sum * 0.111111);
    int code = 0;
    for (int dy = 0; dy < 3; dy++)
        for (int dx = 0; dx < 3; dx++) code = (code << 1) | (pattern[(y0 + dy) * kPattern + x0 + dx] > mean);
    return code;
}

// One stage with a weak classifier per mask location: each scores 1 when the window's code at its location
// is the pattern's. The stage passes windows that match at least `min_fraction` of the locations, so its
// confidence is the number of matching locations.
inline Cascade templateCascade(const float* pattern, float min_fraction) {
    Cascade c;
    Stage s;
    s.threshold = min_fraction * kLocations;
    for (int l = 0; l < kLocations; l++) {
        Weak w;
        w.location = l;
        w.lut[templateCode(pattern, l)] = 1.0f;
        s.weak.push_back(w);
    }
    c.stages.push_back(s);
    return c;
}

}  // namespace cascade_fixture

#include <cstdlib>
#include <unistd.h>

namespace cascade_fixture {

using TempDir = testutil::TempDir;

}  // namespace cascade_fixture
