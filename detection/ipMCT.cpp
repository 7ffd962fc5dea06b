#include "detection/ipMCT.h"

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

ipMCT::ipMCT(int width_pattern, int height_pattern, int x_mask_, int y_mask_, int mask_size_)
    : ipCore("gray"), x_mask(x_mask_), y_mask(y_mask_), mask_size(mask_size_), pattern_size(width_pattern),
      width_image(0), height_image(0), x_window(0), y_window(0), window_size(width_pattern), scale(1),
      corner_x(0), corner_y(0), m(0), cut(0), cut2(0), corner_stale(true) {
    if (width_pattern != height_pattern) error("ipMCT: not designed for width_pattern != height_pattern");
    output = new (allocator) Sequence(1, 1);
    output->frames[0][0] = 0;
    updateGeometry();
}

void ipMCT::setImageSize(int width, int height) {
    width_image = width;
    height_image = height;
}

void ipMCT::updateGeometry() {
    m = detectorRound(scale * (real)mask_size);
    cut = detectorRound((real)m * 0.33333334f);
    cut2 = m - cut;
}

void ipMCT::setSize(int size) {
    if (size == window_size) return;
    window_size = size;
    scale = (real)size / (real)pattern_size;
    updateGeometry();
    corner_stale = true;
}

void ipMCT::setXY(int x, int y) {
    if (x == x_window && y == y_window) return;
    x_window = x;
    y_window = y;
    corner_stale = true;
}

void ipMCT::process(Sequence* integral) {
    if (corner_stale) {
        corner_x = x_window + cornerDx();
        corner_y = y_window + cornerDy();
        corner_stale = false;
    }
    const real* ii = integral->frames[0];
    const int W = width_image;
    const int at[4] = {0, cut, cut2, m};
    real v[4][4];
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) v[r][c] = ii[(corner_y + at[r]) * W + corner_x + at[c]];
    output->frames[0][0] = (real)mctCode(v);
}

}  // namespace vision
