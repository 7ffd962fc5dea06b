#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "detect_helpers.h"
#include "detection/FaceTrackerAPI.h"

using namespace vision;

namespace {

// Counts detection calls; the image conversion is the base's.
class ConvertOnly : public FaceTrackerAPI {
public:
    int calls = 0;
    explicit ConvertOnly(FaceTrackingSettings* s) : FaceTrackerAPI(s, false) {}
    void process() override { calls++; }
    float meanIntensity() override { return 0; }
};

// BGR rows of `stride` bytes, padding filled with junk.
std::vector<unsigned char> randomFrame(int w, int h, int stride, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> f((size_t)stride * h);
    for (auto& b : f) b = (unsigned char)(rng() & 0xFF);
    return f;
}

std::vector<unsigned char> flipRows(const std::vector<unsigned char>& f, int h, int stride) {
    std::vector<unsigned char> out(f.size());
    for (int y = 0; y < h; y++) std::memcpy(&out[(size_t)y * stride], &f[(size_t)(h - 1 - y) * stride], stride);
    return out;
}

std::vector<unsigned char> uniformFrame(int w, int h, unsigned char v) { return std::vector<unsigned char>((size_t)3 * w * h, v); }

std::vector<float> grayOf(const FaceTrackerAPI& t) { return std::vector<float>(t.gray, t.gray + t.n_pixels); }

struct CascadeFile {
    std::string path;
    CascadeFile(bool accept = true) {
        path = testhelp::freshDir() + "/uniform.cascade";
        testhelp::writeUniformCascade(path, accept, 1.0f);
    }
};

const int W = 64, H = 48;

}  // namespace

TEST(FaceTracker, EntryPointsAgreeOnPaddedRows) {
    const int w = 21, h = 5, stride = 64;  // 63 bytes of pixels, padded to 64
    FaceTrackingSettings s(1, w, h);
    const std::vector<unsigned char> topDown = randomFrame(w, h, stride, 7);
    std::vector<float> expected;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const unsigned char* p = &topDown[(size_t)y * stride + 3 * x];
            expected.push_back((float)((5 * p[0] + 16 * p[1] + 11 * p[2]) >> 5));
        }

    ConvertOnly bgr(&s), reversed(&s), rgb(&s), yuv(&s);
    bgr.processImageBGR(topDown.data(), stride);
    reversed.processReverseImageBGR(flipRows(topDown, h, stride).data(), stride);
    std::vector<unsigned char> swapped = topDown, luma = topDown;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned char* p = &swapped[(size_t)y * stride + 3 * x];
            std::swap(p[0], p[2]);
            luma[(size_t)y * stride + 3 * x] = (unsigned char)expected[(size_t)y * w + x];
        }
    rgb.processImageRGB(swapped.data(), stride);
    yuv.processImageYUV(luma.data(), stride);

    EXPECT_EQ(grayOf(bgr), expected);
    EXPECT_EQ(grayOf(reversed), expected);
    EXPECT_EQ(grayOf(rgb), expected);
    EXPECT_EQ(grayOf(yuv), expected);
    EXPECT_EQ(bgr.calls, 1);
    EXPECT_FLOAT_EQ(bgr.gray_normalised[3], expected[3] / 255.0f);

    // Packed rows (stride 0) read the same pixels as a buffer without padding.
    std::vector<unsigned char> packed;
    for (int y = 0; y < h; y++) packed.insert(packed.end(), &topDown[(size_t)y * stride], &topDown[(size_t)y * stride] + 3 * w);
    ConvertOnly dense(&s);
    dense.processImageBGR(packed.data());
    EXPECT_EQ(grayOf(dense), expected);
}

TEST(FaceTracker, MovingPixelsAgainstThePreviousFrame) {
    FaceTrackingSettings s(1, 8, 4);
    ASSERT_EQ(s.pixel_sensitivity.value, 30);
    struct Case {
        unsigned char value;
        int moving;
    } firstFrames[] = {{31, 32}, {30, 0}, {0, 0}, {255, 32}};
    for (const Case& c : firstFrames) {
        ConvertOnly t(&s);
        t.processImageBGR(uniformFrame(8, 4, c.value).data());
        EXPECT_EQ(t.n_moving, c.moving) << (int)c.value;  // the first frame is compared with black
        EXPECT_EQ(t.motion_mask[5], c.moving ? c.value : 0);
        t.processImageBGR(uniformFrame(8, 4, c.value).data());
        EXPECT_EQ(t.n_moving, 0);
        EXPECT_EQ(t.motion_mask[5], 0);
    }
}

TEST(FaceTracker, SettersAndMeanIntensity) {
    FaceTrackingSettings s(1, W, H);
    CascadeFile cascade;
    FaceTrackerAPI_MCTMSMFF_2 t(cascade.path.c_str(), 0, &s, false);
    EXPECT_STREQ(t.name, "MCT-MS-MF-F-2");
    t.processImageBGR(uniformFrame(W, H, 51).data());
    EXPECT_NEAR(t.meanIntensity(), 0.2f, 1e-4);
    t.setDetectionModulo(7);
    EXPECT_EQ(s.modulo_detection.value, 7);
    EXPECT_EQ(t.frame_counter, 0);
    t.setPixelDifference(55);
    EXPECT_EQ(s.pixel_sensitivity.value, 55);
    t.setMotionQuantity(768);
    EXPECT_EQ(s.motion.value, 768);
}

TEST(FaceTracker, DetectionGatedByMotionAndModulo) {
    const std::vector<unsigned char> a = randomFrame(W, H, 3 * W, 1), b = randomFrame(W, H, 3 * W, 2);
    struct Case {
        int modulo;
        std::vector<const std::vector<unsigned char>*> frames;
        std::vector<bool> scanned;
    } cases[] = {
        {3, {&a, &a, &a, &a, &b, &b}, {true, false, true, false, true, true}},
        {1, {&a, &a, &a}, {true, true, true}},
        {50, {&a, &a, &a, &b}, {true, false, false, true}},
    };
    CascadeFile cascade;
    for (const Case& c : cases) {
        FaceTrackingSettings s(2, W, H);
        s.modulo_detection.value = c.modulo;
        FaceTrackerAPI_MCTMSMFF_2 t(cascade.path.c_str(), 0, &s, false);
        int lastFaces = -1;
        for (size_t i = 0; i < c.frames.size(); i++) {
            t.detector->n_windows = -1;  // stays so when the detector does not run
            t.processImageBGR(c.frames[i]->data());
            EXPECT_EQ(t.detector->n_windows != -1, (bool)c.scanned[i]) << "modulo " << c.modulo << " frame " << i;
            if (!c.scanned[i]) {
                EXPECT_EQ(t.n_faces, lastFaces);  // the last output is reported again
            }
            lastFaces = t.n_faces;
        }
        EXPECT_GE(t.n_faces, 1);
    }
}

TEST(FaceTracker, FrontalFacesCarryBoxEyesAndPlane) {
    CascadeFile cascade;
    FaceTrackingSettings s(4, W, H);
    FaceTrackerAPI_MCTMSMFF_2 t(cascade.path.c_str(), 0, &s, false);
    t.processImageBGR(randomFrame(W, H, 3 * W, 3).data());
    ASSERT_GE(t.n_faces, 1);
    ASSERT_LE(t.n_faces, 4);
    const FaceInfo& f = *t.faces[0];
    EXPECT_EQ(f.bbx_width, 38);  // the only level on a 48-row frame
    EXPECT_TRUE(f.inplane);
    EXPECT_FALSE(f.outplane);
    EXPECT_EQ(f.angle, 0);
    EXPECT_FLOAT_EQ(f.score, 1.0f);
    EXPECT_GT(f.right_eye_x, f.left_eye_x);
    EXPECT_EQ(f.id, 0);

    // A cascade that rejects everything empties the output and the tracks.
    CascadeFile none(false);
    FaceTrackingSettings s2(4, W, H);
    FaceTrackerAPI_MCTMSMFF_2 empty(none.path.c_str(), 0, &s2, false);
    empty.processImageBGR(randomFrame(W, H, 3 * W, 3).data());
    EXPECT_EQ(empty.n_faces, 0);
}

TEST(FaceTracker, DisablingResetsTheFrontalAveragerOnly) {
    const std::vector<unsigned char> a = randomFrame(W, H, 3 * W, 4), b = randomFrame(W, H, 3 * W, 5);
    CascadeFile cascade;
    FaceTrackingSettings s(1, W, H);
    FaceTrackerAPI_MCTMSMFF_2 t(cascade.path.c_str(), 0, &s, false);
    t.processImageBGR(a.data());
    ASSERT_TRUE(t.averager->active[0]);
    t.setEnabled(false);
    t.processImageBGR(b.data());
    EXPECT_EQ(t.n_faces, 0);
    EXPECT_FALSE(t.averager->active[0]);
    EXPECT_EQ(t.averager->history[0][0]->bbx_width, 0);
    t.setEnabled(true);
    t.processImageBGR(a.data());
    EXPECT_EQ(t.n_faces, 1);
    EXPECT_EQ(t.averager->current[0], 1);  // a new track with one entry
}

TEST(FaceTracker, ViewTable) {
    struct Row {
        int view;
        bool inplane;
        float angle;
    } rows[] = {{0, true, 0},     {1, true, 22.5f},   {2, true, -22.5f}, {3, true, 45},  {4, true, -45},
                {5, false, 22.5f}, {6, false, -22.5f}, {7, false, 45},    {8, false, -45}, {9, true, 0},
                {19, true, 0},    {-1, true, 0}};
    for (const Row& r : rows) {
        FaceInfo f;
        f.angle = 99;
        f.outplane = f.inplane = true;
        setFaceView(f, r.view);
        EXPECT_EQ(f.inplane, r.inplane) << r.view;
        EXPECT_EQ(f.outplane, !r.inplane) << r.view;
        EXPECT_EQ(f.angle, r.angle) << r.view;
    }
}


TEST(FaceTracker, MultiViewReportsTheViewOfTheTree) {
    struct Case {
        bool inplane;
        int inId, outId;
        bool reportedIn;
        float angle;
    } cases[] = {{true, 3, 7, true, 45}, {false, 3, 7, false, 45}, {true, 2, 6, true, -22.5f}, {false, 2, 6, false, -22.5f}};
    for (const Case& c : cases) {
        const std::string dir = testhelp::multiViewDir(c.inplane, c.inId, c.outId);
        FaceTrackingSettings s(4, W, H);
        FaceTrackerAPI_MCTMSMFMV_1 t(dir.c_str(), 0, false, &s, false);
        EXPECT_STREQ(t.name, "MCT-MS-MF-MV-1");
        t.processImageBGR(randomFrame(W, H, 3 * W, 9).data());
        ASSERT_GE(t.n_faces, 1) << c.inId;
        EXPECT_EQ(t.faces[0]->inplane, c.reportedIn);
        EXPECT_EQ(t.faces[0]->outplane, !c.reportedIn);
        EXPECT_FLOAT_EQ(t.faces[0]->angle, c.angle);
        EXPECT_FLOAT_EQ(t.faces[0]->score, 2.0f);

        // Disabled, the multi-view tracker reports nothing but keeps its tracks.
        t.setEnabled(false);
        t.processImageBGR(randomFrame(W, H, 3 * W, 10).data());
        EXPECT_EQ(t.n_faces, 0);
        EXPECT_TRUE(t.averager->active[0]);
    }
}

TEST(FaceTrackerDeathTest, FatalInputs) {
    FaceTrackingSettings s(1, W, H);
    EXPECT_FATAL(ConvertOnly t(nullptr), "FaceTrackerAPI::FaceTrackerAPI\\(\\) No settings provided\\.");
    struct Case {
        void (*call)(FaceTrackerAPI&);
        const char* message;
    } cases[] = {
        {[](FaceTrackerAPI& t) { t.processImageBGR(nullptr); }, "FaceTracker::processImageBGR\\(\\): input image is NULL\\."},
        {[](FaceTrackerAPI& t) { t.processReverseImageBGR(nullptr); },
         "FaceTracker::processReverseImageBGR\\(\\): input image is NULL\\."},
        {[](FaceTrackerAPI& t) { t.processImageRGB(nullptr); }, "FaceTracker::processImageRGB\\(\\): input image is NULL\\."},
        {[](FaceTrackerAPI& t) { t.processImageYUV(nullptr); }, "FaceTracker::processImageYUV\\(\\): input image is NULL\\."},
        {[](FaceTrackerAPI& t) { t.setDetectionModulo(0); }, "APItracker::setDetectionModulo\\(\\): modulo must be above 1\\."},
        {[](FaceTrackerAPI& t) { t.setDetectionModulo(201); }, "APItracker::setDetectionModulo\\(\\): modulo must be below 200\\."},
        {[](FaceTrackerAPI& t) { t.setPixelDifference(9); },
         "APItracker::setPixelDifference\\(\\): pixel difference must be above 10\\."},
        {[](FaceTrackerAPI& t) { t.setPixelDifference(101); },
         "APItracker::setPixelDifference\\(\\): pixel difference must be below 100\\."},
        {[](FaceTrackerAPI& t) { t.setMotionQuantity(9); },
         "APItracker::setMotionQuantity\\(\\): motion quantity must be above 10\\."},
        {[](FaceTrackerAPI& t) { t.setMotionQuantity(769); },
         "APItracker::setMotionQuantity\\(\\): motion quantity must be below 768\\."},
    };
    for (const Case& c : cases) {
        EXPECT_FATAL(
            {
                ConvertOnly t(&s);
                c.call(t);
            },
            c.message);
    }
}

namespace {

// Stands in for the scanner: reports a fixed list of detections on every frame.
class FixedDetections : public MSPatternDetect {
public:
    std::vector<Pattern*> found;
    FixedDetections(FaceTrackerAPI_MCTMSMFF_2& t)
        : MSPatternDetect(t.classifier, t.fusion, t.integral, W, H, 19, 19, 38, 48, 0.0625f, 0.125f, 0.125f, 0.041f,
                          0.89f, 0.0204354f, 0.382121f, nullptr, 0, 1.0f, 10, false) {}
    ~FixedDetections() override {
        for (Pattern* p : found) delete p;
    }
    void add(int x, int y, int w, float confidence) {
        Pattern* p = new Pattern();
        p->x = x;
        p->y = y;
        p->w = p->h = w;
        p->confidence = confidence;
        found.push_back(p);
    }
    void process(Sequence*) override {
        n_patterns = (int)found.size();
        patterns = found.data();
    }
};

}  // namespace

TEST(FaceTracker, OnlyTheFirstMaxFacesDetectionsReachTheAverager) {
    CascadeFile cascade;
    FaceTrackingSettings s(4, W, H);
    FaceTrackerAPI_MCTMSMFF_2 t(cascade.path.c_str(), 0, &s, false);
    FixedDetections fake(t);
    for (int i = 0; i < 5; i++) fake.add(60 * i, 10, 20, 5.0f - i);  // far apart: one track each
    t.detector = &fake;
    t.processImageBGR(randomFrame(W, H, 3 * W, 11).data());
    ASSERT_EQ(t.n_faces, 4);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(t.faces[i]->bbx_x, 60 * i);
        EXPECT_FLOAT_EQ(t.faces[i]->score, 5.0f - i);
        EXPECT_EQ(t.faces[i]->id, i);
    }
    for (Pattern* p : fake.found) delete p;
    fake.found.clear();  // no detection: the output and the tracks are cleared
    t.processImageBGR(randomFrame(W, H, 3 * W, 12).data());
    EXPECT_EQ(t.n_faces, 0);
    EXPECT_FALSE(t.averager->active[0]);
}
