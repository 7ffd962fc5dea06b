#pragma once
// Orthonormal 2-D DCT-II of one N x N block (8 <= N <= 64); keeps the first dct_dim coefficients
// in zig-zag order. Output: 1 frame of dct_dim reals.
#include "visionlib/ipCore.h"

namespace vision {

class ipDCT2D : public ipCore {
public:
    real* normalisation;  // N x N, entry (u, v) at u N + v
    real* basis;          // N^4, entry (u, v, i, j) at ((u N + v) N + i) N + j
    int* zigzag;          // N x N pairs (u, v): u the vertical, v the horizontal frequency
    int block_size;
    int dct_dim;

    // Block sizes outside 8..64 and dct_dim outside 1..N x N are fatal.
    ipDCT2D(int block_size, const char* coding, int dct_dim);
    ~ipDCT2D() override;
    // Frame 0 of input: the block, N x N reals row by row.
    void process(Sequence* input) override;
    // Same on a bare block, into dct_dim reals.
    void transform(const real* block, real* coefficients) const;
};

}  // namespace vision
