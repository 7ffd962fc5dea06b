// Area-averaging scaling and the rotation with its point mappings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "visionlib/ipRotate.h"
#include "visionlib/ipScale_yx.h"

using namespace vision;

namespace {

Sequence* filled(int n, real value) {
    Sequence* s = new Sequence(1, n);
    for (int i = 0; i < n; i++) s->frames[0][i] = value;
    return s;
}

}  // namespace

TEST(ScaleTest, SmallCases) {
    Sequence* two = new Sequence(1, 2);
    two->frames[0][0] = 10;
    two->frames[0][1] = 30;
    ipScale_yx down(2, 1, "gray", 1, 1);
    down.process(two);
    EXPECT_FLOAT_EQ(down.output->frames[0][0], 20);

    Sequence* one = filled(1, 42);
    ipScale_yx up(1, 1, "gray", 2, 2);
    up.process(one);
    for (int i = 0; i < 4; i++) EXPECT_FLOAT_EQ(up.output->frames[0][i], 42);

    // Sums above 255 are written as 255.
    Sequence* bright = filled(1, 250);
    ipScale_yx over(1, 1, "gray", 1, 1);
    over.process(bright);
    EXPECT_FLOAT_EQ(over.output->frames[0][0], 250);
    two->frames[0][0] = 255;
    two->frames[0][1] = 255;
    ipScale_yx half(2, 1, "gray", 1, 1);
    half.process(two);
    EXPECT_LE(half.output->frames[0][0], 255);

    Sequence* rgb = new Sequence(1, 6);
    const real px[6] = {10, 20, 30, 30, 40, 50};
    for (int i = 0; i < 6; i++) rgb->frames[0][i] = px[i];
    ipScale_yx colour(2, 1, "rgb", 1, 1);
    colour.process(rgb);
    EXPECT_FLOAT_EQ(colour.output->frames[0][0], 20);
    EXPECT_FLOAT_EQ(colour.output->frames[0][1], 30);
    EXPECT_FLOAT_EQ(colour.output->frames[0][2], 40);
    delete two;
    delete one;
    delete bright;
    delete rgb;
}

TEST(ScaleTest, ConstantImagesStayConstant) {
    const int sizes[][4] = {{65, 79, 64, 80}, {129, 159, 64, 80}, {64, 80, 64, 80}, {31, 17, 64, 80},
                            {320, 240, 160, 120}, {7, 3, 5, 11}, {100, 100, 33, 33}};
    for (auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3]);
        Sequence* in = filled(s[0] * s[1], 123);
        ipScale_yx scale(s[0], s[1], "gray", s[2], s[3]);
        EXPECT_EQ(scale.getOutputWidth(), s[2]);
        EXPECT_EQ(scale.getOutputHeight(), s[3]);
        scale.process(in);
        for (int i = 0; i < s[2] * s[3]; i++) ASSERT_NEAR(scale.output->frames[0][i], 123, 0.01) << i;
        delete in;
    }
    ipScale_yx scale(4, 4, "gray", 2, 2);
    scale.setOutputSize(3, 5);
    scale.setInputSize(6, 2);
    Sequence* in = filled(12, 9);
    scale.process(in);
    EXPECT_EQ(scale.output->frame_size, 15);
    for (int i = 0; i < 15; i++) EXPECT_NEAR(scale.output->frames[0][i], 9, 1e-3);
    delete in;
}

TEST(RotateTest, ExactTurns) {
    // 3x2 image 1..6.
    Sequence* in = new Sequence(1, 6);
    for (int i = 0; i < 6; i++) in->frames[0][i] = (real)(i + 1);
    struct Case {
        real angle;
        int w, h;
        std::vector<real> want;
    };
    const Case cases[] = {
        {0, 3, 2, {1, 2, 3, 4, 5, 6}},
        {0.6f, 3, 2, {1, 2, 3, 4, 5, 6}},  // under a degree: no turn
        {-0.6f, 3, 2, {1, 2, 3, 4, 5, 6}},
        {360, 3, 2, {1, 2, 3, 4, 5, 6}},
        {90, 2, 3, {4, 1, 5, 2, 6, 3}},   // clockwise: the top row becomes the right column
        {-90, 2, 3, {3, 6, 2, 5, 1, 4}},  // counter-clockwise
        {270, 2, 3, {3, 6, 2, 5, 1, 4}},
        {180, 3, 2, {6, 5, 4, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        ipRotate rot(c.angle, 3, 2, "gray");
        ASSERT_EQ(rot.getOutputWidth(), c.w);
        ASSERT_EQ(rot.getOutputHeight(), c.h);
        rot.process(in);
        EXPECT_EQ(std::vector<real>(rot.output->frames[0], rot.output->frames[0] + 6), c.want);
    }
    delete in;
}

TEST(RotateTest, OutputSizeAndCentre) {
    ipRotate rot(30, 64, 80, "gray");
    EXPECT_EQ(rot.getOutputWidth(), 95);
    EXPECT_EQ(rot.getOutputHeight(), 101);
    double x, y;
    rot.forwardPoint((double)rot.xc, (double)rot.yc, &x, &y);
    EXPECT_DOUBLE_EQ(x, 95 / 2.0);
    EXPECT_DOUBLE_EQ(y, 101 / 2.0);
    double bx, by;
    rot.inversePoint(x + 10, y - 3, &bx, &by);
    rot.forwardPoint(bx, by, &x, &y);
    EXPECT_NEAR(x, 95 / 2.0 + 10, 1e-9);
    EXPECT_NEAR(y, 101 / 2.0 - 3, 1e-9);

    Sequence* in = filled(64 * 80, 200);
    rot.process(in);
    EXPECT_EQ(rot.output->frames[0][0], 0);                    // corner outside the turned image
    EXPECT_NEAR(rot.output->frames[0][50 * 95 + 47], 200, 1e-3);  // centre inside it
    delete in;
}

// A bright 3x3 spot away from the centre lands where the forward mapping sends its centre, for
// one angle in every branch of the rotation (and just off the exact turns, where the shears
// read the edges of their work images).
TEST(RotateTest, OffCentreSpotLandsWhereThePointMappingSays) {
    const int W = 40, H = 30, px = 28, py = 9;
    const real angles[] = {20, -20, 100, 80, 200, 160, 260, 280, 330, 45, 135, 225, 315, 91.5f, 268.7f, 179.2f, 1.5f};
    for (real a : angles) {
        SCOPED_TRACE(a);
        Sequence in(1, W * H);
        for (int i = 0; i < W * H; i++) in.frames[0][i] = 0;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) in.frames[0][(py + dy) * W + px + dx] = 100;
        ipRotate rot(a, W, H, "gray");
        rot.process(&in);
        const int wo = rot.width_out, ho = rot.height_out;
        double mass = 0, sx = 0, sy = 0;
        for (int y = 0; y < ho; y++)
            for (int x = 0; x < wo; x++) {
                const double v = rot.output->frames[0][y * wo + x];
                mass += v;
                sx += v * (x + 0.5);
                sy += v * (y + 0.5);
            }
        EXPECT_NEAR(mass, 900, 1);  // the shears move values without losing any
        double ex, ey;
        rot.forwardPoint(px + 0.5, py + 0.5, &ex, &ey);
        EXPECT_NEAR(sx / mass, ex, 0.75);
        EXPECT_NEAR(sy / mass, ey, 0.75);
    }
}

// A window of the turned image computed on its own is exactly that part of the whole turned image.
TEST(RotateTest, WindowMatchesTheWholeTurnedImage) {
    const int W = 37, H = 23;
    const real angles[] = {0, 12, -12, 45, 60, 90, 130, 180, 200, 270, 300, 330, 359.5f, 90.7f, 269.3f};
    for (const char* coding : {"gray", "rgb"}) {
        const int np = std::string(coding) == "rgb" ? 3 : 1;
        Sequence in(1, W * H * np);
        for (int i = 0; i < W * H * np; i++) in.frames[0][i] = (real)((i * 37) % 251) + 0.25f;
        for (real a : angles) {
            SCOPED_TRACE(testing::Message() << coding << " " << a);
            ipRotate whole(a, W, H, coding);
            whole.process(&in);
            ipRotate part(a, W, H, coding);
            const int x0 = -3, y0 = 2, w = whole.width_out / 2 + 6, h = whole.height_out;
            std::vector<real> block(w * h * np, -1);
            part.processWindow(&in, x0, y0, w, h, block.data());
            for (int r = 0; r < h; r++)
                for (int c = 0; c < w; c++)
                    for (int k = 0; k < np; k++) {
                        const int xo = x0 + c, yo = y0 + r;
                        const bool inside = xo >= 0 && xo < whole.width_out && yo >= 0 && yo < whole.height_out;
                        const real want = inside ? whole.output->frames[0][(yo * whole.width_out + xo) * np + k] : 0;
                        ASSERT_EQ(block[(r * w + c) * np + k], want) << c << "," << r;
                    }
        }
    }
}
