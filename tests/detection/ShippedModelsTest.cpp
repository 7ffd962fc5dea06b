// The shipped detector models: they load into the trackers, and the frontal cascade finds the face in
// frames of the video clips at the default threshold.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../common/test_data.h"
#include "detection/FaceTrackerAPI.h"
#include "detection/TrackerDetectors.h"
#include "visionlib/Allocator.h"
#include "visionlib/Image.h"

using namespace vision;

namespace {

std::string cascadePath() { return testdata::modelsDir() + "/mct4.cascade"; }

#define REQUIRE_CASCADE()                                                                            \
    do {                                                                                             \
        if (!testdata::exists(cascadePath())) GTEST_SKIP() << "no shipped cascade at " << cascadePath(); \
    } while (0)

std::vector<std::string> clipFrames(const std::string& clip) {
    std::vector<std::string> names;
    if (DIR* d = opendir(clip.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pgm") == 0) names.push_back(clip + "/" + n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ShippedModels, FrontalCascadeLoadsIntoTheTracker) {
    REQUIRE_CASCADE();
    FaceTrackingSettings settings(1, 320, 240);
    FaceTrackerAPI_MCTMSMFF_2 tracker(cascadePath().c_str(), 0.0f, &settings, false);
    std::vector<unsigned char> grey(320 * 240 * 3, 128);
    tracker.processImageBGR(grey.data());
    EXPECT_EQ(tracker.n_faces, 0) << "a uniform frame holds no face";
}

// Every folder of models/ that holds a tree's "pyramid-cascade.model" is a multi-view directory.
TEST(ShippedModels, MultiViewDirectoriesLoadIntoTheTracker) {
    std::vector<std::string> dirs;
    if (DIR* d = opendir(testdata::modelsDir().c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string dir = testdata::modelsDir() + "/" + e->d_name;
            if (e->d_name[0] != '.' && testdata::exists(dir + "/pyramid-cascade.model")) dirs.push_back(dir);
        }
        closedir(d);
    }
    if (dirs.empty()) GTEST_SKIP() << "no multi-view directory in " << testdata::modelsDir();
    for (const std::string& dir : dirs) {
        SCOPED_TRACE(dir);
        FaceTrackingSettings settings(1, 320, 240);
        FaceTrackerAPI_MCTMSMFMV_1 tracker(dir.c_str(), 0.0f, false, &settings, false);
        std::vector<unsigned char> grey(320 * 240 * 3, 128);
        tracker.processImageBGR(grey.data());
        EXPECT_EQ(tracker.n_faces, 0);
    }
}

// The first 30 frames of three clips, run through the frontal tracker as the detection filter runs it
// (every frame scanned): a face is reported on several of them (the clips have turned heads, blur and
// faces near the smallest window), each with a box inside the frame and the eyes in its upper half.
TEST(ShippedModels, FrontalCascadeFindsTheFaceInVideoFrames) {
    REQUIRE_DATA("video");
    REQUIRE_CASCADE();
    const char* clips[] = {"02/1", "04/1", "05/1"};
    for (const char* clip : clips) {
        SCOPED_TRACE(clip);
        const std::vector<std::string> frames = clipFrames(testdata::dataDir() + "/video/" + clip);
        ASSERT_GE(frames.size(), 30u);
        ImageGray first(frames[0].c_str());
        const int w = first.width, h = first.height;
        FaceTrackingSettings settings(1, w, h);
        settings.modulo_detection.value = 1;
        FaceTrackerAPI_MCTMSMFF_2 tracker(cascadePath().c_str(), 0.0f, &settings, false);
        std::vector<unsigned char> bgr((size_t)w * h * 3);
        int withFace = 0;
        for (size_t k = 0; k < 30; k++) {
            ImageGray img(frames[k].c_str());
            for (int i = 0; i < w * h; i++) bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = img.byte_pixels[i];
            tracker.processImageBGR(bgr.data());
            if (tracker.n_faces == 0) continue;
            withFace++;
            const FaceInfo& f = *tracker.faces[0];
            EXPECT_GE(f.bbx_width, settings.min_size.value);
            EXPECT_GE(f.bbx_x, -2);
            EXPECT_GE(f.bbx_y, -2);
            EXPECT_LE(f.bbx_x + f.bbx_width, w + 2);
            EXPECT_LE(f.bbx_y + f.bbx_height, h + 2);
            EXPECT_LT(f.left_eye_x, f.right_eye_x);
            EXPECT_GT(f.left_eye_y, f.bbx_y);
            EXPECT_LT(f.left_eye_y, f.bbx_y + f.bbx_height / 2);
        }
        EXPECT_GE(withFace, 5) << "face reported on " << withFace << " of 30 frames";
    }
}

// The classifier decides a scanned row several windows at a time where the processor allows it: the same
// raw windows, confidences to the bit and rejections per stage as window by window, on clip frames enlarged
// to 320 x 240 as the benchmark scans them, at every level of the tracker's scan and from 19 wide (step 1)
// up, at the tracker's threshold and one that lets more windows reach the last test, and on the finer
// vertical step, where more levels read their codes from a code image.
TEST(ShippedModels, FrontalCascadeDecidesRowsAsWindowByWindow) {
    REQUIRE_DATA("video");
    REQUIRE_CASCADE();
    const int W = 320, H = 240;
    std::vector<std::vector<float>> frames;
    for (const char* clip : {"01/1", "02/1", "04/2", "05/1"}) {
        const std::vector<std::string> names = clipFrames(testdata::dataDir() + "/video/" + clip);
        for (size_t k = 0; k < names.size() && k < 40; k += 15) {
            ImageGray img(names[k].c_str());
            std::vector<float> f(W * H);
            for (int y = 0; y < H; y++)
                for (int x = 0; x < W; x++)
                    f[y * W + x] = img.byte_pixels[std::min(img.height - 1, y * img.height / H) * img.width +
                                                   std::min(img.width - 1, x * img.width / W)] /
                                   255.0f;
            frames.push_back(f);
        }
    }
    ASSERT_GE(frames.size(), 8u);

    auto bits = [](float v) {
        uint32_t b;
        std::memcpy(&b, &v, 4);
        return b;
    };
    struct Case {
        int min_size;
        float threshold;
        float step_y;  // 0: the tracker's
    } cases[] = {{38, 0.0f, 0}, {19, 0.0f, 0}, {19, -2.0f, 0}, {38, 0.0f, 0.09f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "min size " << c.min_size << ", threshold " << c.threshold
                                        << ", step y " << c.step_y);
        FaceTrackingSettings settings(1, W, H);
        ScanRange range(settings);
        range.min_size = c.min_size;
        if (c.step_y > 0) range.step_y_factor = c.step_y;
        range.max_patterns = 1 << 20;
        Allocator owner;
        const FrontalDetector rows =
            buildFrontalDetector(&owner, cascadePath().c_str(), c.threshold, W, H, range, false, nullptr, 0);
        const FrontalDetector single =
            buildFrontalDetector(&owner, cascadePath().c_str(), c.threshold, W, H, range, false, nullptr, 0);
        single.classifier->setBoolOption("batch rows", false);
        const int n_stages = single.classifier->n_stages;
        Sequence seq(1, W * H);
        long accepted = 0, last_stage = 0;
        for (size_t f = 0; f < frames.size(); f++) {
            SCOPED_TRACE(f);
            std::copy(frames[f].begin(), frames[f].end(), seq.frames[0]);
            rows.detector->process(&seq);
            single.detector->process(&seq);
            const PatternList& a = *rows.detector->raw;
            const PatternList& b = *single.detector->raw;
            ASSERT_EQ(a.count, b.count);
            ASSERT_EQ(a.stored(), a.count);
            for (int i = 0; i < a.count; i++) {
                const Pattern& p = a.patterns[i];
                const Pattern& q = b.patterns[i];
                ASSERT_EQ(p.x, q.x) << i;
                ASSERT_EQ(p.y, q.y) << i;
                ASSERT_EQ(p.w, q.w) << i;
                ASSERT_EQ(bits(p.confidence), bits(q.confidence)) << i;
                ASSERT_EQ(p.view, q.view) << i;
            }
            for (int s = 0; s < n_stages; s++)
                ASSERT_EQ(rows.classifier->rejections[s], single.classifier->rejections[s]) << "stage " << s;
            accepted += a.count;
        }
        last_stage = single.classifier->rejections[n_stages - 1];
        // Not vacuous: windows are accepted, and some are refused by the last stage or the final test.
        EXPECT_GT(accepted, 0);
        EXPECT_GT(last_stage, 0);
    }
}
