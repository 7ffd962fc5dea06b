// The cascade trainer end to end on a small part of the face data: it writes a cascade that the
// tracker loads, with its last stage calibrated to the detector's default threshold, and the same
// seed gives the same bytes (the bootstrap runs on several threads).
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "../common/test_data.h"
#include "detection/FaceTrackerAPI.h"
#include "detection/ipIntegralImage.h"
#include "detection/ipSWmctMS.h"
#include "read_file.h"

using testutil::readFile;

using namespace vision;

namespace {

int trainQuick(const std::string& out) {
    const std::string cmd = "./train_cascade --data '" + testdata::dataDir() + "' --out '" + out +
                            "' --quick --stages 2 --negatives 300 --jitters 0 --threads 3 > /dev/null";
    return std::system(cmd.c_str());
}

}  // namespace

TEST(CascadeTraining, SmallRunWritesACalibratedCascadeAgainByteForByte) {
    REQUIRE_DATA("faces19");
    REQUIRE_DATA("nonfaces19");
    REQUIRE_DATA("negatives");
    if (!testdata::exists("./train_cascade")) GTEST_SKIP() << "train_cascade is not built beside the tests";
    // A folder of its own: a plain and a sanitizer run may train at the same time.
    std::string pattern = ::testing::TempDir() + "/train_cascade_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    const std::string dir = pattern;
    const std::string first = dir + "/quick1.cascade", second = dir + "/quick2.cascade";
    ASSERT_EQ(trainQuick(first), 0);
    ASSERT_EQ(trainQuick(second), 0);
    const std::string bytes = readFile(first);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(bytes == readFile(second)) << "the same seed must give the same cascade";

    ipIntegralImage ii(64, 48, "gray", true);
    ipSWmctMS cascade(ii.sums(), 64, 48, 19, 19, first.c_str(), 0.0f, false);
    EXPECT_EQ(cascade.n_stages, 2);
    EXPECT_EQ(cascade.thresholds[cascade.n_stages - 1], 0.0f) << "the last stage is calibrated to threshold 0";

    FaceTrackingSettings settings(1, 320, 240);
    FaceTrackerAPI_MCTMSMFF_2 tracker(first.c_str(), 0.0f, &settings, false);
    std::vector<unsigned char> grey(320 * 240 * 3, 128);
    tracker.processImageBGR(grey.data());
    EXPECT_EQ(tracker.n_faces, 0) << "a uniform frame holds no face";
    std::remove(first.c_str());
    std::remove(second.c_str());
    rmdir(dir.c_str());
}
