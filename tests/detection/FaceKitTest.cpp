// The face data road of the trainers and benchmarks: pictures read whatever their format (a damaged
// one refused, not the end of the process), and the accuracy benchmark's matching rule.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../common/test_data.h"
#include "tools/facekit/FaceLists.h"
#include "tools/facekit/Images.h"
#include "tools/facekit/Matching.h"
#include "tools/facekit/Scan.h"

using namespace facekit;

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = ::testing::TempDir() + "/facekit_XXXXXX";
        path = mkdtemp(&pattern[0]) ? pattern : "";
    }
    ~TempDir() {
        for (const std::string& f : listFiles(path, {".pgm", ".jpg"})) std::remove(f.c_str());
        rmdir(path.c_str());
    }
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string p = path + "/" + name;
        FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return p;
    }
};

}  // namespace

TEST(FaceKit, ReadsPgmAndRefusesDamagedPictures) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string pgm = dir.write("a.pgm", std::string("P5\n3 2\n255\n") + std::string("\x01\x02\x03\x04\x05\x06", 6));
    GrayFrame f;
    ASSERT_TRUE(loadGray(pgm, &f));
    EXPECT_EQ(f.width, 3);
    EXPECT_EQ(f.height, 2);
    EXPECT_EQ(f.at(2, 1), 6);
    EXPECT_EQ(mirrored(f).at(0, 1), 6);

    // A JPEG start followed by rubbish, and a picture cut short: refused, and the process goes on.
    EXPECT_FALSE(loadGray(dir.write("b.jpg", std::string("\xFF\xD8\xFF\xE0garbage", 11)), &f));
    EXPECT_FALSE(loadGray(dir.write("c.pgm", "P5\n3 2\n255\n\x01"), &f));
    EXPECT_FALSE(loadGray(dir.path + "/missing.jpg", &f));
    EXPECT_EQ(listImages(dir.path), (std::vector<std::string>{dir.path + "/a.pgm", dir.path + "/b.jpg", dir.path + "/c.pgm"}));
}

TEST(FaceKit, ReadsTheGreyJpegFolders) {
    REQUIRE_DATA("webfaces");
    const std::vector<EyeFace> faces = readWebFaces(testdata::dataDir() + "/webfaces");
    ASSERT_GT(faces.size(), 10000u);
    GrayFrame f;
    ASSERT_TRUE(loadGray(faces[0].path, &f));
    EXPECT_GT(f.width, 0);
    EXPECT_LT(faces[0].eyes.left_x, faces[0].eyes.right_x);
    EXPECT_LT(faces[0].eyes.right_x, f.width);
}

TEST(FaceKit, MatchingRule) {
    const MarkedFace face{100, 100, 40, 40, {110, 112, 130, 112}};
    struct Case { Window d; bool match; const char* why; };
    const Case cases[] = {
        {{100, 100, 40, 40, 0, 0}, true, "the same box"},
        {{80, 80, 40, 40, 0, 0}, true, "centre on the face box's corner"},
        {{79, 100, 40, 40, 0, 0}, false, "centre left of the face box"},
        {{110, 110, 20, 20, 0, 0}, true, "half as wide"},
        {{111, 111, 19, 19, 0, 0}, false, "less than half as wide"},
        {{80, 80, 80, 80, 0, 0}, true, "twice as wide"},
        {{79, 79, 82, 82, 0, 0}, false, "more than twice as wide"},
    };
    for (const Case& c : cases) EXPECT_EQ(matches(c.d, face), c.match) << c.why;

    // A detection inside two overlapping faces goes to the nearer centre; two detections of one face:
    // the nearer matches, the other is a false positive.
    const std::vector<MarkedFace> faces = {face, {130, 100, 40, 40, {140, 112, 160, 112}}};
    const std::vector<int> m = matchDetections({{117, 100, 40, 40, 0, 0}, {101, 100, 40, 40, 0, 0}}, faces);
    EXPECT_EQ(m, (std::vector<int>{1, 0}));
    EXPECT_EQ(matchDetections({{101, 100, 40, 40, 0, 0}, {102, 100, 40, 40, 0, 0}}, {face}),
              (std::vector<int>{0, -1}));
}

TEST(FaceKit, EyeErrorUsesTheTrackersEyePlacement) {
    // A 38-pixel box at (0, 0) puts the eyes at (9, 10) and (29, 10).
    EXPECT_DOUBLE_EQ(eyeError({0, 0, 38, 38, 0, 0}, {9, 10, 29, 10}), 0.0);
    EXPECT_DOUBLE_EQ(eyeError({0, 0, 38, 38, 0, 0}, {11, 10, 31, 10}), 0.1);
    EXPECT_LT(eyeError({0, 0, 38, 38, 0, 0}, {5, 5, 5, 5}), 0) << "marked eyes that coincide";
    // A face placed by its eyes comes back with its eyes where the tracker puts them.
    const Box b = boxFromEyes({109, 60, 129, 60});
    EXPECT_FLOAT_EQ(b.w, 38);
    EXPECT_DOUBLE_EQ(eyeError({(int)b.x, (int)b.y, (int)b.w, (int)b.w, 0, 0}, {109, 60, 129, 60}), 0.0);
}

// The benchmark's ceiling re-ranks raw windows and fuses them itself: with their own confidences they
// must fuse to exactly what the tracker's detector reports.
TEST(FaceKit, FusingRawWindowsGivesTheDetectorsResult) {
    REQUIRE_DATA("video");
    const std::string cascade = testdata::modelsDir() + "/mct4.cascade";
    if (!testdata::exists(cascade)) GTEST_SKIP() << "no shipped cascade at " << cascade;
    ScanSettings fused, raw;
    fused.step_y_factor = raw.step_y_factor = 0.09f;
    raw.fuse = false;
    int frames = 0, faces = 0;
    for (const char* clip : {"00/2", "03/1"}) {
        const std::vector<std::string> paths = listPgm(testdata::dataDir() + "/video/" + clip);
        for (size_t k = 0; k < paths.size(); k += 5) {
            GrayFrame frame;
            ASSERT_TRUE(loadGray(paths[k], &frame));
            FrameCodes codes(frame);
            const std::vector<Window> windows = scanFrame(codes, cascade, raw);
            if (windows.size() > 100) continue;  // past the fusion's capacity the detector fuses by groups
            const std::vector<Window> want = scanFrame(codes, cascade, fused), got = fuseWindows(windows, 0);
            ASSERT_EQ(got.size(), want.size()) << paths[k];
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].x, want[i].x);
                EXPECT_EQ(got[i].y, want[i].y);
                EXPECT_EQ(got[i].w, want[i].w);
                EXPECT_EQ(got[i].confidence, want[i].confidence);
                EXPECT_EQ(got[i].activation, want[i].activation);
            }
            ++frames;
            faces += (int)got.size();
        }
    }
    EXPECT_GE(frames, 20);
    EXPECT_GE(faces, 5) << "the frames must hold fused faces for the comparison to mean something";
}
