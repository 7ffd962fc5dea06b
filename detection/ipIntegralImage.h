#pragma once
// Integral image (and integral image of squares) of a gray frame: entry (x, y) sums columns 0..x, rows 0..y.
#include "visionlib/ipCore.h"

namespace vision {

class ipIntegralImage : public ipCore {
public:
    int width;
    int height;
    bool squares;  // output frame 1 holds the integral of squared values

    ipIntegralImage(int width, int height, const char* coding, bool squares);

    void process(Sequence* input) override;
    int getOutputWidth() override { return width; }
    int getOutputHeight() override { return height; }

    real* sums() const { return output->frames[0]; }
    real* sumsOfSquares() const { return squares ? output->frames[1] : nullptr; }
};

}  // namespace vision
