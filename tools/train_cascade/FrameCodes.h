#pragma once
// MCT codes of windows of one gray frame, computed by the detector's own classes: the frame scaled
// to 0..1 as the tracker scales it, its integral image, and one ipMCT per mask location.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detection/ipIntegralImage.h"
#include "detection/ipMCT.h"
#include "tools/train_cascade/Boosting.h"

namespace cascade_training {

struct GrayFrame {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;  // rows from the top
    unsigned char at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The ".pgm" files of a folder as full paths, in byte order of their names.
std::vector<std::string> listPgm(const std::string& dir);
bool loadPgm(const std::string& path, GrayFrame* frame);
GrayFrame mirrored(const GrayFrame& frame);
// Bilinear sample at (x, y), clamped to the frame, rounded to a byte.
unsigned char bilinear(const GrayFrame& frame, float x, float y);

class FrameCodes {
public:
    explicit FrameCodes(const GrayFrame& frame);
    ~FrameCodes();
    FrameCodes(const FrameCodes&) = delete;
    FrameCodes& operator=(const FrameCodes&) = delete;

    // Codes of the window (x, y, size) at every location; the window must lie at x, y >= 2 inside the frame.
    void codes(int x, int y, int size, uint16_t* out);

    int width() const { return width_; }
    int height() const { return height_; }
    vision::Sequence* normalised() { return normalised_; }
    vision::ipIntegralImage* integral() { return integral_; }

private:
    int width_, height_;
    vision::Sequence* normalised_;
    vision::ipIntegralImage* integral_;
    std::vector<vision::ipMCT*> masks_;
};

}  // namespace cascade_training
