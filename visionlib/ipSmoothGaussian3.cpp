#include "visionlib/ipSmoothGaussian3.h"

#include <cmath>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

ipSmoothGaussian3::ipSmoothGaussian3(int width_, int height_, const char* coding_, real sigma_)
    : ipCore(coding_), width(width_), height(height_), sigma(sigma_) {
    output = new (allocator) Sequence(1, n_planes * width * height);
    memset(output->frames[0], 0, sizeof(real) * (size_t)n_planes * width * height);

    kernel = (real*)allocator->alloc(9 * sizeof(real));
    int k = 0;
    for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++) kernel[k++] = (real)std::exp(-(real)(dx * dx + dy * dy) / sigma);
    real sum = 0;
    for (int i = 0; i < 9; i++) sum += kernel[i];
    const real s = (real)1 / sum;
    for (int i = 0; i < 9; i++) kernel[i] *= s;
}

ipSmoothGaussian3::~ipSmoothGaussian3() {}

void ipSmoothGaussian3::process(Sequence* input) {
    if (coding_id == CODING_YUV || coding_id == CODING_FLOAT) {
        message("ipSmoothGaussian3::process() not implemented for YUV and float format");
        return;
    }
    const real* src = input->frames[0];
    real* dst = output->frames[0];
    const int np = n_planes;
    for (int y = 0; y < height; y++) {
        const int rows[3] = {y > 0 ? y - 1 : 0, y, y < height - 1 ? y + 1 : height - 1};
        for (int x = 0; x < width; x++) {
            const int cols[3] = {x > 0 ? x - 1 : 0, x, x < width - 1 ? x + 1 : width - 1};
            for (int c = 0; c < np; c++) {
                double total = 0;
                for (int r = 0; r < 3; r++) {
                    const real* row = src + (long)rows[r] * width * np;
                    for (int q = 0; q < 3; q++) total += (double)kernel[r * 3 + q] * row[cols[q] * np + c];
                }
                dst[((long)y * width + x) * np + c] = (real)total;
            }
        }
    }
}

}  // namespace vision
