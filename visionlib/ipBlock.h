#pragma once
// Cutting blocks out of images of reals (and the few helpers that go with it).
#include "visionlib/Object.h"

namespace vision {

// Copies the block_width x block_height block whose top-left corner is (x, y) out of a
// width x height image, row by row. Every element outside the image (left, right, above or below,
// negative corners included) reads as 0, so the block is always filled. False only for null
// buffers or an empty block.
bool extractBlock(const real* image, int width, int height, int x, int y, int block_width,
                  int block_height, real* block);
// The same for images of 3 reals per pixel, whole pixels at a time.
bool extractBlockRGB(const real* image, int width, int height, int x, int y, int block_width,
                     int block_height, real* block);
// Writes a block back into the image, skipping the elements that fall outside it.
bool insertBlock(const real* block, real* image, int width, int height, int x, int y,
                 int block_width, int block_height);
inline int linearIndex(int x, int y, int width) { return y * width + x; }
real log2real(real x);
// Rescales a width x height image to 0 .. scale by (v - min) x scale / (max - min); a constant
// image becomes 0.
void rescaleImage(real* image, int width, int height, real scale);

}  // namespace vision
