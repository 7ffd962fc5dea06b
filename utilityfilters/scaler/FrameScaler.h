#pragma once
// Scales one video frame into another of any size, keeping the picture's aspect ratio: the picture is
// made as large as fits, centred, and the rest of the output is filled with a colour. Shrinking
// averages source pixels by area, enlarging blends two neighbours; each direction picks its own pass.
// The plan is worked out once per pair of frame sizes.
#include <cstdint>

#include "visionlib/filter/RgbFrame.h"

class FrameScaler {
public:
    // Plan keys: the sizes and format the current plan was made for.
    int32_t inWidth, inHeight, outWidth, outHeight;
    int32_t format;
    int32_t inBytesPerPixel;
    float inAspect, outAspect;
    // Size of the scaled picture inside the output.
    unsigned targetWidth, targetHeight;
    float hScale, vScale;
    // Factor <= 1: area pass; above 1: two-tap pass.
    bool verticalDown;
    bool horizontalDown;
    // Fraction of the current source pixel / row already used by the previous output pixel / row.
    float hCarry, vCarry;
    // Source pixels / rows to advance after the current output pixel / row.
    int32_t hSteps, vSteps;

    FrameScaler() { reset(); }
    ~FrameScaler() {}

    // colour: bytes per pixel of the frames, in memory order. Frames of different or unknown formats,
    // or with a size that is not positive, are left alone.
    void scale(const vision::RgbFrame& in, vision::RgbFrame& out, const unsigned char* colour);
    void plan(const vision::RgbFrame& in, const vision::RgbFrame& out);
    void reset();

private:
    void scaleRows(const vision::RgbFrame& in, vision::RgbFrame& out);
    void passV(const vision::RgbFrame& in, int y, int x, float* acc);
    void areaPassV(const vision::RgbFrame& in, int y, int x, float* acc);
    void twoTapPassV(const vision::RgbFrame& in, int y, int x, float* acc);
    void passH(const unsigned char* row, int x, float* acc);
    void areaPassH(const unsigned char* row, int x, float* acc);
    void twoTapPassH(const unsigned char* row, int x, float* acc);
    const unsigned char* sourceRow(const vision::RgbFrame& in, int y) const;
    const unsigned char* sourcePixel(const unsigned char* row, int x) const;
};
