#include "visionlib/ipNormBestFitLinear.h"

#include <cmath>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/SmallMatrixOps.h"

namespace vision {

ipNormBestFitLinear::ipNormBestFitLinear(int width_, int height_, const char* coding_)
    : ipCore(coding_), width(width_), height(height_) {
    output = new (allocator) Sequence(2, n_planes * width * height);
    mat_ops = new SmallMatrixOps(3);
    x = (real*)allocator->alloc(3 * sizeof(real));
    b = (real*)allocator->alloc(3 * sizeof(real));
    p = (real*)allocator->alloc(3 * sizeof(real));
    A = newMatrix();
    A_inverse = newMatrix();
    product = newMatrix();
}

real** ipNormBestFitLinear::newMatrix() {
    real** m = (real**)allocator->alloc(3 * sizeof(real*));
    for (int i = 0; i < 3; i++) {
        m[i] = (real*)allocator->alloc(3 * sizeof(real));
        for (int j = 0; j < 3; j++) m[i][j] = 0;
    }
    return m;
}

ipNormBestFitLinear::~ipNormBestFitLinear() { delete mat_ops; }

void ipNormBestFitLinear::process(Sequence* input) {
    if (coding_id != CODING_GRAY) {
        message("ipNormBestFitLinear::process() not implemented for RGB, YUV and float format");
        return;
    }
    const real* src = input->frames[0];
    real* norm = output->frames[0];
    real* plane = output->frames[1];
    const long n = (long)width * height;

    mat_ops->zeroVector(x);
    mat_ops->zeroVector(b);
    mat_ops->zeroMatrix(A);
    mat_ops->zeroMatrix(product);
    real sum = 0;
    for (int yy = 0; yy < height; yy++)
        for (int xx = 0; xx < width; xx++) {
            const real v = src[(long)yy * width + xx];
            x[0] = (real)xx;
            x[1] = (real)yy;
            x[2] = 1;
            mat_ops->outerProduct(product, x, x);
            mat_ops->addMatrix(A, product);
            for (int i = 0; i < 3; i++) b[i] += x[i] * v;
            sum += v;
        }
    const real mean = n > 0 ? sum / (real)n : 0;

    const double det = mat_ops->invert(A_inverse, A);
    if (verbose) print(" + mean src = %g\n", mean);
    bool singular = !(det != 0) || !std::isfinite(det);
    if (!singular) {
        mat_ops->transpose(A_inverse);
        mat_ops->vectorTimesMatrix(p, b, A_inverse);
        singular = !std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]);
    }
    if (singular) {
        // No plane is defined (a single row or column): keep the image as it is.
        memcpy(norm, src, sizeof(real) * n);
        for (long i = 0; i < n; i++) plane[i] = mean;
        return;
    }

    for (int yy = 0; yy < height; yy++)
        for (int xx = 0; xx < width; xx++) {
            const long i = (long)yy * width + xx;
            const real pl = (real)xx * p[0] + (real)yy * p[1] + p[2];
            plane[i] = pl;
            real v = src[i] - (pl - mean);
            if (v < 0) v = 0;
            if (v > 255) v = 255;
            norm[i] = v;
        }
}

}  // namespace vision
