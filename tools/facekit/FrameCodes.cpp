#include "tools/facekit/FrameCodes.h"

namespace facekit {

FrameCodes::FrameCodes(const GrayFrame& frame) : width_(frame.width), height_(frame.height) {
    normalised_ = new vision::Sequence(1, width_ * height_);
    // The tracker's scaling: gray x (1/255) in single precision.
    const vision::real inv = 1.0f / 255.0f;
    for (int i = 0; i < width_ * height_; ++i) normalised_->frames[0][i] = (vision::real)frame.pixels[i] * inv;
    integral_ = new vision::ipIntegralImage(width_, height_, "gray", true);
    integral_->process(normalised_);
    masks_.resize(kLocations);
    for (int l = 0; l < kLocations; ++l) {
        masks_[l] = new vision::ipMCT(19, 19, l % 17, l / 17, 3);
        masks_[l]->setImageSize(width_, height_);
    }
}

FrameCodes::~FrameCodes() {
    for (vision::ipMCT* m : masks_) delete m;
    delete integral_;
    delete normalised_;
}

void FrameCodes::codes(int x, int y, int size, uint16_t* out) {
    for (int l = 0; l < kLocations; ++l) {
        vision::ipMCT* m = masks_[l];
        m->setSize(size);
        m->setXY(x, y);
        m->process(integral_->output);
        out[l] = static_cast<uint16_t>(m->code());
    }
}

}  // namespace facekit
