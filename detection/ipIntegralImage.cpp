#include "detection/ipIntegralImage.h"

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

ipIntegralImage::ipIntegralImage(int width_, int height_, const char* coding_, bool squares_)
    : ipCore(coding_), width(width_), height(height_), squares(squares_) {
    if (width <= 0 || height <= 0)
        error("ipIntegralImage: wrong image size (%dx%d).", width, height);
    output = new (allocator) Sequence(squares ? 2 : 1, width * height);
    for (int f = 0; f < output->n_frames; f++)
        for (int i = 0; i < width * height; i++) output->frames[f][i] = 0;
}

void ipIntegralImage::process(Sequence* input) {
    switch (coding_id) {
        case CODING_RGB:
            message("ipIntegralImage::process() not implemented for RGB format");
            return;
        case CODING_YUV:
            message("ipIntegralImage::process() not implemented for YUV format");
            return;
        case CODING_FLOAT:
            message("ipIntegralImage::process() not implemented for float format");
            return;
        default:
            break;
    }
    const real* src = input->frames[0];
    real* ii = output->frames[0];
    real* sq = squares ? output->frames[1] : nullptr;

    real run = 0, run_sq = 0;
    for (int x = 0; x < width; x++) {
        const real v = src[x];
        run += v;
        ii[x] = run;
        if (sq) {
            run_sq += v * v;
            sq[x] = run_sq;
        }
    }
    for (int y = 1; y < height; y++) {
        const real* s = src + y * width;
        const real* prev = ii + (y - 1) * width;
        real* row = ii + y * width;
        run = 0;
        if (sq) {
            const real* prev_sq = sq + (y - 1) * width;
            real* row_sq = sq + y * width;
            run_sq = 0;
            for (int x = 0; x < width; x++) {
                const real v = s[x];
                run += v;
                run_sq += v * v;
                row[x] = prev[x] + run;
                row_sq[x] = prev_sq[x] + run_sq;
            }
        } else {
            for (int x = 0; x < width; x++) {
                run += s[x];
                row[x] = prev[x] + run;
            }
        }
    }
}

}  // namespace vision
