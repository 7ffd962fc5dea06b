#pragma once
// The window classifier that the scanner drives: the caller places a window with setSize / setX / setY,
// then process() decides whether it holds a pattern.
#include <cstdint>

#include "visionlib/ipCore.h"

namespace vision {

class ipSubWindow : public ipCore {
public:
    int width_pattern;   // the model's pattern size
    int height_pattern;
    int width_image;     // the integral image's row length and row count
    int height_image;
    int16_t x;           // the window under test; -1 after construction
    int16_t y;
    int16_t window_width;
    int16_t window_height;
    real threshold;
    bool is_pattern;     // the last window tested is a pattern
    int view;            // view of the last accepted window

    ipSubWindow(int width_image, int height_image, int width_pattern, int height_pattern, real threshold);

    virtual void setX(int x);
    virtual void setY(int y);
    virtual void setSize(int width, int height);
    virtual void stat();
    virtual int getModelWidth() const { return width_pattern; }

    // Confidence of the last window tested.
    real confidence() const { return output->frames[0][0]; }

    // The outcome of one window of processRow().
    struct Decision {
        bool is_pattern;
        real confidence;
        int view;
    };
    // Decides the windows (xs[i], y), i < n, of the current size, xs ascending, as setX / setY / process
    // would one after the other, and leaves the classifier as the last of them leaves it. A classifier that
    // can decide several windows at once does so here.
    virtual void processRow(Sequence* input, int y, const int* xs, int n, Decision* out);
    // Rows of windows of the current size, step_x and step_y apart, follow over the integral image as it is
    // now: until the next beginScan() or change of size, processRow() may reuse what it computed from the
    // image.
    virtual void beginScan(int step_x, int step_y) {}
};

}  // namespace vision
