// The image operator base, the pixel operators and the small matrices they use.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/visionlib/fatal.h"
#include "visionlib/SmallMatrixOps.h"
#include "visionlib/ipHistoEqual.h"
#include "visionlib/ipMirror.h"
#include "visionlib/ipNormBestFitLinear.h"
#include "visionlib/ipShift.h"
#include "visionlib/ipSmoothGaussian3.h"

using namespace vision;

namespace {

Sequence* frameOf(const std::vector<real>& values) {
    Sequence* s = new Sequence(1, (int)values.size());
    for (size_t i = 0; i < values.size(); i++) s->frames[0][i] = values[i];
    return s;
}

std::vector<real> out(ipCore& op, int frame = 0) {
    return std::vector<real>(op.output->frames[frame], op.output->frames[frame] + op.output->frame_size);
}

}  // namespace

TEST(IpCoreTest, CodingsAndUnknownCoding) {
    struct {
        const char* coding;
        int id, planes;
    } table[] = {{"gray", 0, 1}, {"rgb", 1, 3}, {"yuv", 2, 3}, {"float", 3, 1}};
    for (auto& c : table) {
        ipCore op(c.coding);
        EXPECT_EQ(op.coding_id, c.id);
        EXPECT_EQ(op.n_planes, c.planes);
        EXPECT_STREQ(op.coding, c.coding);
    }
    EXPECT_FATAL(ipCore op("grey"), "ipCore::ipCore(grey) coding not supported");
}

TEST(PixelOpsTest, MirrorAndShift) {
    Sequence* in = frameOf({1, 2, 3});
    ipMirror mirror(3, 1, "gray");
    mirror.process(in);
    EXPECT_EQ(out(mirror), (std::vector<real>{3, 2, 1}));

    Sequence* rgb = frameOf({1, 2, 3, 4, 5, 6});
    ipMirror mirror_rgb(2, 1, "rgb");
    mirror_rgb.process(rgb);
    EXPECT_EQ(out(mirror_rgb), (std::vector<real>{4, 5, 6, 1, 2, 3}));

    ipShift shift(3, 1, "gray");
    for (int i = 0; i < 3; i++) shift.output->frames[0][i] = -7;
    shift.setIntOption("shiftx", 1);
    shift.process(in);
    EXPECT_EQ(out(shift), (std::vector<real>{-7, 1, 2}));  // nothing reaches the first pixel
    shift.setIntOption("shiftx", -5);
    shift.process(in);
    EXPECT_EQ(out(shift), (std::vector<real>{-7, 1, 2}));
    delete in;
    delete rgb;
}

TEST(PixelOpsTest, Gaussian3SinglePixelAndConstant) {
    ipSmoothGaussian3 g(5, 5, "gray", 0.125f);
    EXPECT_NEAR(g.kernel[4], 0.9986595, 1e-6);
    EXPECT_NEAR(g.kernel[1], 0.00033501294, 1e-10);
    EXPECT_NEAR(g.kernel[0], 1.1238432e-07, 1e-13);
    std::vector<real> img(25, 0);
    img[12] = 255;
    Sequence* in = frameOf(img);
    g.process(in);
    std::vector<real> o = out(g);
    EXPECT_NEAR(o[12], 254.658, 1e-3);
    for (int i : {7, 11, 13, 17}) EXPECT_NEAR(o[i], 0.0854283, 1e-6);
    for (int i : {6, 8, 16, 18}) EXPECT_NEAR(o[i], 2.866e-05, 1e-8);
    EXPECT_EQ(o[0], 0);
    delete in;

    Sequence* flat = frameOf(std::vector<real>(25, 77));
    g.process(flat);
    for (real v : out(g)) EXPECT_NEAR(v, 77, 1e-4);  // borders replicate
    delete flat;
}

TEST(PixelOpsTest, HistogramEqualisationCases) {
    struct Case {
        const char* name;
        std::vector<real> in;
        std::vector<real> want;
    };
    const Case cases[] = {
        {"all 100", {100, 100, 100, 100}, {255, 255, 255, 255}},
        {"half 0 half 255", {0, 255, 0, 255}, {0, 255, 0, 255}},
        {"four levels", {10, 20, 30, 40}, {63.75f, 127.5f, 191.25f, 255}},
        {"fractions truncate", {10.9f, 10.1f, 20, 20}, {127.5f, 127.5f, 255, 255}},
        // Values outside 0..255 are clamped into the end bins (NaN into bin 0).
        {"out of range", {-50, 300, NAN, 128}, {0, 255, 0, 255 * 0.75f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ipHistoEqual h(2, 2, "gray");
        Sequence* in = frameOf(c.in);
        testing::internal::CaptureStdout();
        h.process(in);
        const std::string printed = testing::internal::GetCapturedStdout();
        std::vector<real> o = out(h);
        for (int i = 0; i < 4; i++) EXPECT_NEAR(o[i], c.want[i], 1e-3) << i;
        if (std::string(c.name) == "out of range") {
            EXPECT_NE(printed.find("ipHistoEqual::process() out-of-range value."), std::string::npos);
        }
        delete in;
    }
    ipHistoEqual f(2, 1, "float");
    Sequence* in = frameOf({0.1f, 0.9f});
    f.process(in);
    EXPECT_EQ(out(f), (std::vector<real>{0.5f, 1}));
    delete in;
}

TEST(PixelOpsTest, PlaneFitRemovesAPlaneKeepingTheMean) {
    const int W = 64, H = 80;
    std::vector<real> plane(W * H), textured(W * H);
    double sum = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            plane[y * W + x] = 0.5f * x - 0.75f * y + 120;
            textured[y * W + x] = plane[y * W + x] + ((x * 7 + y * 3) % 5 == 0 ? 20 : 0);
            sum += plane[y * W + x];
        }
    const real mean = (real)(sum / (W * H));
    ipNormBestFitLinear fit(W, H, "gray");
    Sequence* in = frameOf(plane);
    fit.process(in);
    EXPECT_NEAR(fit.p[0], 0.5, 1e-3);
    EXPECT_NEAR(fit.p[1], -0.75, 1e-3);
    EXPECT_NEAR(fit.p[2], 120, 1e-2);
    for (int i = 0; i < W * H; i += 97) {
        EXPECT_NEAR(fit.output->frames[0][i], mean, 0.05) << i;
        EXPECT_NEAR(fit.output->frames[1][i], plane[i], 0.05) << i;
    }
    delete in;

    // The texture survives on top of the mean; the result stays in 0..255.
    in = frameOf(textured);
    fit.process(in);
    int bright = 0;
    for (int i = 0; i < W * H; i++) {
        const real v = fit.output->frames[0][i];
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 255);
        bright += v > mean + 10;
    }
    EXPECT_NEAR(bright, W * H / 5, W * H / 25);
    delete in;

    in = frameOf(std::vector<real>(W * H, 93));
    fit.process(in);
    for (int i = 0; i < W * H; i += 31) EXPECT_NEAR(fit.output->frames[0][i], 93, 1e-2);
    delete in;
}

TEST(PixelOpsTest, SingularPlaneFitLeavesTheImageUnchanged) {
    for (auto size : {std::pair<int, int>{1, 5}, std::pair<int, int>{5, 1}}) {
        const int n = size.first * size.second;
        ipNormBestFitLinear fit(size.first, size.second, "gray");
        std::vector<real> img;
        for (int i = 0; i < n; i++) img.push_back((real)(10 * i + 3));
        Sequence* in = frameOf(img);
        fit.process(in);
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(fit.output->frames[0][i], img[i]);
            EXPECT_EQ(fit.output->frames[1][i], 23);  // the mean
        }
        delete in;
    }
}

TEST(SmallMatrixOpsTest, InverseDeterminantAndNorms) {
    real r0[3], r1[3], r2[3], d0[3], d1[3], d2[3];
    real* m[3] = {r0, r1, r2};
    real* d[3] = {d0, d1, d2};
    SmallMatrixOps ops3(3);
    ops3.zeroMatrix(m);
    m[0][0] = 2, m[1][1] = 4, m[2][2] = 8;
    EXPECT_DOUBLE_EQ(ops3.invert(d, m), 64);
    EXPECT_FLOAT_EQ(d[0][0], 0.5f);
    EXPECT_FLOAT_EQ(d[1][1], 0.25f);
    EXPECT_FLOAT_EQ(d[2][2], 0.125f);
    EXPECT_EQ(d[0][1], 0);

    // A full matrix: A A^-1 is the identity.
    const real a[3][3] = {{4, 7, 2}, {3, 6, 1}, {2, 5, 3}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) m[i][j] = a[i][j];
    const double det = ops3.invert(d, m);
    EXPECT_NEAR(det, 9, 1e-9);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            double s = 0;
            for (int k = 0; k < 3; k++) s += a[i][k] * d[k][j];
            EXPECT_NEAR(s, i == j ? 1 : 0, 1e-5);
        }
    ops3.zeroMatrix(m);
    for (int i = 0; i < 3; i++) m[i][i] = 1;
    EXPECT_NEAR(ops3.matrixNorm(m), std::sqrt(3.0) / 3, 1e-7);
    const real v[3] = {1, 0, 0};
    real row[3];
    m[0][1] = 5;
    ops3.vectorTimesMatrix(row, v, m);
    EXPECT_EQ(row[1], 5);

    SmallMatrixOps ops2(2);
    m[0][0] = 1, m[0][1] = 2, m[1][0] = 3, m[1][1] = 4;
    EXPECT_DOUBLE_EQ(ops2.invert(d, m), -2);
    EXPECT_FLOAT_EQ(d[0][0], -2);
    EXPECT_FLOAT_EQ(d[0][1], 1);
    EXPECT_FLOAT_EQ(d[1][0], 1.5f);
    EXPECT_FLOAT_EQ(d[1][1], -0.5f);

    SmallMatrixOps ops4(4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ops4.invert(d, m), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("4x4"), std::string::npos);
}
