#pragma once
// Turns one cluster of overlapping detections into a single pattern.
#include "detection/Pattern.h"

namespace vision {

class PatternMerger : public Object {
public:
    bool verbose;
    int count;  // patterns added since the last reset

    PatternMerger();

    virtual void reset() = 0;
    virtual void add(const Pattern& p) = 0;
    virtual bool merge(Pattern& out) = 0;
};

// Mean of the boxes' centres and sizes, of the scales, views and confidences.
class meanRectPatternMerger : public PatternMerger {
public:
    real sum_cx, sum_cy, sum_w, sum_h, sum_scale, sum_view, sum_confidence;
    real max_confidence;

    meanRectPatternMerger();
    void reset() override;
    void add(const Pattern& p) override;
    bool merge(Pattern& out) override;
};

// Keeps the most confident pattern of the cluster.
class maxRectPatternMerger : public PatternMerger {
public:
    Pattern best;
    real best_confidence;

    maxRectPatternMerger();
    void reset() override;
    void add(const Pattern& p) override;
    bool merge(Pattern& out) override;
};

}  // namespace vision
