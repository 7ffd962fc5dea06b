// A whole lock through the unlock thread: the lock desktop, the unlock screen started on it, and
// only an end with an unlock status ending the lock. The unlock screen here is a script that ends
// as each case asks: other statuses, signals and a forced end start a new screen, at most one a
// second, until one opens the session.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/core/ProductConstants.h"
#include "app/core/ScreenSaver.h"
#include "app/gui/UnlockThread.h"
#include "gui_harness.h"
#include "test_app.h"

namespace {

int count(TestApp& app, const std::string& line) {
    int n = 0;
    for (const std::string& l : app.lines.plain()) n += l == line;
    return n;
}

TEST(UnlockThreadTest, CommandLine) {
    const bool saver = screenSaverConfigured;
    screenSaverConfigured = true;
    EXPECT_EQ(UnlockThread::commandLine(), "Tarvelo.exe --lock --screensaver");
    screenSaverConfigured = false;
    EXPECT_EQ(UnlockThread::commandLine(), "Tarvelo.exe --lock ");  // ends with a blank
    screenSaverConfigured = saver;
}

TEST(UnlockThreadTest, OnlyAnUnlockStatusEndsTheLockAndEveryOtherEndStartsANewScreen) {
    TestApp& app = testApp();
    app.reset();
    char folder[] = "/tmp/tarvelo-lock-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string dir = folder;
    // Each start takes the next line of the plan: an exit status, a signal, or "wait" (runs until
    // it is ended by force); the start times go to a file of their own.
    const std::string plan = dir + "/plan", starts = dir + "/starts", script = dir + "/unlock-screen";
    std::ofstream(plan) << "255\n1\nkill\nsegv\nwait\n" << kUnlockedByPassword << "\n";
    std::ofstream(script) << "#!/bin/sh\n"
                             "date +%s%N >> '" << starts << "'\n"
                             "step=$(head -n 1 '" << plan << "'); sed -i 1d '" << plan << "'\n"
                             "case $step in\n"
                             "  kill) kill -KILL $$ ;;\n"
                             "  segv) kill -SEGV $$ ;;\n"
                             "  wait) exec sleep 60 ;;\n"
                             "  *) exit $step ;;\n"
                             "esac\n";
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    const std::string saved = UnlockThread::executable;
    UnlockThread::executable = script;

    app.session.assumeLocked();
    UnlockThread* thread = new UnlockThread();
    app.unlockThread = thread;
    ASSERT_EQ(thread->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    for (int i = 0; i < 200 && !app.lines.has("Killing the process..."); ++i) {
        guitest::pump(50);
        // The fifth screen waits: end it as a suspend or resume does.
        if (count(app, "Execute a new instance of Tarvelo in the new desktop...") == 5 &&
            app.lines.has("Waiting until until process exits...")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            app.onResume();
        }
    }
    for (int i = 0; i < 300 && !app.lines.has("Event: Session unlocked"); ++i) guitest::pump(50);
    EXPECT_TRUE(app.lines.has("Event: Session unlocked"));
    EXPECT_EQ(count(app, "ERROR: The unlock screen ended without authentication, starting it again..."), 5);
    EXPECT_EQ(count(app, "Event: Unlocked"), 1);
    EXPECT_EQ(count(app, "Event: Session unlocked"), 1);
    EXPECT_TRUE(app.lines.has("Restarting the unlock screen..."));
    EXPECT_TRUE(app.lines.has("The unlock screen ended with the status " + std::to_string(128 + 9)));
    EXPECT_TRUE(app.lines.has("The unlock screen ended with the status " + std::to_string(128 + 11)));
    EXPECT_EQ(app.unlockThread, nullptr);
    // Never more than one start a second.
    std::ifstream in(starts);
    std::vector<long long> times;
    for (long long t; in >> t;) times.push_back(t);
    ASSERT_EQ(times.size(), 6u);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 950000000LL) << i;

    // The worker is gone (the object deleted itself): a forced end now reaches nothing, and the
    // user's desktop is back.
    for (int i = 0; i < 100 && UnlockThread::restartUnlockScreenIfRunning(thread); ++i) guitest::pump(20);
    EXPECT_FALSE(UnlockThread::restartUnlockScreenIfRunning(thread));
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    EXPECT_STREQ(tarvelo_platform::desktopName(input), "Default");
    CloseDesktop(input);

    UnlockThread::executable = saved;
    (void)std::system(("rm -rf '" + dir + "'").c_str());
    app.reset();
}

}  // namespace
