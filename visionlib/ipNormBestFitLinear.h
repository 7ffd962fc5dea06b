#pragma once
// Illumination normalisation: fits a plane p0 x + p1 y + p2 to the image by least squares and
// removes it, keeping the mean. Output frame 0 is the normalised image (0..255), frame 1 the plane.
#include "visionlib/ipCore.h"

namespace vision {

class SmallMatrixOps;

class ipNormBestFitLinear : public ipCore {
public:
    int width;
    int height;
    SmallMatrixOps* mat_ops;  // 3x3
    real* x;
    real* b;
    real* p;
    real** A;
    real** A_inverse;
    real** product;

    ipNormBestFitLinear(int width, int height, const char* coding);
    ~ipNormBestFitLinear() override;
    // When the fit is singular (width or height 1) frame 0 is the input unchanged and frame 1 the mean.
    void process(Sequence* input) override;

private:
    real** newMatrix();
};

}  // namespace vision
