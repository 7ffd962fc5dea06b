#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "utilityfilters/scaler/FrameScaler.h"

using vision::RgbFrame;

namespace {

// A frame with its own buffer of exactly frameSize bytes, so a read past the end shows under ASan.
struct Frame {
    std::vector<unsigned char> bytes;
    RgbFrame view;
    Frame(int w, int h, int format = RgbFrame::RGB24, bool topDown = true)
        : view(nullptr, w, h, format, topDown) {
        bytes.assign(view.frameSize() > 0 ? view.frameSize() : 1, 0xCD);
        view.data = bytes.data();
    }
    unsigned char* px(int x, int y) { return bytes.data() + view.rowOffset(y) + (long)view.bytesPerPixel() * x; }
    void set(int x, int y, unsigned char b, unsigned char g, unsigned char r) {
        unsigned char* p = px(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

const unsigned char BLACK[4] = {0, 0, 0, 255};

}  // namespace

TEST(FrameScaler, HalvingAveragesTwoByTwoBlocksTruncated) {
    Frame in(640, 480), out(320, 240);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const int v = (x * 7 + y * 13) % 251;
            in.set(x, y, (unsigned char)v, (unsigned char)(255 - v), (unsigned char)((x / 2 % 2) * 3 + (y % 2) * 10));
        }
    in.set(0, 0, 0, 0, 10);
    in.set(1, 0, 0, 0, 11);
    in.set(0, 1, 0, 0, 12);
    in.set(1, 1, 0, 0, 13);
    FrameScaler scaler;
    scaler.scale(in.view, out.view, BLACK);
    EXPECT_FLOAT_EQ(scaler.hScale, 0.5f);
    EXPECT_FLOAT_EQ(scaler.vScale, 0.5f);
    EXPECT_EQ(out.px(0, 0)[2], 11);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++)
            for (int c = 0; c < 3; c++) {
                const int sum = in.px(2 * x, 2 * y)[c] + in.px(2 * x + 1, 2 * y)[c] + in.px(2 * x, 2 * y + 1)[c] +
                                in.px(2 * x + 1, 2 * y + 1)[c];
                ASSERT_EQ(out.px(x, y)[c], sum / 4) << x << "," << y << " channel " << c;
            }
}

// Factor 2/3: three source pixels make two output pixels, weighted 2:1 and 1:2, along rows and columns.
TEST(FrameScaler, TwoThirdsBlendsThreeSourcePixelsIntoTwo) {
    FrameScaler scaler;
    {
        Frame in(480, 360), out(320, 240);
        for (int y = 0; y < 360; y++)
            for (int x = 0; x < 480; x++) in.set(x, y, (unsigned char)(x * 37 % 256), (unsigned char)(x % 7), 0);
        scaler.scale(in.view, out.view, BLACK);
        EXPECT_FLOAT_EQ(scaler.hScale, 0.6666667f);
        for (int y = 0; y < 240; y += 17)
            for (int k = 0; k < 160; k++)
                for (int c = 0; c < 2; c++) {
                    const int a = in.px(3 * k, 0)[c], b = in.px(3 * k + 1, 0)[c], d = in.px(3 * k + 2, 0)[c];
                    ASSERT_EQ(out.px(2 * k, y)[c], (2 * a + b) / 3) << k;
                    ASSERT_EQ(out.px(2 * k + 1, y)[c], (b + 2 * d) / 3) << k;
                }
    }
    {
        Frame in(480, 360), out(320, 240);
        for (int y = 0; y < 360; y++)
            for (int x = 0; x < 480; x++) in.set(x, y, (unsigned char)(y * 41 % 256), 0, 0);
        scaler.scale(in.view, out.view, BLACK);
        for (int k = 0; k < 120; k++) {
            const int a = in.px(0, 3 * k)[0], b = in.px(0, 3 * k + 1)[0], d = in.px(0, 3 * k + 2)[0];
            for (int x = 0; x < 320; x += 29) {
                ASSERT_EQ(out.px(x, 2 * k)[0], (2 * a + b) / 3) << k;
                ASSERT_EQ(out.px(x, 2 * k + 1)[0], (b + 2 * d) / 3) << k;
            }
        }
    }
}

TEST(FrameScaler, NarrowerSourceIsPillarboxedEveryFrame) {
    Frame in(176, 144), out(320, 240);
    for (int y = 0; y < 144; y++)
        for (int x = 0; x < 176; x++) in.set(x, y, 40, 80, 120);
    FrameScaler scaler;
    const unsigned char fill[3] = {1, 2, 3};
    for (int frame = 0; frame < 2; frame++) {
        std::memset(out.bytes.data(), 0x77, out.bytes.size());
        scaler.scale(in.view, out.view, fill);
        EXPECT_FLOAT_EQ(scaler.inAspect, 1.2222222f);
        EXPECT_FLOAT_EQ(scaler.outAspect, 1.3333334f);
        EXPECT_EQ(scaler.targetWidth, 293u);
        EXPECT_EQ(scaler.targetHeight, 240u);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                const bool picture = x >= 13 && x <= 305;
                const unsigned char* p = out.px(x, y);
                ASSERT_EQ(p[0], picture ? 40 : 1) << x << "," << y;
                ASSERT_EQ(p[1], picture ? 80 : 2) << x << "," << y;
                ASSERT_EQ(p[2], picture ? 120 : 3) << x << "," << y;
            }
    }
}

TEST(FrameScaler, DoublingMakesTwoByTwoBlocks) {
    Frame in(160, 120), out(320, 240);
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 160; x++) in.set(x, y, (unsigned char)(x + y), (unsigned char)(x * 3), (unsigned char)y);
    FrameScaler scaler;
    scaler.scale(in.view, out.view, BLACK);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++)
            ASSERT_EQ(0, std::memcmp(out.px(x, y), in.px(x / 2, y / 2), 3)) << x << "," << y;
}

TEST(FrameScaler, OneAndAHalfRepeatsAndBlendsInThrees) {
    Frame in(320, 240), out(480, 360);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) in.set(x, y, (unsigned char)(x * 11 % 256), (unsigned char)(y * 5 % 256), 9);
    FrameScaler scaler;
    scaler.scale(in.view, out.view, BLACK);
    EXPECT_FALSE(scaler.verticalDown);
    // Along a row: p0, mean(p0, p1), p1, p2, mean(p2, p3), p3, ...; the same down a column.
    auto expected = [](int o, auto src) {
        const int k = o / 3 * 2;
        switch (o % 3) {
            case 0: return src(k);
            case 1: return (src(k) + src(k + 1)) / 2;
            default: return src(k + 1);
        }
    };
    for (int y = 0; y < 360; y++)
        for (int x = 0; x < 480; x++) {
            const int b = expected(x, [&](int sx) { return (int)in.px(sx, 0)[0]; });
            const int g = expected(y, [&](int sy) { return (int)in.px(0, sy)[1]; });
            ASSERT_EQ(out.px(x, y)[0], b) << x << "," << y;
            ASSERT_EQ(out.px(x, y)[1], g) << x << "," << y;
            ASSERT_EQ(out.px(x, y)[2], 9);
        }
}

TEST(FrameScaler, WiderSourceIsLetterboxed) {
    Frame in(640, 360), out(640, 480);
    for (int y = 0; y < 360; y++)
        for (int x = 0; x < 640; x++) in.set(x, y, 200, 100, 50);
    FrameScaler scaler;
    scaler.scale(in.view, out.view, BLACK);
    EXPECT_EQ(scaler.targetHeight, 359u);
    EXPECT_FLOAT_EQ(scaler.hScale, 1.0f);
    EXPECT_FLOAT_EQ(scaler.vScale, 0.9972222f);
    for (int y = 0; y < 480; y++) {
        const bool picture = y >= 60 && y <= 418;
        for (int x = 0; x < 640; x += 7) {
            const unsigned char* p = out.px(x, y);
            ASSERT_EQ(p[0], picture ? 200 : 0) << y;
            ASSERT_EQ(p[1], picture ? 100 : 0) << y;
            ASSERT_EQ(p[2], picture ? 50 : 0) << y;
        }
    }
}

TEST(FrameScaler, EqualSizesCopyTopDownWithoutPlanning) {
    Frame in(64, 48, RgbFrame::RGB24, false), out(64, 48);
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) in.set(x, y, (unsigned char)x, (unsigned char)y, 7);
    FrameScaler scaler;
    scaler.scale(in.view, out.view, BLACK);
    EXPECT_EQ(scaler.inWidth, 0);
    EXPECT_EQ(scaler.targetWidth, 0u);
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) ASSERT_EQ(0, std::memcmp(out.px(x, y), in.px(x, y), 3));
    // Top row of the image is the first row in memory of the top-down output.
    EXPECT_EQ(out.bytes[1], 0);
    EXPECT_EQ(out.bytes[3 + 1], 0);
}

TEST(FrameScaler, BottomUpSourceLandsRightWayUp) {
    Frame in(160, 120, RgbFrame::RGB24, false), out(320, 240);
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 160; x++) in.set(x, y, 0, (unsigned char)y, 0);
    FrameScaler scaler;
    scaler.scale(in.view, out.view, BLACK);
    for (int y = 0; y < 240; y++) ASSERT_EQ(out.bytes[(long)960 * y + 1], y / 2) << y;
}

// A uniform picture must come out uniform whatever the sizes: no value lost to weights that add up
// to a little under 1, no read past the last source pixel or row.
TEST(FrameScaler, UniformPictureStaysUniformAtEveryCameraSize) {
    const int sizes[][2] = {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480}, {640, 360},
                            {800, 600}, {1280, 720}, {480, 360}, {720, 576}, {321, 241}, {100, 333}};
    const int outputs[][2] = {{320, 240}, {640, 480}, {160, 120}, {321, 241}, {480, 360}, {293, 240}};
    const unsigned char values[][4] = {{255, 255, 255, 255}, {1, 128, 254, 77}, {200, 3, 99, 0}};
    const unsigned char fill[4] = {0, 0, 0, 255};
    for (int format : {RgbFrame::RGB24, RgbFrame::RGB32})
        for (auto& is : sizes)
            for (auto& os : outputs)
                for (auto& v : values) {
                    Frame in(is[0], is[1], format, false), out(os[0], os[1], format);
                    const int p = in.view.bytesPerPixel();
                    for (int y = 0; y < is[1]; y++)
                        for (int x = 0; x < is[0]; x++) std::memcpy(in.px(x, y), v, p);
                    FrameScaler scaler;
                    scaler.scale(in.view, out.view, fill);
                    const bool equal = is[0] == os[0] && is[1] == os[1];
                    const int tw = equal ? os[0] : (int)scaler.targetWidth;
                    const int th = equal ? os[1] : (int)scaler.targetHeight;
                    const int x0 = (os[0] - tw) / 2, y0 = (os[1] - th) / 2;
                    int wrong = 0;
                    for (int y = 0; y < os[1]; y++)
                        for (int x = 0; x < os[0]; x++) {
                            const bool picture = x >= x0 && x < x0 + tw && y >= y0 && y < y0 + th;
                            if (std::memcmp(out.px(x, y), picture ? v : fill, p) != 0) wrong++;
                        }
                    ASSERT_EQ(wrong, 0) << is[0] << "x" << is[1] << " -> " << os[0] << "x" << os[1] << " format "
                                        << format << " value " << (int)v[1];
                }
}

TEST(FrameScaler, NonPositiveSizesOrMixedFormatsLeaveTheOutputAlone) {
    Frame out(32, 24);
    std::vector<unsigned char> src(4096, 9);
    const int bad[][2] = {{0, 10}, {10, 0}, {-4, 10}, {10, -3}};
    for (auto& b : bad) {
        RgbFrame in(src.data(), b[0], b[1], RgbFrame::RGB24, true);
        FrameScaler scaler;
        std::memset(out.bytes.data(), 0x55, out.bytes.size());
        scaler.scale(in, out.view, BLACK);
        EXPECT_EQ(out.bytes[0], 0x55);
        EXPECT_EQ(out.bytes.back(), 0x55);
        RgbFrame emptyOut(out.bytes.data(), b[0], b[1], RgbFrame::RGB24, true);
        Frame goodIn(16, 12);
        scaler.scale(goodIn.view, emptyOut, BLACK);
        EXPECT_EQ(out.bytes[0], 0x55);
    }
    Frame in32(16, 12, RgbFrame::RGB32);
    FrameScaler scaler;
    scaler.scale(in32.view, out.view, BLACK);
    EXPECT_EQ(out.bytes[0], 0x55);
}

// A source so much wider than the output that the picture has no rows: only the fill is drawn.
TEST(FrameScaler, PictureWithoutRowsOnlyFills) {
    Frame in(1000, 1), out(10, 10);
    FrameScaler scaler;
    const unsigned char fill[3] = {5, 6, 7};
    scaler.scale(in.view, out.view, fill);
    EXPECT_EQ(scaler.targetHeight, 0u);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 10; x++) ASSERT_EQ(0, std::memcmp(out.px(x, y), fill, 3));
}
