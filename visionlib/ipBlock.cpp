#include "visionlib/ipBlock.h"

#include <cmath>
#include <cstring>

namespace vision {

namespace {

bool extract(const real* image, int width, int height, int x, int y, int bw, int bh, int np,
             real* block) {
    if (image == nullptr || block == nullptr || bw < 1 || bh < 1) return false;
    // Columns of the block that fall inside the image.
    const long c0 = x < 0 ? -(long)x : 0;
    long c1 = (long)width - x;
    if (c1 > bw) c1 = bw;
    for (int r = 0; r < bh; r++) {
        real* out = block + (long)r * bw * np;
        const long yy = (long)y + r;
        if (yy < 0 || yy >= height || c1 <= c0) {
            memset(out, 0, sizeof(real) * bw * np);
            continue;
        }
        if (c0 > 0) memset(out, 0, sizeof(real) * c0 * np);
        memcpy(out + c0 * np, image + (yy * width + x + c0) * np, sizeof(real) * (c1 - c0) * np);
        if (c1 < bw) memset(out + c1 * np, 0, sizeof(real) * (bw - c1) * np);
    }
    return true;
}

}  // namespace

bool extractBlock(const real* image, int width, int height, int x, int y, int block_width,
                  int block_height, real* block) {
    return extract(image, width, height, x, y, block_width, block_height, 1, block);
}

bool extractBlockRGB(const real* image, int width, int height, int x, int y, int block_width,
                     int block_height, real* block) {
    return extract(image, width, height, x, y, block_width, block_height, 3, block);
}

bool insertBlock(const real* block, real* image, int width, int height, int x, int y,
                 int block_width, int block_height) {
    if (image == nullptr || block == nullptr) return false;
    for (int r = 0; r < block_height; r++) {
        const long yy = (long)y + r;
        if (yy < 0 || yy >= height) continue;
        for (int c = 0; c < block_width; c++) {
            const long xx = (long)x + c;
            if (xx < 0 || xx >= width) continue;
            image[yy * width + xx] = block[(long)r * block_width + c];
        }
    }
    return true;
}

real log2real(real x) { return (real)(std::log((double)x) / std::log(2.0)); }

void rescaleImage(real* image, int width, int height, real scale) {
    const long n = (long)width * height;
    if (n <= 0) return;
    real lo = image[0], hi = image[0];
    for (long i = 1; i < n; i++) {
        if (image[i] < lo) lo = image[i];
        if (image[i] > hi) hi = image[i];
    }
    const real range = hi - lo;
    for (long i = 0; i < n; i++) image[i] = range > 0 ? (image[i] - lo) * scale / range : 0;
}

}  // namespace vision
