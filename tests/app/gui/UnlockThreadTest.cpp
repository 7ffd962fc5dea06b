// A whole lock through the unlock thread: the lock desktop, the unlock-screen instance started on
// it (here one that ends at once, the system not being ready), one end-of-lock event, and the
// user's desktop back.
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "app/core/ScreenSaver.h"
#include "app/gui/UnlockThread.h"
#include "gui_harness.h"
#include "test_app.h"

namespace {

TEST(UnlockThreadTest, LockEndsWithOneEventAndTheUserDesktopBack) {
    TestApp& app = testApp();
    app.reset();
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    char folder[] = "/tmp/tarvelo-lock-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    setenv("HOME", folder, 1);  // the unlock-screen instance's user files
    const bool saver = screenSaverConfigured;
    screenSaverConfigured = true;
    EXPECT_EQ(UnlockThread::commandLine(), "Tarvelo.exe --lock --screensaver");
    screenSaverConfigured = false;
    EXPECT_EQ(UnlockThread::commandLine(), "Tarvelo.exe --lock ");  // ends with a blank

    UnlockThread* thread = new UnlockThread();
    app.unlockThread = thread;
    ASSERT_EQ(thread->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    for (int i = 0; i < 200 && !app.lines.has("Event: Session unlocked"); ++i) guitest::pump(50);
    EXPECT_TRUE(app.lines.has("Execute a new instance of Zelk in the new desktop..."));
    EXPECT_TRUE(app.lines.has("Event: Unlocked"));
    EXPECT_TRUE(app.lines.has("Event: Session unlocked"));
    EXPECT_EQ(app.unlockThread, nullptr);
    // The worker is gone (the object deleted itself): a forced end now reaches nothing.
    for (int i = 0; i < 100 && UnlockThread::unlockManuallyIfRunning(thread); ++i) guitest::pump(20);
    EXPECT_FALSE(UnlockThread::unlockManuallyIfRunning(thread));
    guitest::pump(200);
    int events = 0;
    for (const std::string& line : app.lines.plain()) events += line == "Event: Session unlocked";
    EXPECT_EQ(events, 1);
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    EXPECT_STREQ(tarvelo_platform::desktopName(input), "Default");
    CloseDesktop(input);
    screenSaverConfigured = saver;

    setenv("HOME", savedHome.c_str(), 1);
    (void)std::system((std::string("rm -rf '") + folder + "'").c_str());
    app.reset();
}

}  // namespace
