#pragma once
// MCT codes of windows of one gray frame, computed by the detector's own classes: the frame scaled
// to 0..1 as the tracker scales it, its integral image, and one ipMCT per mask location.
#include <cstdint>
#include <string>
#include <vector>

#include "detection/ipIntegralImage.h"
#include "detection/ipMCT.h"
#include "tools/facekit/Images.h"

namespace facekit {

// Mask locations of a 3 x 3 block in the 19 x 19 pattern (17 x 17), one code each.
constexpr int kLocations = 289;

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

}  // namespace facekit
