#pragma once
// Real AdaBoost over 512-bin look-up tables of MCT codes, one table per weak classifier.
// Samples are rows of 289 codes (one per mask location of the 19x19 pattern).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/facekit/FrameCodes.h"

namespace cascade_training {

using facekit::kLocations;
constexpr int kCodes = 512;

struct SampleSet {
    std::vector<uint16_t> codes;  // n x kLocations
    int size() const { return static_cast<int>(codes.size() / kLocations); }
    const uint16_t* row(int i) const { return &codes[static_cast<size_t>(i) * kLocations]; }
    void add(const uint16_t* row) { codes.insert(codes.end(), row, row + kLocations); }
    void clear() { codes.clear(); }
};

struct WeakClassifier {
    int location = 0;
    float lut[kCodes] = {};
};

struct Stage {
    float threshold = 0;
    std::vector<float> weights;
    std::vector<WeakClassifier> weak;
    // The detector's arithmetic: a float sum rounded after each addition, in classifier order.
    float score(const uint16_t* row) const {
        float sum = 0;
        for (size_t j = 0; j < weak.size(); ++j) sum = sum + weak[j].lut[row[weak[j].location]] * weights[j];
        return sum;
    }
};

struct StageGoal {
    int min_weak, max_weak;
    double hit_rate;     // fraction of training faces the stage must keep
    double false_rate;   // fraction of the stage's non-faces it may keep
};

struct StageReport {
    int n_weak = 0;
    double hit_rate = 0, false_rate = 0;
};

// Trains one stage on faces `pos` and non-faces `neg`; sets its threshold for goal.hit_rate.
Stage trainStage(const SampleSet& pos, const SampleSet& neg, const StageGoal& goal, StageReport* report);

// Threshold that keeps at least `hit_rate` of the scores (ties kept).
float thresholdForHitRate(std::vector<float> scores, double hit_rate);

}  // namespace cascade_training
