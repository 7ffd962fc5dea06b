// Face models, face extraction, random boxes, geometry and the general matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/visionlib/fatal.h"
#include "visionlib/FaceModel.h"
#include "visionlib/Geometry2D.h"
#include "visionlib/Image.h"
#include "visionlib/MatVec.h"
#include "visionlib/Message.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Random.h"
#include "visionlib/ipFaceExtract.h"

using namespace vision;

namespace {

void setEyes(FrontalFace64x80& model, double lx, double ly, double rx, double ry) {
    model.setNumberOfPoints(2);
    model.setPoint(0, lx, ly);
    model.setPoint(1, rx, ry);
    model.leye_index = 0;
    model.reye_index = 1;
}

// A light frame with two dark round eyes of radius 4 centred on the given points.
Sequence* frameWithEyes(int W, int H, double lx, double ly, double rx, double ry) {
    Sequence* frame = new Sequence(1, W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            const bool eye = std::hypot(x + 0.5 - lx, y + 0.5 - ly) < 4 || std::hypot(x + 0.5 - rx, y + 0.5 - ry) < 4;
            frame->frames[0][y * W + x] = eye ? 0 : 200;
        }
    return frame;
}

// Centroid of the dark pixels of the upper left or upper right quarter of a 64x80 face.
void darkCentroid(const real* face, bool right, double* cx, double* cy) {
    double n = 0, sx = 0, sy = 0;
    for (int y = 0; y < 40; y++)
        for (int x = right ? 32 : 0; x < (right ? 64 : 32); x++) {
            const double w = 200 - face[y * 64 + x];
            if (w <= 20) continue;
            n += w;
            sx += w * (x + 0.5);
            sy += w * (y + 0.5);
        }
    *cx = n > 0 ? sx / n : -1;
    *cy = n > 0 ? sy / n : -1;
}

}  // namespace

TEST(FrontalFaceTest, BoxFromEyes) {
    struct Case {
        double lx, ly, rx, ry;
        int x, y, w, h;
    } cases[] = {{100, 120, 133, 120, 84, 104, 65, 79}, {100, 120, 166, 120, 69, 88, 129, 159}};
    for (auto& c : cases) {
        FrontalFace64x80 model(1);
        setEyes(model, c.lx, c.ly, c.rx, c.ry);
        ASSERT_TRUE(model.ldm2bbx());
        EXPECT_EQ(model.bbx_points[0].x, c.x);
        EXPECT_EQ(model.bbx_points[0].y, c.y);
        EXPECT_EQ(model.bbx_width, c.w);
        EXPECT_EQ(model.bbx_height, c.h);
        EXPECT_EQ(model.bbx_points[2].x, c.x + c.w);
        EXPECT_EQ(model.bbx_points[4].y, c.y);
        EXPECT_DOUBLE_EQ(model.rollAngle(), 0);
    }
    FrontalFace64x80 tilted(1);
    setEyes(tilted, 100, 120, 110, 110);  // right eye higher
    EXPECT_NEAR(tilted.rollAngle(), M_PI / 4, 1e-12);
    FrontalFace64x80 none(1);
    double out[2];
    EXPECT_FATAL(none.getReye(out), "FaceModel::getReye() this landmark does not exist");
}

TEST(FaceModelTest, PositionFiles) {
    struct Case {
        int postype;
        const char* text;
        std::vector<double> points;
    } cases[] = {
        {0, "10 20 30 40", {10, 20, 40, 20, 40, 60, 10, 60}},
        {1, "1 2 3 4", {1, 2, 3, 4}},
        {3, "0 0 2 2 10 0 12 4", {1, 1, 11, 2}},
        {4, "6 0 0 2 2 10 0 12 4 5 5 6 9", {1, 1, 11, 2, 5, 5, 6, 9}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.postype);
        MemoryXFile f;
        f.printf("%s\n", c.text);
        f.rewind();
        FrontalFace64x80 model(c.postype);
        model.loadXFile(&f);
        ASSERT_EQ(model.n_points * 2, (int)c.points.size());
        for (int i = 0; i < model.n_points; i++) {
            EXPECT_DOUBLE_EQ(model.points[i].x, c.points[2 * i]);
            EXPECT_DOUBLE_EQ(model.points[i].y, c.points[2 * i + 1]);
        }
    }
    MemoryXFile bad;
    bad.printf("5 0 0 2 2 10 0 12 4 5 5 6 9\n");
    bad.rewind();
    FrontalFace64x80 model(4);
    EXPECT_FATAL(model.loadXFile(&bad), "Number of points (5) <> 6");
}

TEST(RandomBoxTest, JitterOutcomes) {
    Random::setSeed(7);
    const unsigned long expected_next = [] {
        Random::setSeed(7);
        Random::nextInt();
        return Random::nextInt();
    }();
    Random::setSeed(7);
    int x = 10, y = 20, w = 65, h = 79;
    EXPECT_EQ(FaceExtract::computeRandomBox(0, 0, 0, &x, &y, &w, &h, 64, 80), 0);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(w, 65);
    EXPECT_EQ(h, 79);
    EXPECT_EQ(Random::nextInt(), expected_next);  // one number was drawn

    std::set<real> rotations;
    std::set<int> widths;
    std::set<std::pair<int, int>> shifts;
    for (int i = 0; i < 400; i++) {
        int a = 0, b = 0, c = 128, d = 160;
        rotations.insert(FaceExtract::computeRandomBox(0, 0, 1, &a, &b, &c, &d, 64, 80));
        a = 0, b = 0, c = 100, d = 100;
        FaceExtract::computeRandomBox(0, 1, 0, &a, &b, &c, &d, 64, 80);
        widths.insert(c);
        if (c == 90) {
            EXPECT_EQ(a, 4);  // the half-difference -5, +0.5, truncated toward zero
        }
        if (c == 110) {
            EXPECT_EQ(a, -5);
        }
        a = 0, b = 0, c = 128, d = 160;
        FaceExtract::computeRandomBox(1, 0, 0, &a, &b, &c, &d, 64, 80);
        shifts.insert({a, b});
    }
    EXPECT_EQ(rotations, (std::set<real>{-5, 0, 5}));
    EXPECT_EQ(widths, (std::set<int>{90, 100, 110}));
    EXPECT_EQ(shifts.size(), 9u);  // one model pixel (2 x 2 image pixels) in 8 directions, and none
    EXPECT_TRUE(shifts.count({-2, -2}) && shifts.count({0, 0}) && shifts.count({2, 2}));
}

TEST(FaceExtractTest, TiltedFaceComesOutWithLevelEyesOnTheModelRow) {
    const int W = 320, H = 240;
    for (double degrees : {0.0, 15.0, -25.0, 0.5}) {
        SCOPED_TRACE(degrees);
        const double t = degrees * M_PI / 180, d = 50;
        const double lx = 135, ly = 100, rx = lx + d * std::cos(t), ry = ly - d * std::sin(t);
        Sequence* frame = frameWithEyes(W, H, lx, ly, rx, ry);
        FrontalFace64x80 model(1);
        setEyes(model, lx, ly, rx, ry);
        ipFaceExtract extract(W, H, 64, 80, "gray", &model, 0, 0, 0, 0, 1);
        extract.process(frame);
        EXPECT_EQ(extract.getOutputWidth(), 64);
        const real* face = extract.output->frames[0];
        double lcx, lcy, rcx, rcy;
        darkCentroid(face, false, &lcx, &lcy);
        darkCentroid(face, true, &rcx, &rcy);
        // Eyes 33 model columns apart, 16 rows below the top.
        EXPECT_NEAR(lcy, 16, 1.5);
        EXPECT_NEAR(rcy, 16, 1.5);
        EXPECT_NEAR(lcy, rcy, 1.0);
        EXPECT_NEAR(rcx - lcx, 33, 1.5);
        EXPECT_NEAR((lcx + rcx) / 2, 32, 1.5);
        for (int i = 0; i < 64 * 80; i++) ASSERT_EQ(face[i], std::floor(face[i]));  // rounded
        delete frame;
    }
}

TEST(FaceExtractTest, BoxPastTheTopLeftEdgeExtractsCleanly) {
    const int W = 160, H = 120;
    // Eyes near the top-left corner: the box starts left of and above the frame.
    Sequence* frame = frameWithEyes(W, H, 6, 8, 39, 8);
    FrontalFace64x80 model(1);
    setEyes(model, 6, 8, 39, 8);
    ipFaceExtract extract(W, H, 64, 80, "gray", &model, 0, 0, 0, 0, 1);
    extract.process(frame);
    ASSERT_LT(model.bbx_points[0].x, 0);
    ASSERT_LT(model.bbx_points[0].y, 0);
    const real* face = extract.output->frames[0];
    EXPECT_EQ(face[0], 0);            // outside the frame: zeros
    EXPECT_EQ(face[5 * 64 + 60], 0);  // above the frame
    EXPECT_EQ(face[60 * 64 + 60], 200);
    delete frame;

    // Bigger than the frame on every side.
    Sequence* small = frameWithEyes(20, 20, 4, 10, 16, 10);
    FrontalFace64x80 big(1);
    setEyes(big, -4, 10, 24, 10);
    ipFaceExtract whole(20, 20, 64, 80, "gray", &big, 0, 0, 0, 0, 1);
    whole.process(small);
    ASSERT_LT(big.bbx_points[0].x, 0);
    ASSERT_GT(big.bbx_points[2].y, 20);
    EXPECT_EQ(whole.output->frames[0][0], 0);
    delete small;
}

TEST(FaceExtractTest, EyesFarApartAreRefusedInsideARecoverableScope) {
    // A damaged capture description: eyes thousands of pixels apart in a small frame. The box's
    // size once overflowed an int (30000 px: a heap overflow) or asked for a crop of gigabytes
    // (9000 px); it must be refused, and the refusal must free what the cut-out made (the
    // sanitizer build checks for leaks).
    const int W = 80, H = 60;
    Sequence* frame = frameWithEyes(W, H, 10, 30, 40, 30);
    for (double distance : {30000.0, 9000.0, 1400.0}) {
        for (double tilt : {0.0, 40.0}) {
            FrontalFace64x80 model(1);
            setEyes(model, 10, 30, 10 + distance, 30 + tilt);
            ipFaceExtract extract(W, H, 64, 80, "gray", &model, 0, 0, 0, 0, 1);
            std::string text;
            EXPECT_FALSE(runRecoverable([&] { extract.process(frame); }, &text)) << distance;
            EXPECT_EQ(text, "ipFaceExtract::process() impossible to create the face model from eyes coordinates.");
        }
    }
    // Rows beyond an int (a damaged face record) make no box; they once went through an int
    // conversion first (undefined behaviour, caught by the sanitizer build).
    FrontalFace64x80 far(1);
    setEyes(far, 10, 3e9, 43, 3e9 + 1);
    EXPECT_FALSE(far.ldm2bbx());
    delete frame;
}

TEST(FaceExtractTest, JitteredRotationStaysInsideItsBuffers) {
    const int W = 160, H = 120;
    Sequence* frame = frameWithEyes(W, H, 60, 50, 93, 50);
    FrontalFace64x80 model(1);
    setEyes(model, 60, 50, 93, 50);
    Random::setSeed(3);
    ipFaceExtract extract(W, H, 64, 80, "gray", &model, 2, 1, 1, 1, 6);
    extract.process(frame);
    EXPECT_EQ(extract.output->n_frames, 6);
    delete frame;
}

TEST(GeometryTest, AnglesPointsAndCircles) {
    EXPECT_DOUBLE_EQ(degreesToRadians(180), M_PI);
    EXPECT_DOUBLE_EQ(radiansToDegrees(M_PI / 2), 90);
    Point2D p(1.5, -2);
    EXPECT_STREQ(p.sprint(), "(1.5, -2)");
    Point2D pts[2] = {Point2D(0, 0), Point2D(2, 4)};
    const double half[2] = {0.5, 0.5};
    const int ones[2] = {1, 1};
    testing::internal::CaptureStdout();
    const Point2D mid = affineCombination(pts, half, 2);
    const std::string quiet = testing::internal::GetCapturedStdout();
    EXPECT_EQ(mid, Point2D(1, 2));
    EXPECT_EQ(quiet, "");
    testing::internal::CaptureStdout();
    const Point2D sum = affineCombination(pts, ones, 2);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Not affine sum."), std::string::npos);
    EXPECT_EQ(sum, Point2D(2, 4));

    Circle2D circle(10, 10, 4);
    EXPECT_EQ(circle.n, 720);
    EXPECT_DOUBLE_EQ(circle.points[0].x, 14);
    EXPECT_DOUBLE_EQ(circle.points[0].y, 10);
    EXPECT_DOUBLE_EQ(circle.points[2].x, circle.points[1].x);
    EXPECT_NEAR(circle.points[721].x, 14, 1e-6);
    EXPECT_NEAR(circle.points[181].y, 14, 1e-6);  // 90 degrees
    EXPECT_NE(circle.windingNumber(Point2D(10, 10)), 0);
    EXPECT_EQ(circle.windingNumber(Point2D(20, 10)), 0);
    const char* text = circle.sprint();  // 720 points do not fit: cut to the buffer
    EXPECT_LT(strlen(text), sizeof(circle.buffer));
    EXPECT_EQ(strncmp(text, "{ (14, 10) ", 11), 0);

    ImageGray img(20, 20);
    for (int i = 0; i < 400; i++) img.real_pixels[i] = 100;
    img.updateBytes();
    FrontalFace64x80 model(1);
    setEyes(model, 10, 10, 30, 10);
    model.drawLandmarks(&img);
    EXPECT_EQ(img.byte_pixels[10 * 20 + 14], 0);    // green's first byte, on the circle
    EXPECT_EQ(img.byte_pixels[6 * 20 + 9], 0);      // its top, one pixel nearer the origin
    EXPECT_EQ(img.byte_pixels[10 * 20 + 10], 100);  // not at the centre

    Matrix2D m(1, 2, 3, 4);
    EXPECT_STREQ(m.sprint(), "[{1, 2} {3, 4}]");
    const Point2D q = m * Point2D(1, 1);
    EXPECT_EQ(q, Point2D(3, 7));
    Matrix2D m3(3);
    EXPECT_STREQ(m3.sprint(), "[{0, 0, 0} {0, 0, 0} {0, 0, 0}]");
}

TEST(MatVecTest, NormsRowsAndSubMatrices) {
    Mat m(2, 3);
    const real v[2][3] = {{1, -2, 3}, {-4, 5, -6}};
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 3; j++) m.ptr[i][j] = v[i][j];
    EXPECT_DOUBLE_EQ(m.norm1(), 9);
    EXPECT_DOUBLE_EQ(m.normInf(), 15);
    EXPECT_NEAR(m.normFrobenius(), std::sqrt(91.0), 1e-9);
    Vec* row = m.getRow(1);
    EXPECT_EQ(row->ptr[2], -6);
    Vec* col = m.getCol(2);
    EXPECT_EQ(col->ptr[0], 3);
    Mat* sub = m.subMatrix(0, 1, 1, 2);
    EXPECT_EQ(sub->ptr[1][0], 5);
    sub->ptr[0][0] = 42;
    EXPECT_EQ(m.ptr[0][1], 42);  // shared
    Vec a(3), b(3);
    for (int i = 0; i < 3; i++) a.ptr[i] = (real)(i + 1), b.ptr[i] = 2;
    EXPECT_DOUBLE_EQ(a.dot(&b), 12);
    EXPECT_DOUBLE_EQ(a.dot(&b, 1), 10);
    EXPECT_DOUBLE_EQ(a.normInf(), 3);
}
