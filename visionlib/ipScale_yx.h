#pragma once
// Resamples an image by area averaging, first along y (rows), then along x. Values are limited to
// 255 from above.
#include "visionlib/ipCore.h"

namespace vision {

class ipScale_yx : public ipCore {
public:
    int width;
    int height;
    int width_out;
    int height_out;
    int buffer_size;  // (width_out + 3 x width) x n_planes
    real* buffer;

    ipScale_yx(int width, int height, const char* coding, int width_out, int height_out);
    ~ipScale_yx() override;
    void process(Sequence* input) override;
    int getOutputWidth() override;
    int getOutputHeight() override;
    void setOutputSize(int width, int height) override;
    virtual void setInputSize(int width, int height);

private:
    void makeBuffer();
    void scalePlane(const real* src, real* dst, int plane);
};

}  // namespace vision
