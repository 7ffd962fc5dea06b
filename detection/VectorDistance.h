#pragma once
// Small distance measures between two float vectors of a fixed dimension.
#include "visionlib/Object.h"

namespace vision {

class VectorDistance : public Object {
public:
    bool verbose;
    int dimension;

    explicit VectorDistance(int dimension);
    virtual float distance(const float* a, const float* b) = 0;
};

// One minus the correlation coefficient: 0 for vectors that rise together, 2 for opposite ones.
// Not a number when either vector is constant.
class StdCorrelationDistance : public VectorDistance {
public:
    explicit StdCorrelationDistance(int dimension) : VectorDistance(dimension) {}
    float distance(const float* a, const float* b) override;
};

class L1Distance : public VectorDistance {
public:
    explicit L1Distance(int dimension) : VectorDistance(dimension) {}
    float distance(const float* a, const float* b) override;
};

class EuclideanDistance : public VectorDistance {
public:
    explicit EuclideanDistance(int dimension) : VectorDistance(dimension) {}
    float distance(const float* a, const float* b) override;
};

}  // namespace vision
