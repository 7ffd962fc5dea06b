#include "utilityfilters/scaler/FrameScaler.h"

#include <cmath>

using vision::RgbFrame;

namespace {

// Weights are floats: a run of them adds up to 1 only within this.
constexpr float TOLERANCE = 0.0001f;
// After normalising, a whole value may come out a few float steps below itself; this keeps it whole
// when truncated (a uniform picture stays uniform).
constexpr float ROUNDING_SLACK = 0.001f;

inline bool near(double a, double b) { return a > b - TOLERANCE && a < b + TOLERANCE; }

}  // namespace

void FrameScaler::reset() {
    inWidth = inHeight = outWidth = outHeight = 0;
    format = 0;
    inBytesPerPixel = 0;
    inAspect = outAspect = 0;
    targetWidth = targetHeight = 0;
    hScale = vScale = 0;
    verticalDown = horizontalDown = true;
    hCarry = vCarry = 0;
    hSteps = vSteps = 0;
}

void FrameScaler::plan(const RgbFrame& in, const RgbFrame& out) {
    inWidth = in.width;
    inHeight = in.height;
    outWidth = out.width;
    outHeight = out.height;
    format = in.format;
    inBytesPerPixel = in.bytesPerPixel();

    inAspect = (float)((double)in.width / (double)in.height);
    outAspect = (float)((double)out.width / (double)out.height);

    targetWidth = (unsigned)out.width;
    targetHeight = (unsigned)out.height;
    if (inAspect != outAspect) {
        if (inAspect >= outAspect)
            targetHeight = (unsigned)((double)out.width / inAspect);
        else
            targetWidth = (unsigned)((double)inAspect * out.height);
    }
    hScale = (float)((double)targetWidth / in.width);
    vScale = (float)((double)targetHeight / in.height);
    verticalDown = vScale <= 1;
    horizontalDown = hScale <= 1;
}

void FrameScaler::scale(const RgbFrame& in, RgbFrame& out, const unsigned char* colour) {
    if (in.width <= 0 || in.height <= 0 || out.width <= 0 || out.height <= 0) return;
    if (in.format != out.format || in.bytesPerPixel() == 0 || !in.data || !out.data) return;

    if (in.width == out.width && in.height == out.height) {
        in.copyTo(out);
        return;
    }
    if (in.width != inWidth || in.height != inHeight || out.width != outWidth || out.height != outHeight ||
        in.format != format)
        plan(in, out);

    if (inAspect != outAspect) out.fill(colour);
    if (targetWidth == 0 || targetHeight == 0) return;
    scaleRows(in, out);
}

const unsigned char* FrameScaler::sourceRow(const RgbFrame& in, int y) const {
    // The weights of the last output row may reach a little past the last source row.
    if (y >= in.height) y = in.height - 1;
    if (y < 0) y = 0;
    return in.data + in.rowOffset(y);
}

const unsigned char* FrameScaler::sourcePixel(const unsigned char* row, int x) const {
    if (x >= inWidth) x = inWidth - 1;
    if (x < 0) x = 0;
    return row + (long)inBytesPerPixel * x;
}

void FrameScaler::scaleRows(const RgbFrame& in, RgbFrame& out) {
    const int p = inBytesPerPixel;
    const int r0 = (int)((outHeight - (int)targetHeight) / 2);
    const long c0 = (long)((outWidth - (int)targetWidth) / 2) * p;

    int y = 0;
    vCarry = 0;
    for (unsigned oy = 0; oy < targetHeight; oy++) {
        hCarry = 0;
        hSteps = 0;
        const float rowCarry = vCarry;
        unsigned char* target = out.data + out.rowOffset(r0 + (int)oy) + c0;
        int x = 0;
        for (unsigned ox = 0; ox < targetWidth; ox++, target += p) {
            vCarry = rowCarry;
            float acc[4] = {0, 0, 0, 0};
            passV(in, y, x, acc);
            for (int c = 0; c < p; c++) {
                const float v = acc[c] + ROUNDING_SLACK;
                target[c] = v > 255 ? 255 : (unsigned char)v;
            }
            x += hSteps;
        }
        y += vSteps;
    }
}

void FrameScaler::passV(const RgbFrame& in, int y, int x, float* acc) {
    if (verticalDown)
        areaPassV(in, y, x, acc);
    else
        twoTapPassV(in, y, x, acc);
}

void FrameScaler::passH(const unsigned char* row, int x, float* acc) {
    if (horizontalDown)
        areaPassH(row, x, acc);
    else
        twoTapPassH(row, x, acc);
}

void FrameScaler::areaPassV(const RgbFrame& in, int y, int x, float* acc) {
    const int p = inBytesPerPixel;
    vSteps = 0;
    const float startCarry = hCarry;
    float s = 0;
    float w = 0;
    for (;;) {
        const unsigned char* row = sourceRow(in, y + vSteps);
        hCarry = startCarry;
        float rowAcc[4] = {0, 0, 0, 0};
        passH(row, x, rowAcc);
        if (vSteps == 0)
            w = vScale - vCarry;
        else
            w = (1 - s > vScale - TOLERANCE) ? vScale : 1 - s;
        for (int c = 0; c < p; c++) acc[c] += w * rowAcc[c];
        vCarry = w;
        vSteps++;
        s = s + w;
        if (s >= 1 - TOLERANCE) break;
    }
    if (near(w, vScale))
        vCarry = 0;
    else
        vSteps--;
    for (int c = 0; c < p; c++) acc[c] /= s;
}

void FrameScaler::areaPassH(const unsigned char* row, int x, float* acc) {
    const int p = inBytesPerPixel;
    hSteps = 0;
    float s = 0;
    double w = 0;
    for (;;) {
        if (hSteps == 0)
            w = (double)hScale - (double)hCarry;
        else
            w = (1 - s > hScale - TOLERANCE) ? (double)hScale : 1.0 - (double)s;
        const unsigned char* px = sourcePixel(row, x + hSteps);
        for (int c = 0; c < p; c++) acc[c] = (float)(acc[c] + w * px[c]);
        hCarry = (float)w;
        hSteps++;
        s = s + (float)w;
        if (s >= 1 - TOLERANCE) break;
    }
    if (near(w, hScale))
        hCarry = 0;
    else
        hSteps--;
    for (int c = 0; c < p; c++) acc[c] /= s;
}

void FrameScaler::twoTapPassV(const RgbFrame& in, int y, int x, float* acc) {
    const int p = inBytesPerPixel;
    vSteps = 0;
    const float d = vScale - vCarry;
    if (d >= 1 - TOLERANCE) {
        passH(sourceRow(in, y), x, acc);
        const float e = vCarry + 1;
        if (near(e, vScale)) {
            vCarry = 0;
            vSteps = 1;
        } else {
            vCarry = e;
            vSteps = 0;
        }
        return;
    }
    const float startCarry = hCarry;
    const float weights[2] = {d, 1 - d};
    for (int k = 0; k < 2; k++) {
        hCarry = startCarry;
        float rowAcc[4] = {0, 0, 0, 0};
        passH(sourceRow(in, y + k), x, rowAcc);
        for (int c = 0; c < p; c++) acc[c] += weights[k] * rowAcc[c];
    }
    const float s = weights[0] + weights[1];
    for (int c = 0; c < p; c++) acc[c] /= s;
    vCarry = 1 - d;
    vSteps = 1;
}

void FrameScaler::twoTapPassH(const unsigned char* row, int x, float* acc) {
    const int p = inBytesPerPixel;
    hSteps = 0;
    const double f = (double)hScale - (double)hCarry;
    const unsigned char* px = sourcePixel(row, x);
    if (f >= 1 - TOLERANCE) {
        for (int c = 0; c < p; c++) acc[c] = px[c];
        const float e = hCarry + 1;
        if (near(e, hScale)) {
            hCarry = 0;
            hSteps = 1;
        } else {
            hCarry = e;
            hSteps = 0;
        }
        return;
    }
    const unsigned char* next = sourcePixel(row, x + 1);
    for (int c = 0; c < p; c++) acc[c] = (float)(f * px[c] + (1 - f) * next[c]);
    hCarry = (float)(1 - f);
    hSteps = 1;
}
