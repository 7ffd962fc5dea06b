#pragma once
// Non-owning view of one RGB24 or RGB32 video frame in a sample buffer. Rows are padded to 4 bytes
// (the bitmap stride); every operation works in top-down image coordinates whatever the memory order.
#include <cstdint>

#include "visionlib/filter/DrawRect.h"

namespace vision {

class RgbFrame {
public:
    enum { RGB24 = 0, RGB32 = 1 };

    unsigned char* data;
    int32_t width;
    int32_t height;
    int32_t format;
    bool topDown;

    // Cursor over the image rows, top row first, whatever the memory order.
    class RowIterator {
    public:
        RowIterator(const RgbFrame* frame, int startRow);
        // The current row's first byte, then advances; null once past the last image row.
        unsigned char* next();

    private:
        const RgbFrame* frame;
        unsigned char* row;
        int handedOut;
        int remaining;
        long step;
    };

    RgbFrame(unsigned char* data, int32_t width, int32_t height, int32_t format, bool topDown);
    ~RgbFrame() {}

    int bytesPerPixel() const;
    int bitsPerPixel() const;
    // Bytes per row, rounded up to a multiple of 4; 0 for an unknown format.
    int rowSize() const;
    int frameSize() const;

    RowIterator rows(int startRow = 0) const;

    // colour: 3 or 4 bytes in memory order (blue, green, red [, alpha]). Pixels outside are skipped.
    void setPixel(int x, int y, const unsigned char* colour);
    void drawLine(int x0, int y0, int x1, int y1, const unsigned char* colour);
    void drawRect(const DrawRect& rect, const unsigned char* colour);
    void fill(const unsigned char* colour);

    // Copies into target's buffer, converting the pixel format and row order as needed.
    void copyTo(RgbFrame& target) const;

    // Gray = (5 B + 16 G + 11 R) >> 5, top row first; normalise scales to 0..1.
    void toGrayFloat(float* out, bool normalise) const;
    void toGrayDouble(double* out, bool normalise) const;
    void toGrayBytes(unsigned char* out) const;
    void toGrayInPlace();
    void flipVertical();

    void setTopDown() { topDown = true; }
    void setBottomUp() { topDown = false; }
    unsigned char* getData() const { return data; }
    bool isTopDown() const { return topDown; }

    // Byte offset of image row y in the buffer.
    long rowOffset(int y) const { return (long)rowSize() * (topDown ? y : height - 1 - y); }
};

}  // namespace vision
