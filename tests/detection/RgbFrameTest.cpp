#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "visionlib/filter/RgbFrame.h"

using namespace vision;

namespace {

const unsigned char RED[4] = {0, 0, 255, 255};

// A frame over its own zeroed buffer, with guard bytes behind it.
struct Buffer {
    std::vector<unsigned char> bytes;
    RgbFrame frame;
    Buffer(int w, int h, int format, bool topDown)
        : bytes(RgbFrame(nullptr, w, h, format, topDown).frameSize() + 64, 0), frame(bytes.data(), w, h, format, topDown) {}
    const unsigned char* pixel(int x, int y) const {
        return bytes.data() + frame.rowOffset(y) + frame.bytesPerPixel() * x;
    }
    std::set<std::pair<int, int>> setPixels() const {
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < frame.height; y++)
            for (int x = 0; x < frame.width; x++)
                if (pixel(x, y)[2] == 255) out.insert({x, y});
        return out;
    }
    bool guardsClean() const {
        for (size_t i = frame.frameSize(); i < bytes.size(); i++)
            if (bytes[i] != 0) return false;
        return true;
    }
};

}  // namespace

TEST(RgbFrame, RowAndFrameSizes) {
    struct Case {
        int w, h, format, bpp, row, frame;
    } cases[] = {
        {320, 240, RgbFrame::RGB24, 3, 960, 230400}, {322, 240, RgbFrame::RGB24, 3, 968, 232320},
        {1, 1, RgbFrame::RGB24, 3, 4, 4},            {5, 2, RgbFrame::RGB24, 3, 16, 32},
        {5, 2, RgbFrame::RGB32, 4, 20, 40},          {5, 2, 7, 0, 0, 0},
    };
    for (const Case& c : cases) {
        RgbFrame f(nullptr, c.w, c.h, c.format, true);
        EXPECT_EQ(f.bytesPerPixel(), c.bpp);
        EXPECT_EQ(f.bitsPerPixel(), 8 * c.bpp);
        EXPECT_EQ(f.rowSize(), c.row) << c.w;
        EXPECT_EQ(f.frameSize(), c.frame) << c.w;
    }
}

TEST(RgbFrame, RowIteratorWalksImageRowsAndStopsAtTheLast) {
    for (bool topDown : {true, false}) {
        Buffer b(5, 3, RgbFrame::RGB24, topDown);
        RgbFrame::RowIterator it = b.frame.rows(0);
        for (int y = 0; y < 3; y++) EXPECT_EQ(it.next(), b.bytes.data() + b.frame.rowOffset(y));
        EXPECT_EQ(it.next(), nullptr);
        EXPECT_EQ(it.next(), nullptr);

        // A later start row hands out only the rows that exist.
        RgbFrame::RowIterator late = b.frame.rows(2);
        EXPECT_EQ(late.next(), b.bytes.data() + b.frame.rowOffset(2));
        EXPECT_EQ(late.next(), nullptr);
        EXPECT_EQ(b.frame.rows(3).next(), nullptr);
        EXPECT_EQ(b.frame.rows(-1).next(), nullptr);
    }
}

TEST(RgbFrame, BottomUpCopiedIntoTopDownKeepsImageRows) {
    Buffer src(4, 3, RgbFrame::RGB24, false), dst(4, 3, RgbFrame::RGB24, true);
    for (size_t i = 0; i < (size_t)src.frame.frameSize(); i++) src.bytes[i] = (unsigned char)(i * 7 + 1);
    src.frame.copyTo(dst.frame);
    for (int y = 0; y < 3; y++)
        EXPECT_EQ(0, std::memcmp(src.pixel(0, y), dst.pixel(0, y), src.frame.rowSize())) << y;
    // Memory holds the rows in opposite orders.
    EXPECT_EQ(0, std::memcmp(src.bytes.data(), dst.bytes.data() + 2 * 12, 12));
    EXPECT_TRUE(dst.guardsClean());

    // And back: a top-down source into a bottom-up target.
    Buffer back(4, 3, RgbFrame::RGB24, false);
    dst.frame.copyTo(back.frame);
    EXPECT_EQ(0, std::memcmp(back.bytes.data(), src.bytes.data(), src.frame.frameSize()));
}

TEST(RgbFrame, CopiesBetweenSizesAndFormats) {
    // Same format and order, other heights: the common rows only.
    Buffer tall(3, 4, RgbFrame::RGB24, true), shortFrame(3, 2, RgbFrame::RGB24, true);
    for (size_t i = 0; i < (size_t)tall.frame.frameSize(); i++) tall.bytes[i] = (unsigned char)(i + 1);
    tall.frame.copyTo(shortFrame.frame);
    EXPECT_EQ(0, std::memcmp(tall.bytes.data(), shortFrame.bytes.data(), shortFrame.frame.frameSize()));
    EXPECT_TRUE(shortFrame.guardsClean());

    // RGB24 into a narrower RGB32: the target's width of each row, opaque alpha.
    Buffer rgb(5, 2, RgbFrame::RGB24, false), argb(3, 2, RgbFrame::RGB32, true);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 5; x++) {
            unsigned char* p = (unsigned char*)rgb.pixel(x, y);
            p[0] = (unsigned char)(10 * x + y);
            p[1] = (unsigned char)(100 + x);
            p[2] = (unsigned char)(200 + y);
        }
    rgb.frame.copyTo(argb.frame);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) {
            EXPECT_EQ(0, std::memcmp(argb.pixel(x, y), rgb.pixel(x, y), 3));
            EXPECT_EQ(argb.pixel(x, y)[3], 255);
        }
    EXPECT_TRUE(argb.guardsClean());

    // RGB32 into RGB24: alpha dropped.
    Buffer narrow(3, 2, RgbFrame::RGB24, true);
    argb.frame.copyTo(narrow.frame);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(0, std::memcmp(narrow.pixel(x, y), rgb.pixel(x, y), 3));
    EXPECT_TRUE(narrow.guardsClean());
}

TEST(RgbFrame, GrayOfPrimaries) {
    struct Case {
        unsigned char b, g, r;
        float gray;
    } cases[] = {{0, 0, 255, 87}, {0, 255, 0, 127}, {255, 0, 0, 39}, {255, 255, 255, 255}, {0, 0, 0, 0}};
    for (bool topDown : {true, false}) {
        Buffer f(5, 1, RgbFrame::RGB24, topDown);
        for (int x = 0; x < 5; x++) {
            unsigned char* p = (unsigned char*)f.pixel(x, 0);
            p[0] = cases[x].b;
            p[1] = cases[x].g;
            p[2] = cases[x].r;
        }
        float gray[5], norm[5];
        unsigned char bytes[5];
        f.frame.toGrayFloat(gray, false);
        f.frame.toGrayFloat(norm, true);
        f.frame.toGrayBytes(bytes);
        for (int x = 0; x < 5; x++) {
            EXPECT_EQ(gray[x], cases[x].gray);
            EXPECT_EQ(bytes[x], (unsigned char)cases[x].gray);
            EXPECT_FLOAT_EQ(norm[x], cases[x].gray * 0.003921569f);
        }
        EXPECT_FLOAT_EQ(norm[3], 1.0f);
    }
}

TEST(RgbFrame, GrayIsInImageOrderForBothRowOrders) {
    for (bool topDown : {true, false}) {
        Buffer f(2, 3, RgbFrame::RGB32, topDown);
        for (int y = 0; y < 3; y++)
            for (int x = 0; x < 2; x++) {
                unsigned char* p = (unsigned char*)f.pixel(x, y);
                p[0] = p[1] = p[2] = (unsigned char)(10 * y + x);
                p[3] = 9;
            }
        double gray[6];
        f.frame.toGrayDouble(gray, false);
        for (int i = 0; i < 6; i++) EXPECT_EQ(gray[i], 10 * (i / 2) + i % 2);
        f.frame.toGrayInPlace();
        EXPECT_EQ(f.pixel(1, 2)[0], 21);
        EXPECT_EQ(f.pixel(1, 2)[3], 9);  // alpha untouched
    }
}

TEST(RgbFrame, LinePixels) {
    struct Case {
        int x0, y0, x1, y1;
        std::set<std::pair<int, int>> pixels;
    } cases[] = {
        {0, 0, 10, 3, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 2}, {7, 2}, {8, 2}, {9, 3}, {10, 3}}},
        {5, 5, 5, 5, {{5, 5}}},
        {3, 0, 0, 3, {{3, 0}, {2, 1}, {1, 2}, {0, 3}}},
        {-5, 2, 5, 2, {{0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}}},
        {2, 6, 2, -3, {{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {2, 6}}},
        {10, 3, 0, 0, {{10, 3}, {9, 3}, {8, 2}, {7, 2}, {6, 2}, {5, 2}, {4, 1}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        for (bool topDown : {true, false}) {
            Buffer b(12, 8, RgbFrame::RGB24, topDown);
            b.frame.drawLine(c.x0, c.y0, c.x1, c.y1, RED);
            EXPECT_EQ(b.setPixels(), c.pixels) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
            EXPECT_TRUE(b.guardsClean());
        }
    }
}

TEST(RgbFrame, FarOffLinesAreClippedWithoutOverflow) {
    Buffer b(16, 16, RgbFrame::RGB24, true);
    b.frame.drawLine(INT_MIN, 3, INT_MAX, 3, RED);  // would overflow 32-bit fixed point
    std::set<std::pair<int, int>> row;
    for (int x = 0; x < 16; x++) row.insert({x, 3});
    EXPECT_EQ(b.setPixels(), row);

    Buffer d(16, 16, RgbFrame::RGB24, true);
    d.frame.drawLine(-1000000, -1000000, 1000000, 1000000, RED);  // the visible part of a diagonal
    std::set<std::pair<int, int>> diag;
    for (int i = 0; i < 16; i++) diag.insert({i, i});
    EXPECT_EQ(d.setPixels(), diag);

    Buffer none(16, 16, RgbFrame::RGB24, true);
    none.frame.drawLine(-50, 20, 50, 40, RED);  // entirely below the frame
    EXPECT_TRUE(none.setPixels().empty());
    EXPECT_TRUE(none.guardsClean());
}

TEST(RgbFrame, RectOutlineAndFill) {
    Buffer b(8, 6, RgbFrame::RGB32, false);
    b.frame.drawRect(DrawRect(1, 1, 4, 3), RED);
    std::set<std::pair<int, int>> expect;
    for (int x = 1; x <= 4; x++) expect.insert({x, 1}), expect.insert({x, 3});
    expect.insert({1, 2});
    expect.insert({4, 2});
    EXPECT_EQ(b.setPixels(), expect);

    const unsigned char blue[4] = {255, 0, 0, 7};
    Buffer f(3, 2, RgbFrame::RGB24, true);
    f.frame.fill(blue);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(0, std::memcmp(f.pixel(x, y), blue, 3));
    EXPECT_EQ(f.bytes[9], 0);  // row padding untouched
    EXPECT_EQ(f.bytes[11], 0);
}

TEST(RgbFrame, FlipVerticalReversesRows) {
    Buffer b(2, 3, RgbFrame::RGB24, true);
    for (int y = 0; y < 3; y++) ((unsigned char*)b.pixel(0, y))[0] = (unsigned char)(y + 1);
    b.frame.flipVertical();
    for (int y = 0; y < 3; y++) EXPECT_EQ(b.pixel(0, y)[0], 3 - y);
}
