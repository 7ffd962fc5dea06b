#include "visionlib/ipDCTmod2.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/ipBlock.h"
#include "visionlib/ipDCT2D.h"

namespace vision {

ipDCTmod2::ipDCTmod2(int width_, int height_, const char* coding_, int dct_dim_, int block_size_,
                     int overlap_, int delta_neighbour_, int delta_keep_)
    : ipCore(coding_),
      width(width_),
      height(height_),
      dct_dim(dct_dim_),
      block_size(block_size_),
      overlap(overlap_),
      delta_neighbour(delta_neighbour_),
      delta_keep(delta_keep_) {
    if (block_size < 1) error("ipDCTmod2: block size (%d) incorrect.", block_size);
    if (overlap < 0 || overlap > block_size - 1)
        error("ipDCTmod2: overlap should be in range [0...%d].", block_size - 1);
    if (delta_neighbour < 0) error("ipDCTmod2: delta neighbour (%d) incorrect.", delta_neighbour);
    if (delta_keep < 0 || delta_keep > dct_dim)
        error("ipDCTmod2: delta keep should be in range [0...%d].", dct_dim < 0 ? 0 : dct_dim);
    dct2d = new (allocator) ipDCT2D(block_size, coding_gray, dct_dim);
    output_size = dct_dim + delta_keep;

    step = block_size - overlap;
    rowblocks_in = height < block_size ? 0 : (height - block_size) / step + 1;
    colblocks_in = width < block_size ? 0 : (width - block_size) / step + 1;
    n_block_in = rowblocks_in * colblocks_in;
    row_offset = rowblocks_in > 0 ? (height - block_size - (rowblocks_in - 1) * step) / 2 : 0;
    col_offset = colblocks_in > 0 ? (width - block_size - (colblocks_in - 1) * step) / 2 : 0;
    rowblocks_out = rowblocks_in - 2 * delta_neighbour;
    colblocks_out = colblocks_in - 2 * delta_neighbour;
    if (rowblocks_out < 1 || colblocks_out < 1)
        error("ipDCTmod2::init() not possible for given image dimensions.");
    n_block_out = rowblocks_out * colblocks_out;

    block = new (allocator) Sequence(1, n_planes * block_size * block_size);
    memset(block->frames[0], 0, sizeof(real) * n_planes * block_size * block_size);
    frame = (real*)allocator->alloc(sizeof(real) * output_size);
    const long n_coef = (long)n_block_in * dct_dim;
    dct = (real*)allocator->alloc(sizeof(real) * n_coef);
    horizontal_delta = (real*)allocator->alloc(sizeof(real) * n_coef);
    vertical_delta = (real*)allocator->alloc(sizeof(real) * n_coef);
    memset(horizontal_delta, 0, sizeof(real) * n_coef);
    memset(vertical_delta, 0, sizeof(real) * n_coef);
    output = new (allocator) Sequence(n_block_out, output_size);
}

ipDCTmod2::~ipDCTmod2() {}

void ipDCTmod2::process(Sequence* input) {
    const real* image = input->frames[0];
    real* blk = block->frames[0];
    const int N = block_size;
    for (int r = 0; r < rowblocks_in; r++)
        for (int c = 0; c < colblocks_in; c++) {
            const int x = step * c + col_offset, y = step * r + row_offset;
            switch (coding_id) {
                case CODING_GRAY: extractBlock(image, width, height, x, y, N, N, blk); break;
                case CODING_RGB: extractBlockRGB(image, width, height, x, y, N, N, blk); break;
                case CODING_YUV: message("ipDCTmod2::process() not implemented for YUV format"); break;
                default: message("ipDCTmod2::process() not implemented for float format"); break;
            }
            dct2d->transform(blk, dct + ((long)r * colblocks_in + c) * dct_dim);
        }

    const int dn = delta_neighbour;
    for (int r = 0; r < rowblocks_in; r++)
        for (int c = dn; c < colblocks_in - dn; c++) {
            const long b = (long)r * colblocks_in + c;
            real* out = horizontal_delta + b * dct_dim;
            for (int i = 0; i < dct_dim; i++) {
                real s = 0;
                for (int k = -dn; k <= dn; k++) s += (real)k * dct[(b + k) * dct_dim + i];
                out[i] = s;
            }
        }
    for (int c = 0; c < colblocks_in; c++)
        for (int r = dn; r < rowblocks_in - dn; r++) {
            const long b = (long)r * colblocks_in + c;
            real* out = vertical_delta + b * dct_dim;
            for (int i = 0; i < dct_dim; i++) {
                real s = 0;
                for (int k = -dn; k <= dn; k++) s += (real)k * dct[(b + (long)k * colblocks_in) * dct_dim + i];
                out[i] = s;
            }
        }

    int written = 0;
    const int kept = dct_dim - delta_keep;
    for (int r = dn; r < rowblocks_in - dn; r++)
        for (int c = dn; c < colblocks_in - dn; c++) {
            const long b = (long)r * colblocks_in + c;
            real* out = output->frames[written];
            memcpy(out, dct + b * dct_dim + delta_keep, sizeof(real) * kept);
            memcpy(out + kept, vertical_delta + b * dct_dim, sizeof(real) * delta_keep);
            memcpy(out + kept + delta_keep, horizontal_delta + b * dct_dim, sizeof(real) * delta_keep);
            written++;
        }
    if (written != n_block_out) warning("ipDCTmod2::process() dump_block != n_block");
}

}  // namespace vision
