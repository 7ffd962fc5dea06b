#include "detection/ipSubWindow.h"

#include "visionlib/Allocator.h"

namespace vision {

ipSubWindow::ipSubWindow(int width_image_, int height_image_, int width_pattern_, int height_pattern_,
                         real threshold_)
    : ipCore("gray"), width_pattern(width_pattern_), height_pattern(height_pattern_), width_image(width_image_),
      height_image(height_image_), x(-1), y(-1), window_width(-1), window_height(-1), threshold(threshold_),
      is_pattern(false), view(0) {
    output = new (allocator) Sequence(1, 1);
    output->frames[0][0] = 0;
}

void ipSubWindow::setX(int x_) { x = (int16_t)x_; }
void ipSubWindow::setY(int y_) { y = (int16_t)y_; }
void ipSubWindow::setSize(int width, int height) {
    window_width = (int16_t)width;
    window_height = (int16_t)height;
}
void ipSubWindow::stat() {}

void ipSubWindow::processRow(Sequence* input, int y_, const int* xs, int n, Decision* out) {
    setY(y_);
    for (int i = 0; i < n; i++) {
        setX(xs[i]);
        process(input);
        out[i] = {is_pattern, confidence(), view};
    }
}

}  // namespace vision
