// A whole lock through the unlock thread and its lock keeper: the lock desktop, the unlock screen
// started on it, and only an end with an unlock status ending the lock. The unlock screen here is a
// script that ends as each case asks: other statuses, signals, a forced end and a heartbeat that
// stops (from the GUI thread, or from the streaming thread while frames came) start a new screen,
// at most one a second, until one opens the session.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/ProductConstants.h"
#include "app/core/ScreenSaver.h"
#include "app/gui/UnlockThread.h"
#include "gui_harness.h"
#include "platform/user.h"
#include "test_app.h"

namespace {

int count(TestApp& app, const std::string& line) {
    int n = 0;
    for (const std::string& l : app.lines.plain()) n += l == line;
    return n;
}

// Lines of a log file without their indent.
std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t text = line.find_first_not_of(' ');
        lines.push_back(text == std::string::npos ? "" : line.substr(text));
    }
    return lines;
}

int count(const std::string& path, const std::string& line) {
    int n = 0;
    for (const std::string& l : fileLines(path)) n += l == line;
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
    // Each start takes the next line of the plan: an exit status, a signal, "wait" (runs until
    // it is ended by force), "hang" (beats once, then no more), "stall" (its frames stop, its GUI
    // beats on); the start times go to a file of their own.
    const std::string plan = dir + "/plan", starts = dir + "/starts", script = dir + "/unlock-screen";
    const std::string keeperLog = dir + "/keeper.log";
    std::ofstream(plan) << "255\n1\nkill\nsegv\nwait\nhang\nstall\n" << kUnlockedByPassword << "\n";
    std::ofstream(script) << "#!/bin/bash\n"
                             "date +%s%N >> '" << starts << "'\n"
                             "step=$(head -n 1 '" << plan << "'); sed -i 1d '" << plan << "'\n"
                             "case $step in\n"
                             "  kill) kill -KILL $$ ;;\n"
                             "  segv) kill -SEGV $$ ;;\n"
                             "  wait) exec sleep 60 ;;\n"
                             "  hang) printf g >&$TARVELO_HEARTBEAT_FD; exec sleep 60 ;;\n"
                             "  stall) printf gf >&$TARVELO_HEARTBEAT_FD\n"
                             "         while :; do printf g >&$TARVELO_HEARTBEAT_FD; sleep 0.5; done ;;\n"
                             "  *) exit $step ;;\n"
                             "esac\n";
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    const std::string saved = UnlockThread::executable, savedLog = UnlockThread::keeperLog;
    UnlockThread::executable = script;
    UnlockThread::keeperLog = keeperLog;

    app.session.assumeLocked();
    UnlockThread* thread = new UnlockThread(app.logger);
    app.unlockThread = thread;
    ASSERT_EQ(thread->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
    // Once: a second ask could reach the next screen.
    bool resumed = false;
    for (int i = 0; i < 200 && !count(keeperLog, "Killing the process..."); ++i) {
        guitest::pump(50);
        // The fifth screen waits: end it as a suspend or resume does.
        if (!resumed && count(keeperLog, "Execute a new instance of Tarvelo in the new desktop...") == 5 &&
            count(keeperLog, "Waiting until until process exits...") == 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            app.onResume();
            resumed = true;
        }
    }
    for (int i = 0; i < 600 && !app.lines.has("Event: Session unlocked"); ++i) guitest::pump(50);
    EXPECT_TRUE(app.lines.has("Event: Session unlocked"));
    EXPECT_EQ(count(keeperLog, "ERROR: The unlock screen ended without authentication, starting it again..."), 7);
    EXPECT_EQ(count(app, "Event: Unlocked"), 1);
    EXPECT_EQ(count(app, "Event: Session unlocked"), 1);
    EXPECT_TRUE(app.lines.has("Restarting the unlock screen..."));
    EXPECT_EQ(count(keeperLog, "ERROR: The unlock screen does not answer, ending it..."), 1);
    EXPECT_EQ(count(keeperLog, "ERROR: The unlock screen's video does not answer, ending it..."), 1);
    EXPECT_EQ(count(keeperLog, "The unlock screen ended with the status " + std::to_string(128 + 9)), 1);
    EXPECT_EQ(count(keeperLog, "The unlock screen ended with the status " + std::to_string(128 + 11)), 1);
    // The keeper took the cover down and ended with the unlock, which the tray took as its own.
    EXPECT_EQ(count(keeperLog, "Restoration of the original desktop..."), 1);
    EXPECT_TRUE(app.lines.has("The lock keeper ended with the status " + std::to_string(kUnlockedByPassword)));
    EXPECT_FALSE(app.lines.has("ERROR: The lock keeper ended without authentication, starting it again..."));
    EXPECT_FALSE(UnlockThread::lockInProgress());
    EXPECT_EQ(app.unlockThread, nullptr);
    // Never more than one start a second.
    std::ifstream in(starts);
    std::vector<long long> times;
    for (long long t; in >> t;) times.push_back(t);
    ASSERT_EQ(times.size(), 8u);
    // (Each time is the script's own first step, which a loaded machine may run later after its spawn.)
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 900000000LL) << i;

    // The worker is gone (the object deleted itself): a forced end now reaches nothing, and the
    // user's desktop is back.
    for (int i = 0; i < 100 && UnlockThread::restartUnlockScreenIfRunning(thread); ++i) guitest::pump(20);
    EXPECT_FALSE(UnlockThread::restartUnlockScreenIfRunning(thread));
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    EXPECT_STREQ(tarvelo_platform::desktopName(input), "Default");
    CloseDesktop(input);

    UnlockThread::executable = saved;
    UnlockThread::keeperLog = savedLog;
    (void)std::system(("rm -rf '" + dir + "'").c_str());
    app.reset();
}

// A tray that finds a lock in progress waits for its end and believes only an unlock status read
// whole from the keeper's status file; a missing or damaged one is no unlock, and it locks again
// (here with a screen that opens at once).
TEST(UnlockThreadTest, AWaitedLockEndsAsItsStatusFileSays) {
    TestApp& app = testApp();
    char folder[] = "/tmp/tarvelo-awaited-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string dir = folder, script = dir + "/unlock-screen";
    std::ofstream(script) << "#!/bin/sh\nexit " << kUnlockedByPassword << "\n";
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    const std::string saved = UnlockThread::executable, savedLog = UnlockThread::keeperLog;
    UnlockThread::executable = script;
    UnlockThread::keeperLog = dir + "/keeper.log";
    const std::string status = UnlockThread::statusFilePath();
    ASSERT_FALSE(status.empty());

    struct Case {
        const char* file;  // null: none
        bool unlocked;     // by the lock that was awaited
    };
    const Case cases[] = {{"86\n", true}, {"0", true}, {nullptr, false}, {"", false},
                          {"8x6\n", false}, {"86 1\n", false}, {"1\n", false}, {"137\n", false}};
    for (const Case& c : cases) {
        const std::string what = c.file ? std::string("\"") + c.file + "\"" : "no file";
        app.reset();
        app.session.assumeLocked();
        HANDLE held = CreateMutexA(nullptr, TRUE, "Global\\Tarvelo_RunOnceLock");  // the earlier tray's keeper
        ASSERT_TRUE(held && GetLastError() != ERROR_ALREADY_EXISTS) << what;
        ASSERT_TRUE(UnlockThread::lockInProgress());
        UnlockThread* thread = new UnlockThread(app.logger, true);
        app.unlockThread = thread;
        ASSERT_EQ(thread->Create(), wxTHREAD_NO_ERROR);
        ASSERT_EQ(thread->Run(), wxTHREAD_NO_ERROR);
        for (int i = 0; i < 100 && !app.lines.has("Waiting for the end of the lock in progress..."); ++i)
            guitest::pump(20);
        if (c.file) std::ofstream(status) << c.file;
        CloseHandle(held);  // the lock ends
        for (int i = 0; i < 300 && !app.lines.has("Event: Session unlocked"); ++i) guitest::pump(20);
        EXPECT_TRUE(app.lines.has("Event: Session unlocked")) << what;
        EXPECT_EQ(app.lines.has("Starting the lock keeper..."), !c.unlocked) << what;
        EXPECT_EQ(GetFileAttributesA(status.c_str()), INVALID_FILE_ATTRIBUTES) << what;
        for (int i = 0; i < 100 && UnlockThread::restartUnlockScreenIfRunning(thread); ++i) guitest::pump(20);
    }

    UnlockThread::executable = saved;
    UnlockThread::keeperLog = savedLog;
    (void)std::system(("rm -rf '" + dir + "'").c_str());
    app.reset();
}

}  // namespace
