#include "visionlib/ipDCT2D.h"

#include <cmath>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

namespace {
constexpr int kMaxBlockSize = 64;
constexpr long double kPi = 3.141592653589793;
}  // namespace

ipDCT2D::ipDCT2D(int block_size_, const char* coding_, int dct_dim_)
    : ipCore(coding_), block_size(block_size_), dct_dim(dct_dim_) {
    if (block_size < 8) error("ipDCT2D(): Block size should not be smaller than 8.");
    if (block_size > kMaxBlockSize) error("ipDCT2D(): Block size should not exceed %d.", kMaxBlockSize);
    const int N = block_size;
    if (dct_dim < 1 || dct_dim > N * N)
        error("ipDCT2D(): dct_dim (%d) exceeds the total number of coefficients.", dct_dim);
    if (coding_id != CODING_GRAY) warning("2D DCT not implemented for rgb, yuv and float coding yet.");
    output = new (allocator) Sequence(1, dct_dim);

    zigzag = (int*)allocator->alloc(sizeof(int) * 2 * N * N);
    int k = 0;
    for (int d = 0; d <= 2 * N - 2; d++) {
        const int lo = d - N + 1 > 0 ? d - N + 1 : 0;
        const int hi = d < N - 1 ? d : N - 1;
        if (d % 2 == 1) {
            for (int u = hi; u >= lo; u--, k++) {
                zigzag[2 * k] = u;
                zigzag[2 * k + 1] = d - u;
            }
        } else {
            for (int u = lo; u <= hi; u++, k++) {
                zigzag[2 * k] = u;
                zigzag[2 * k + 1] = d - u;
            }
        }
    }

    // Sized for this block only: N^4 reals (16 KiB for N = 8).
    normalisation = (real*)allocator->alloc(sizeof(real) * N * N);
    basis = (real*)allocator->alloc(sizeof(real) * (long)N * N * N * N);
    long double* cosines = (long double*)allocator->alloc(sizeof(long double) * N * N);
    for (int f = 0; f < N; f++)
        for (int i = 0; i < N; i++) cosines[f * N + i] = cosl((2 * i + 1) * f * kPi / (2 * N));
    for (int u = 0; u < N; u++)
        for (int v = 0; v < N; v++) {
            const long double au = u == 0 ? 1 : 2, av = v == 0 ? 1 : 2;
            normalisation[u * N + v] = (real)(sqrtl(au / N) * sqrtl(av / N));
            real* b = basis + (long)(u * N + v) * N * N;
            for (int i = 0; i < N; i++)
                for (int j = 0; j < N; j++) b[i * N + j] = (real)(cosines[v * N + i] * cosines[u * N + j]);
        }
    allocator->free(cosines);
}

ipDCT2D::~ipDCT2D() {}

void ipDCT2D::transform(const real* f, real* out) const {
    const int N = block_size;
    for (int k = 0; k < dct_dim; k++) {
        const int u = zigzag[2 * k], v = zigzag[2 * k + 1];
        const real* b = basis + (long)(u * N + v) * N * N;
        long double sum = 0;
        for (int j = 0; j < N; j++) {
            const real* row = f + j * N;
            for (int i = 0; i < N; i++) sum += (long double)b[i * N + j] * row[i];
        }
        out[k] = (real)(normalisation[u * N + v] * sum);
    }
}

void ipDCT2D::process(Sequence* input) { transform(input->frames[0], output->frames[0]); }

}  // namespace vision
