#pragma once
// DCT-mod2 features: overlapping N x N blocks, each DCT-transformed; the lowest delta_keep
// coefficients are replaced by their vertical and horizontal differences to the neighbouring
// blocks. One output frame of dct_dim + delta_keep reals per inner block.
#include "visionlib/ipCore.h"

namespace vision {

class ipDCT2D;

class ipDCTmod2 : public ipCore {
public:
    int width;
    int height;
    int step;  // block_size - overlap
    int row_offset;
    int col_offset;
    Sequence* block;  // the current block
    real* frame;
    real* dct;  // n_block_in x dct_dim, block b at b x dct_dim
    real* horizontal_delta;
    real* vertical_delta;
    int rowblocks_in;
    int colblocks_in;
    int n_block_in;
    int output_size;  // dct_dim + delta_keep
    int n_block_out;
    int rowblocks_out;
    int colblocks_out;
    ipDCT2D* dct2d;
    int dct_dim;
    int block_size;
    int overlap;
    int delta_neighbour;
    int delta_keep;

    // Every invalid parameter is fatal here, never later.
    ipDCTmod2(int width, int height, const char* coding, int dct_dim, int block_size, int overlap,
              int delta_neighbour, int delta_keep);
    ~ipDCTmod2() override;
    void process(Sequence* input) override;
};

}  // namespace vision
