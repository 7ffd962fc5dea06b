#include "visionlib/filter/RgbFrame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vision {

RgbFrame::RgbFrame(unsigned char* data_, int32_t width_, int32_t height_, int32_t format_, bool topDown_)
    : data(data_), width(width_), height(height_), format(format_), topDown(topDown_) {}

int RgbFrame::bytesPerPixel() const { return format == RGB24 ? 3 : format == RGB32 ? 4 : 0; }

int RgbFrame::bitsPerPixel() const { return 8 * bytesPerPixel(); }

int RgbFrame::rowSize() const {
    if (width <= 0) return 0;
    return (int)(((long)bytesPerPixel() * width + 3) & ~3L);
}

int RgbFrame::frameSize() const { return height > 0 ? rowSize() * height : 0; }

RgbFrame::RowIterator::RowIterator(const RgbFrame* frame_, int startRow)
    : frame(frame_), row(nullptr), handedOut(0), remaining(0), step(0) {
    const long rs = frame->rowSize();
    if (rs == 0 || frame->data == nullptr || startRow < 0 || startRow >= frame->height) return;
    row = frame->data + frame->rowOffset(startRow);
    remaining = frame->height - startRow;
    step = frame->topDown ? rs : -rs;
}

unsigned char* RgbFrame::RowIterator::next() {
    unsigned char* current = row;
    if (current == nullptr) return nullptr;
    handedOut++;
    // Stop at the last image row: stepping on would point outside the buffer.
    row = handedOut < remaining ? row + step : nullptr;
    return current;
}

RgbFrame::RowIterator RgbFrame::rows(int startRow) const { return RowIterator(this, startRow); }

void RgbFrame::setPixel(int x, int y, const unsigned char* colour) {
    const int bpp = bytesPerPixel();
    if (bpp == 0 || x < 0 || x >= width || y < 0 || y >= height) return;
    std::memcpy(data + rowOffset(y) + (long)bpp * x, colour, bpp);
}

void RgbFrame::drawLine(int x0, int y0, int x1, int y1, const unsigned char* colour) {
    if (bytesPerPixel() == 0 || width <= 0 || height <= 0) return;
    // 16.16 digital differential analyser in 64 bits, so far-off end points neither overflow nor cost
    // a walk over pixels that cannot be seen.
    const long long dx = (long long)x1 - x0, dy = (long long)y1 - y0;
    const bool alongY = std::llabs(dy) > std::llabs(dx);
    const long long majorStart = alongY ? y0 : x0;
    const long long majorDelta = alongY ? dy : dx;
    const long long minorStart = alongY ? x0 : y0;
    const long long minorDelta = alongY ? dx : dy;
    const long long extent = alongY ? height : width;

    const long long step = majorDelta == 0 ? 0 : (minorDelta * 65536) / majorDelta;
    const long long minorStep = majorDelta > 0 ? step : -step;
    const long long dir = majorDelta >= 0 ? 1 : -1;
    const long long length = std::llabs(majorDelta);  // steps after the first pixel

    // k runs over 0..length with major = majorStart + dir * k; keep only the k that fall in the frame.
    long long kFirst, kLast;
    if (dir > 0) {
        kFirst = std::max(0LL, -majorStart);
        kLast = std::min(length, extent - 1 - majorStart);
    } else {
        kFirst = std::max(0LL, majorStart - (extent - 1));
        kLast = std::min(length, majorStart);
    }
    long long minor = minorStart * 65536 + 32768 + kFirst * minorStep;
    for (long long k = kFirst; k <= kLast; k++, minor += minorStep) {
        const long long major = majorStart + dir * k;
        const long long m = minor >> 16;  // arithmetic: negative positions round down
        if (m < 0 || m >= (alongY ? width : height)) continue;
        if (alongY)
            setPixel((int)m, (int)major, colour);
        else
            setPixel((int)major, (int)m, colour);
    }
}

void RgbFrame::drawRect(const DrawRect& r, const unsigned char* colour) {
    const int tlx = (int)r.topLeft.x, tly = (int)r.topLeft.y;
    const int trx = (int)r.topRight.x, try_ = (int)r.topRight.y;
    const int blx = (int)r.bottomLeft.x, bly = (int)r.bottomLeft.y;
    const int brx = (int)r.bottomRight.x, bry = (int)r.bottomRight.y;
    drawLine(tlx, tly, trx, try_, colour);
    drawLine(tlx, tly, blx, bly, colour);
    drawLine(trx, try_, brx, bry, colour);
    drawLine(blx, bly, brx, bry, colour);
}

void RgbFrame::fill(const unsigned char* colour) {
    const int bpp = bytesPerPixel();
    if (bpp == 0) return;
    RowIterator it = rows(0);
    while (unsigned char* row = it.next())
        for (int x = 0; x < width; x++) std::memcpy(row + (long)bpp * x, colour, bpp);
}

void RgbFrame::copyTo(RgbFrame& target) const {
    const int sbpp = bytesPerPixel(), tbpp = target.bytesPerPixel();
    if (sbpp == 0 || tbpp == 0 || data == nullptr || target.data == nullptr) return;
    if (format == target.format && topDown == target.topDown && width == target.width) {
        std::memcpy(target.data, data, std::min(frameSize(), target.frameSize()));
        return;
    }
    RowIterator src = rows(0), dst = target.rows(0);
    const int nRows = std::min(height, target.height);
    const int nPixels = std::min(width, target.width);
    for (int y = 0; y < nRows; y++) {
        const unsigned char* s = src.next();
        unsigned char* d = dst.next();
        if (format == target.format) {
            std::memcpy(d, s, std::min(rowSize(), target.rowSize()));
        } else if (format == RGB32) {  // to RGB24: alpha dropped
            for (int x = 0; x < nPixels; x++, s += 4, d += 3) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        } else {  // RGB24 to RGB32: opaque alpha
            for (int x = 0; x < nPixels; x++, s += 3, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 255;
            }
        }
    }
}

namespace {

inline int grayOf(const unsigned char* p) { return (5 * p[0] + 16 * p[1] + 11 * p[2]) >> 5; }

template <class Out>
void grayRows(const RgbFrame& f, Out out) {
    const int bpp = f.bytesPerPixel();
    if (bpp == 0) return;
    RgbFrame::RowIterator it = f.rows(0);
    long i = 0;
    while (const unsigned char* row = it.next())
        for (int x = 0; x < f.width; x++, row += bpp) out(i++, grayOf(row));
}

}  // namespace

void RgbFrame::toGrayFloat(float* out, bool normalise) const {
    const float k = normalise ? 0.003921569f : 1.0f;
    grayRows(*this, [&](long i, int g) { out[i] = normalise ? (float)g * k : (float)g; });
}

void RgbFrame::toGrayDouble(double* out, bool normalise) const {
    grayRows(*this, [&](long i, int g) { out[i] = normalise ? g * (1.0 / 255.0) : (double)g; });
}

void RgbFrame::toGrayBytes(unsigned char* out) const {
    grayRows(*this, [&](long i, int g) { out[i] = (unsigned char)g; });
}

void RgbFrame::toGrayInPlace() {
    const int bpp = bytesPerPixel();
    if (bpp == 0) return;
    RowIterator it = rows(0);
    while (unsigned char* row = it.next())
        for (int x = 0; x < width; x++, row += bpp) {
            const unsigned char g = (unsigned char)grayOf(row);
            row[0] = row[1] = row[2] = g;
        }
}

void RgbFrame::flipVertical() {
    const int rs = rowSize();
    if (rs == 0 || height <= 1 || data == nullptr) return;
    std::vector<unsigned char> copy(data, data + frameSize());
    for (int y = 0; y < height; y++) std::memcpy(data + (long)rs * y, copy.data() + (long)rs * (height - 1 - y), rs);
}

}  // namespace vision
