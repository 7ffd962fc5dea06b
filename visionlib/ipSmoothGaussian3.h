#pragma once
// 3x3 Gaussian smoothing with clamp-to-edge borders.
#include "visionlib/ipCore.h"

namespace vision {

class ipSmoothGaussian3 : public ipCore {
public:
    int width;
    int height;
    real sigma;
    real* kernel;  // 9 weights, dy = -1..1, within a row dx = -1..1; exp(-(dx^2 + dy^2) / sigma), sum 1

    ipSmoothGaussian3(int width, int height, const char* coding, real sigma);
    ~ipSmoothGaussian3() override;
    void process(Sequence* input) override;
};

}  // namespace vision
