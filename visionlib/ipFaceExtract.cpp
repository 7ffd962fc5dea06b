#include "visionlib/ipFaceExtract.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "visionlib/FaceModel.h"
#include "visionlib/Message.h"
#include "visionlib/Random.h"
#include "visionlib/ipBlock.h"
#include "visionlib/ipRotate.h"
#include "visionlib/ipScale_yx.h"

namespace vision {

ipFaceExtract::ipFaceExtract(int width_, int height_, int model_width_, int model_height_,
                             const char* coding_, FaceModel* model_, real angle_, int n_shift_,
                             int n_scale_, int n_rotation_, int n_samples_)
    : ipCore(coding_),
      n_shift(n_shift_),
      n_scale(n_scale_),
      n_rotation(n_rotation_),
      angle(angle_),
      n_samples(n_samples_),
      model(model_),
      width(width_),
      height(height_),
      model_width(model_width_),
      model_height(model_height_),
      input_width(width_),
      input_height(height_) {
    if (coding_id != CODING_GRAY) error("ipFaceExtract supports only 'gray' coding. (because of ipScale_yx");
    output = new (allocator) Sequence(n_samples, n_planes * model_width * model_height);
    for (int k = 0; k < n_samples; k++)
        memset(output->frames[k], 0, sizeof(real) * (size_t)n_planes * model_width * model_height);
}

ipFaceExtract::~ipFaceExtract() {}

int ipFaceExtract::getOutputWidth() { return model_width; }

int ipFaceExtract::getOutputHeight() { return model_height; }

void ipFaceExtract::process(Sequence* input) {
    const double roll = model->rollAngle();
    real a = (real)(roll * 57.29577951308232);
    if (a > -1 && a < 1) a = 0;

    // Level the eyes: the frame turns about its centre and the landmarks move with it. Only the
    // parts of the turned frame that a crop needs are computed, unless a jittered rotation needs
    // the whole of it.
    // Owned here so that a refused face unwinding through a recoverable scope frees it.
    std::unique_ptr<ipRotate> rotation(new ipRotate(a, input_width, input_height, coding_gray));
    rotation->setBoolOption("verbose", verbose);
    width = rotation->getOutputWidth();
    height = rotation->getOutputHeight();
    bool levelled = false;
    if (roll != 0) model->transformPoints(rotation.get());

    if (!model->ldm2bbx()) error("ipFaceExtract::process() impossible to create the face model from eyes coordinates.");

    for (int k = 0; k < n_samples; k++) {
        int x = (int)model->bbx_points[0].x;
        int y = (int)model->bbx_points[0].y;
        int w = model->bbx_width;
        int h = model->bbx_height;
        const int cx = (int)model->bbx_center[0];
        const int cy = (int)model->bbx_center[1];
        const real r =
            FaceExtract::computeRandomBox(n_shift, n_scale, n_rotation, &x, &y, &w, &h, model_width, model_height) +
            angle;
        if (w < 1) w = 1;
        if (h < 1) h = 1;
        // Eyes far apart give a box of millions of pixels a side: its size overflows an int and its
        // crop could not be held. A face is never much larger than the frame it is seen in.
        const long long limit = 4LL * (width > height ? width : height);
        if (w > limit || h > limit || (long long)w * h > INT_MAX)
            error("ipFaceExtract::process() impossible to create the face model from eyes coordinates.");
        Sequence crop(1, w * h);
        if (r == 0) {
            rotation->processWindow(input, x, y, w, h, crop.frames[0]);
        } else {
            if (!levelled) {
                rotation->process(input);
                levelled = true;
            }
            ipRotate turn(r, width, height, coding_gray);
            turn.process(rotation->output);
            int ox, oy;
            turn.forwardPoint(cx, cy, &ox, &oy);
            extractBlock(turn.output->frames[0], turn.width_out, turn.height_out, ox - w / 2, oy - h / 2, w, h,
                         crop.frames[0]);
        }
        ipScale_yx scale(w, h, coding_gray, model_width, model_height);
        scale.process(&crop);
        const real* scaled = scale.output->frames[0];
        real* out = output->frames[k];
        const int n = model_width * model_height;
        for (int i = 0; i < n; i++) out[i] = (real)(int)(scaled[i] + 0.5f);
    }
}

real FaceExtract::computeRandomBox(int n_shift, int n_scale, int n_rotation, int* x, int* y, int* w, int* h,
                                   int model_width, int model_height) {
    int total = 1;
    if (n_shift > 0) total = 9 * n_shift;
    if (n_scale > 0) total *= 3 * n_scale;
    if (n_rotation > 0) total *= 3 * n_rotation;
    const real u = Random::uniform();
    int index = (int)(u * total);
    if (index >= total) index = total - 1;

    // Mixed-radix digits, most significant first.
    int radix = total;
    auto digit = [&](int count) {
        radix /= count;
        const int d = index / radix;
        index %= radix;
        return d;
    };
    real rotation = 0;
    if (n_rotation > 0) {
        const int level = digit(n_rotation);
        const int dir = digit(3);
        rotation = dir == 0 ? -5.0f * (level + 1) : dir == 2 ? 5.0f * (level + 1) : 0.0f;
    }
    int scale_level = 0, scale_dir = 1;
    if (n_scale > 0) {
        scale_level = digit(n_scale);
        scale_dir = digit(3);
    }
    if (n_shift > 0) {
        const int level = digit(n_shift);
        const int dir = digit(9);
        const int dx = (int)((level + 1) * ((real)*w / model_width));
        const int dy = (int)((level + 1) * ((real)*h / model_height));
        static const int sx[9] = {0, -1, 0, 1, 1, 1, 0, -1, -1};
        static const int sy[9] = {0, -1, -1, -1, 0, 1, 1, 1, 0};
        *x += sx[dir] * dx;
        *y += sy[dir] * dy;
    }
    if (n_scale > 0) {
        const real f = scale_dir == 0 ? 1 - 0.1f * (scale_level + 1) : scale_dir == 2 ? 1 + 0.1f * (scale_level + 1) : 1;
        const int w2 = (int)(*w * f + 0.5f);
        const int h2 = (int)(*h * f + 0.5f);
        *x -= (int)(((w2 - *w) / 2) + 0.5f);
        *y -= (int)(((h2 - *h) / 2) + 0.5f);
        *w = w2;
        *h = h2;
    }
    return rotation;
}

}  // namespace vision
