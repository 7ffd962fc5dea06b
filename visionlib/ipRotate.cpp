#include "visionlib/ipRotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/ipShift.h"

namespace vision {

namespace {

const double kPi = 3.141592653589793;

double wrapDegrees(double a) {
    while (a < 0) a += 360;
    while (a >= 360) a -= 360;
    return a;
}

// Moves a line of n values (stride s_step) by offset + weight into a line of m values (stride
// d_step), blending neighbours linearly; the rest of the destination becomes 0.
void shiftLine(const real* s, long s_step, int n, real* d, long d_step, int m, long offset,
               double weight) {
    for (long p = 0; p < offset && p < m; p++) d[p * d_step] = 0;
    double previous = 0;
    for (int i = 0; i < n; i++) {
        const double v = s ? s[i * s_step] : 0;
        const double part = v * weight;
        const long p = i + offset;
        if (p >= 0 && p < m) d[p * d_step] = (real)(v - (part - previous));
        previous = part;
    }
    long p = n + offset;
    if (p >= 0 && p < m) d[p * d_step] = (real)previous;
    for (p = (p + 1 > 0 ? p + 1 : 0); p < m; p++) d[p * d_step] = 0;
}

// Position p of a line of m values that shiftLine() fills from the n values get(0 .. n-1), exactly
// as shiftLine() computes it.
template <typename Get>
inline real shiftedValue(const Get& get, int n, long offset, double weight, long p) {
    const long i = p - offset;
    if (i < 0 || i > n || n < 1) return 0;
    if (i == n) return (real)((double)get(n - 1) * weight);
    const double v = get((int)i);
    const double part = v * weight;
    const double previous = i > 0 ? (double)get((int)i - 1) * weight : 0;
    return (real)(v - (part - previous));
}

}  // namespace

void RotationRecord::set(double a) {
    degrees = a;
    if ((long)a == 0) {
        radians = 0;
        sin_angle = 0;
        cos_angle = 1;
        sin_minus = 0;
        cos_minus = 1;
    } else if (a == 180) {
        radians = kPi;
        sin_angle = 0;
        cos_angle = -1;
        sin_minus = 0;
        cos_minus = -1;
    } else if (a == 90) {
        radians = kPi / 2;
        sin_angle = 1;
        cos_angle = 0;
        sin_minus = -1;
        cos_minus = 0;
    } else if (a == 270) {
        radians = 3 * kPi / 2;
        sin_angle = -1;
        cos_angle = 0;
        sin_minus = 1;
        cos_minus = 0;
    } else {
        radians = a * kPi / 180;
        sin_angle = std::sin(radians);
        cos_angle = std::cos(radians);
        sin_minus = std::sin(-radians);
        cos_minus = std::cos(-radians);
    }
    tan_half = std::tan(radians / 2);
    xc_in = yc_in = xc_out = yc_out = 0;
}

ipRotate::ipRotate(real angle_, int width_, int height_, const char* coding_)
    : ipCore(coding_), width(width_), height(height_), width_out(-1), height_out(-1) {
    shift = nullptr;
    xc = (int)((width + 1) * 0.5);
    yc = (int)((height + 1) * 0.5);

    // A turn of less than a degree either way is no turn: both the output size and the shears
    // then agree that nothing moves.
    double a = std::isfinite(angle_) ? wrapDegrees(angle_) : 0;
    if (a < 1 || a > 359) a = 0;
    angle = (real)a;
    internal_angle = (real)(a == 0 ? 0 : wrapDegrees(-a));
    rotation.set(angle);

    if (angle == 0 || angle == 180) {
        width_out = width;
        height_out = height;
    } else if (angle == 90 || angle == 270) {
        width_out = height;
        height_out = width;
    } else {
        const double c = std::fabs(rotation.cos_angle), s = std::fabs(rotation.sin_angle);
        width_out = (int)(width * c + height * s + 0.5);
        height_out = (int)(width * s + height * c + 0.5);
    }

    const double t = internal_angle;
    double remaining;
    if (t > 45 && t <= 135) {
        width1_ = height;
        height1_ = width;
        remaining = t - 90;
    } else if (t > 135 && t <= 225) {
        width1_ = width;
        height1_ = height;
        remaining = t - 180;
    } else if (t > 225 && t <= 315) {
        width1_ = height;
        height1_ = width;
        remaining = t - 270;
    } else {
        width1_ = width;
        height1_ = height;
        remaining = t;
    }
    shear.set(wrapDegrees(remaining));
    width2_ = (int)(std::fabs(shear.tan_half) * height1_ + 0.5) + width1_;
    height2_ = height1_;
    width3_ = width2_;
    height3_ = (int)(std::fabs(shear.sin_angle) * width1_ + height1_ * shear.cos_angle + 0.5);
    column_offset.assign(width3_ > 0 ? width3_ : 0, 0);
    column_weight.assign(width3_ > 0 ? width3_ : 0, 0);
    column_previous.assign(width3_ > 0 ? width3_ : 0, 0);

    // The work images are made by the first process() whose path needs them.
    image1 = image2 = image3 = nullptr;

    // With the centre above both shifts are 0; the shift operator only exists when it moves something.
    shiftx = (int)(width * 0.5 - xc + 0.5);
    shifty = (int)(height * 0.5 - yc + 0.5);
    if (shiftx != 0 || shifty != 0) {
        shift = new (allocator) ipShift(width, height, coding_);
        shift->setIntOption("shiftx", shiftx);
        shift->setIntOption("shifty", shifty);
    }

    rotation.xc_in = xc;
    rotation.yc_in = yc;
    rotation.xc_out = width_out / 2.0;
    rotation.yc_out = height_out / 2.0;
    const double cx[4] = {0, (double)width, (double)width, 0};
    const double cy[4] = {0, 0, (double)height, (double)height};
    for (int k = 0; k < 4; k++) {
        double xo, yo;
        forwardPoint(cx[k], cy[k], &xo, &yo);
        corners[k][0] = (int)(xo + 0.5);
        corners[k][1] = (int)(yo + 0.5);
    }
    corners[4][0] = corners[0][0];
    corners[4][1] = corners[0][1];

    row_offset.assign(height_out > 0 ? height_out : 0, 0);
    row_weight.assign(height_out > 0 ? height_out : 0, 0);

    output = new (allocator) Sequence(1, n_planes * width_out * height_out);
    memset(output->frames[0], 0, sizeof(real) * (size_t)n_planes * width_out * height_out);
}

ipRotate::~ipRotate() {}

int ipRotate::getOutputWidth() { return width_out; }

int ipRotate::getOutputHeight() { return height_out; }

void ipRotate::forwardPoint(double x, double y, double* xo, double* yo) const {
    const double dx = x - rotation.xc_in, dy = y - rotation.yc_in;
    *xo = dx * rotation.cos_angle - dy * rotation.sin_angle + rotation.xc_out;
    *yo = dx * rotation.sin_angle + dy * rotation.cos_angle + rotation.yc_out;
}

void ipRotate::forwardPoint(int x, int y, int* xo, int* yo) const {
    double fx, fy;
    forwardPoint((double)x, (double)y, &fx, &fy);
    *xo = (int)fx;
    *yo = (int)fy;
}

void ipRotate::inversePoint(double x, double y, double* xo, double* yo) const {
    const double dx = x - rotation.xc_out, dy = y - rotation.yc_out;
    *xo = dx * rotation.cos_minus - dy * rotation.sin_minus + rotation.xc_in;
    *yo = dx * rotation.sin_minus + dy * rotation.cos_minus + rotation.yc_in;
}

void ipRotate::inversePoint(int x, int y, int* xo, int* yo) const {
    double fx, fy;
    inversePoint((double)x, (double)y, &fx, &fy);
    *xo = (int)fx;
    *yo = (int)fy;
}

void ipRotate::process(Sequence* input) {
    if (coding_id == CODING_YUV) {
        message("ipRotate::process() not implemented for YUV format.");
        return;
    }
    if (coding_id == CODING_FLOAT) {
        message("ipRotate::process() not implemented for float format.");
        return;
    }
    const real* src = input->frames[0];
    if (shift) {
        shift->process(input);
        src = shift->output->frames[0];
    }
    real* dst = output->frames[0];
    const double t = internal_angle;
    if (verbose) print("Go go rotate %g\n", t);
    if (t == 0) {
        if (verbose) print("process [0.0]\n");
        memcpy(dst, src, sizeof(real) * (size_t)n_planes * width * height);
        return;
    }
    for (int c = 0; c < n_planes; c++) rotatePlane(src, dst, c);
    if (verbose) {
        if (t <= 45)
            print("process (0.0 .. 45.0]\n");
        else if (t <= 135)
            print("process (45.0 .. 135.0]\n");
        else if (t <= 225)
            print("process (135.0 .. 225.0]\n");
        else if (t <= 315)
            print("process (225.0 .. 315.0]\n");
        else
            print("process (315.0 .. 360.0]\n");
        if (t <= 45) {
            print("   width_out:%d\n", width_out);
            print("   height_out:%d\n", height_out);
        } else {
            if (t <= 315) print("   reminding angle: %g\n", shear.degrees);
            if (shear.degrees != 0) {
                print("   width_out: %d\n", width_out);
                print("   height_out: %d\n", height_out);
            }
        }
    }
}

void ipRotate::processWindow(Sequence* input, int x0, int y0, int w, int h, real* block) {
    const int np = n_planes;
    const long n_block = (long)w * h * np;
    if (coding_id == CODING_YUV || coding_id == CODING_FLOAT || shift) {
        // Only what process() itself turns can be windowed; the rest goes the long way.
        process(input);
        for (int r = 0; r < h; r++)
            for (int c = 0; c < w; c++)
                for (int k = 0; k < np; k++) {
                    const long xo = (long)x0 + c, yo = (long)y0 + r;
                    const bool inside = xo >= 0 && xo < width_out && yo >= 0 && yo < height_out;
                    block[((long)r * w + c) * np + k] = inside ? output->frames[0][(yo * width_out + xo) * np + k] : 0;
                }
        return;
    }
    const real* src = input->frames[0];
    const double t = internal_angle;
    const double T = shear.tan_half, S = shear.sin_angle;
    const bool sheared = t != 0 && !(t > 45 && shear.degrees == 0);
    if (sheared) {
        // The per-line offsets and weights of the two later shears, accumulated as process() does.
        const int sw = width1_;
        double z = S > 0 ? (sw - 1) * S : -(sw - width3_) * S;
        for (int x = 0; x < width3_; x++) {
            const double offset = std::floor(z);
            column_offset[x] = (long)offset;
            column_weight[x] = z - offset;
            z -= S;
        }
        z = S >= 0 ? -((sw - 1) * S * T) : ((1 - height_out) - (sw - 1) * S) * T;
        for (int y = 0; y < height_out; y++) {
            const double offset = std::floor(z);
            row_offset[y] = (long)offset;
            row_weight[y] = z - offset;
            z += T;
        }
    }
    for (long i = 0; i < n_block; i++) block[i] = 0;
    for (int k = 0; k < np; k++) {
        // Pixel (c, r) of the quarter-turned input.
        auto turned = [&](long r, long c) -> real {
            if (r < 0 || r >= height1_ || c < 0 || c >= width1_) return 0;
            if (t > 45 && t <= 135) return src[((long)c * width + (height1_ - 1 - r)) * np + k];
            if (t > 135 && t <= 225) return src[((long)width * height - 1 - (r * width1_ + c)) * np + k];
            if (t > 225 && t <= 315) return src[((long)(width1_ - 1 - c) * width + r) * np + k];
            return src[(r * width + c) * np + k];
        };
        auto image2At = [&](long r, long c) -> real {
            if (r < 0 || r >= height2_ || c < 0 || c >= width2_) return 0;
            const double z = T >= 0 ? (r + 0.5) * T : (r - height2_ + 0.5) * T;
            const double offset = std::floor(z);
            return shiftedValue([&](int i) { return turned(r, i); }, width1_, (long)offset, z - offset, c);
        };
        auto image3At = [&](long r, long c) -> real {
            if (r < 0 || r >= height3_ || c < 0 || c >= width3_) return 0;
            return shiftedValue([&](int i) { return image2At(i, c); }, height2_, column_offset[c], column_weight[c], r);
        };
        // The parts of image3 and image2 that the window reads, each value computed once.
        long r3a = 0, r3b = -1, ca = 0, cb = -1, r2a = 0, r2b = -1;
        if (sheared) {
            r3a = y0 > 0 ? y0 : 0;
            r3b = (long)y0 + h - 1;
            if (r3b >= height3_) r3b = height3_ - 1;
            if (r3b >= height_out) r3b = height_out - 1;
            ca = width3_;
            cb = -1;
            for (long y = r3a; y <= r3b; y++) {
                ca = std::min(ca, (long)x0 - row_offset[y] - 1);
                cb = std::max(cb, (long)x0 + w - 1 - row_offset[y]);
            }
            ca = std::max(ca, 0L);
            cb = std::min(cb, (long)width3_ - 1);
            r2a = height2_;
            r2b = -1;
            for (long c = ca; c <= cb; c++) {
                r2a = std::min(r2a, r3a - column_offset[c] - 1);
                r2b = std::max(r2b, r3b - column_offset[c]);
            }
            r2a = std::max(r2a, 0L);
            r2b = std::min(r2b, (long)height2_ - 1);
        }
        const long cols = cb >= ca ? cb - ca + 1 : 0;
        const long rows2 = r2b >= r2a ? r2b - r2a + 1 : 0, rows3 = r3b >= r3a ? r3b - r3a + 1 : 0;
        window2.resize((size_t)(rows2 * cols));
        window3.resize((size_t)(rows3 * cols));
        for (long r = 0; r < rows2; r++) {
            const long rr = r2a + r;
            const double z = T >= 0 ? (rr + 0.5) * T : (rr - height2_ + 0.5) * T;
            const double offset = std::floor(z);
            if (t <= 45 || t > 315) {
                const real* line = src + rr * width * np + k;
                for (long c = 0; c < cols; c++)
                    window2[r * cols + c] = shiftedValue([&](int i) { return line[(long)i * np]; }, width1_, (long)offset,
                                                         z - offset, ca + c);
            } else {
                for (long c = 0; c < cols; c++)
                    window2[r * cols + c] = shiftedValue([&](int i) { return turned(rr, i); }, width1_, (long)offset,
                                                         z - offset, ca + c);
            }
        }
        auto image2Cached = [&](long r, long c) -> real {
            if (r >= r2a && r <= r2b && c >= ca && c <= cb) return window2[(r - r2a) * cols + (c - ca)];
            return image2At(r, c);
        };
        for (long r = 0; r < rows3; r++)
            for (long c = 0; c < cols; c++) {
                const long cc = ca + c;
                window3[r * cols + c] = shiftedValue([&](int i) { return image2Cached(i, cc); }, height2_,
                                                     column_offset[cc], column_weight[cc], r3a + r);
            }
        auto image3Cached = [&](long r, long c) -> real {
            if (r >= r3a && r <= r3b && c >= ca && c <= cb) return window3[(r - r3a) * cols + (c - ca)];
            return image3At(r, c);
        };
        for (int r = 0; r < h; r++) {
            const long yo = (long)y0 + r;
            if (yo < 0 || yo >= height_out) continue;
            for (int c = 0; c < w; c++) {
                const long xo = (long)x0 + c;
                if (xo < 0 || xo >= width_out) continue;
                real v;
                if (t == 0) {
                    v = src[(yo * width + xo) * np + k];
                } else if (!sheared) {
                    const long i = yo * width_out + xo;
                    v = i < (long)width1_ * height1_ ? turned(i / width1_, i % width1_) : 0;
                } else if (yo >= height3_) {
                    v = 0;
                } else {
                    v = shiftedValue([&](int i) { return image3Cached(yo, i); }, width3_, row_offset[yo], row_weight[yo], xo);
                }
                block[((long)r * w + c) * np + k] = v;
            }
        }
    }
}

real* ipRotate::workImage(real** image, int w, int h) {
    if (*image == nullptr) {
        const long n = (long)w * h * n_planes;
        *image = (real*)allocator->alloc(sizeof(real) * (n > 0 ? n : 1));
        memset(*image, 0, sizeof(real) * (n > 0 ? n : 1));
    }
    return *image;
}

void ipRotate::rotatePlane(const real* src, real* dst, int c) {
    const int np = n_planes;
    const double t = internal_angle;
    if (t > 45 && t <= 315) workImage(&image1, width1_, height1_);
    if (t <= 45) {
        threeShear(src, width, height, dst, c, np);
        return;
    }
    const real* turned = image1;
    if (t <= 135) {
        // Quarter turn counter-clockwise: (x, y) goes to (y, height1_ - 1 - x).
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                image1[((long)(height1_ - 1 - x) * width1_ + y) * np + c] = src[((long)y * width + x) * np + c];
    } else if (t <= 225) {
        const long n = (long)width * height;
        for (long i = 0; i < n; i++) image1[(n - 1 - i) * np + c] = src[i * np + c];
    } else if (t <= 315) {
        // Quarter turn clockwise: (x, y) goes to (width1_ - 1 - y, x).
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                image1[((long)x * width1_ + (width1_ - 1 - y)) * np + c] = src[((long)y * width + x) * np + c];
    } else {
        turned = src;
    }
    if (shear.degrees == 0) {
        // The output has the turned image's size exactly.
        const long n = (long)width1_ * height1_;
        for (long i = 0; i < n && i < (long)width_out * height_out; i++) dst[i * np + c] = turned[i * np + c];
        return;
    }
    threeShear(turned, width1_, height1_, dst, c, np);
}

void ipRotate::threeShear(const real* s, int sw, int sh, real* dst, int c, int np) {
    const double T = shear.tan_half, S = shear.sin_angle;
    workImage(&image2, width2_, height2_);
    workImage(&image3, width3_, height3_);
    // Horizontal shear into image2.
    for (int y = 0; y < height2_; y++) {
        const double z = T >= 0 ? (y + 0.5) * T : (y - height2_ + 0.5) * T;
        const double offset = std::floor(z);
        const real* line = y < sh ? s + (long)y * sw * np + c : nullptr;
        shiftLine(line, np, sw, image2 + (long)y * width2_ * np + c, np, width2_, (long)offset,
                  z - offset);
    }
    // Vertical shear into image3: every column moves by its own offset and weight; the columns are
    // walked together row by row, which is what the memory layout favours.
    double z = S > 0 ? (sw - 1) * S : -(sw - width3_) * S;
    for (int x = 0; x < width3_; x++) {
        const double offset = std::floor(z);
        column_offset[x] = (long)offset;
        column_weight[x] = z - offset;
        column_previous[x] = 0;
        z -= S;
    }
    for (int y = 0; y < height3_; y++)
        for (int x = 0; x < width3_; x++) image3[((long)y * width3_ + x) * np + c] = 0;
    for (int i = 0; i < height2_; i++) {
        const real* row = image2 + (long)i * width2_ * np + c;
        for (int x = 0; x < width3_; x++) {
            const double v = x < width2_ ? row[(long)x * np] : 0;
            const double part = v * column_weight[x];
            const long p = i + column_offset[x];
            if (p >= 0 && p < height3_) image3[(p * width3_ + x) * np + c] = (real)(v - (part - column_previous[x]));
            column_previous[x] = part;
        }
    }
    for (int x = 0; x < width3_; x++) {
        const long p = height2_ + column_offset[x];
        if (p >= 0 && p < height3_) image3[(p * width3_ + x) * np + c] = (real)column_previous[x];
    }
    // Horizontal shear into the output; rows past image3 read as 0.
    z = S >= 0 ? -((sw - 1) * S * T) : ((1 - height_out) - (sw - 1) * S) * T;
    for (int y = 0; y < height_out; y++) {
        const double offset = std::floor(z);
        row_offset[y] = (long)offset;
        row_weight[y] = z - offset;
        const real* line = y < height3_ ? image3 + (long)y * width3_ * np + c : nullptr;
        shiftLine(line, np, width3_, dst + (long)y * width_out * np + c, np, width_out, (long)offset,
                  z - offset);
        z += T;
    }
}

}  // namespace vision
