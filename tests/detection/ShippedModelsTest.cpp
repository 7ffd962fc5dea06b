// The shipped detector models: they load into the trackers, and the frontal cascade finds the face in
// frames of the video clips at the default threshold.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../common/test_data.h"
#include "detection/FaceTrackerAPI.h"
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
