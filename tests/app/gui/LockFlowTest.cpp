// The whole road of a lock with a real unlock screen: a model enrolled from the replay camera, the
// unlock-screen instance started by the unlock thread on the lock desktop, the face accepted there,
// the instance gone and the lock over.
#include <gtest/gtest.h>

#include "app/core/SessionGuardCore.h"
#include "app/gui/UnlockThread.h"
#include "gui_harness.h"
#include "test_app.h"
#include "read_file.h"

using testutil::readFile;

namespace {

TEST(LockFlowTest, EnrolledFaceUnlocksTheUnlockScreen) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    TestApp& app = testApp();
    app.reset();
    const std::string savedData = app.dataDir;
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    char folder[] = "/tmp/tarvelo-lockflow-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    // The unlock-screen instance finds the user's files in ~/.Tarvelo: the same as ours here.
    setenv("HOME", folder, 1);
    ASSERT_TRUE(guitest::enrollReplayFace(app, folder));

    // The lock.
    std::remove("Tarvelo_unlock.log");
    app.lines.clear();
    app.session.assumeLocked();
    UnlockThread* thread = new UnlockThread(app.logger);
    app.unlockThread = thread;
    ASSERT_EQ(thread->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    for (int i = 0; i < 1200 && !app.lines.has("Event: Session unlocked"); ++i) guitest::pump(50);
    const std::string log = readFile("Tarvelo_unlock.log");
    EXPECT_TRUE(app.lines.has("Event: Session unlocked"));
    EXPECT_NE(log.find("Creation of the Unlock dialog..."), std::string::npos);
    EXPECT_NE(log.find("Face authentified, confidence: "), std::string::npos) << log;
    EXPECT_NE(log.find("Closing the Unlock dialog..."), std::string::npos);
    EXPECT_NE(log.find("Enabling the Task Manager..."), std::string::npos);
    EXPECT_EQ(app.unlockThread, nullptr);

    setenv("HOME", savedHome.c_str(), 1);
    app.dataDir = savedData;
    app.config.cameraName.clear();
    (void)std::system((std::string("rm -rf '") + folder + "'").c_str());
    app.reset();
}

}  // namespace
