// The tray instance's session control with its outside world replaced: idle timer, presence check,
// lock, unlock and adaptation, suspend and resume, enable and disable, the settings loop.
#include <fstream>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/capture/Notifications.h"
#include "app/core/EnrollmentThread.h"
#include "app/gui/TrayIcon.h"
#include "gui_harness.h"
#include "test_app.h"
#include "verification/UserInfo.h"

namespace {

class SessionControlTest : public testing::Test {
protected:
    void SetUp() override {
        app().reset();
        app().config.idleDelay = 600000;
    }
    void TearDown() override { app().reset(); }
    TestApp& app() { return testApp(); }
    bool timerArmed(int interval) {
        return app().idleTimer && app().idleTimer->IsRunning() && app().idleTimer->IsOneShot() &&
               app().idleTimer->GetInterval() == interval;
    }
    bool timerStopped() { return !app().idleTimer || !app().idleTimer->IsRunning(); }
    void fire() {
        wxTimer timer;
        wxTimerEvent event(timer);
        app().onIdleTimeout(event);
    }
    void command(void (SessionGuardApp::*handler)(wxCommandEvent&), int value = 0) {
        wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED);
        event.SetInt(value);
        (app().*handler)(event);
    }
    // A near miss of the unlock screen in the user's images folder; returns its prefix.
    std::string writeNearMiss() {
        EXPECT_TRUE(app().createUserInfo("None", "None", 2000, true));
        const std::string images = app().userFolderPath() + "/images";
        ::mkdir(app().userFolderPath().c_str(), 0700);
        ::mkdir(images.c_str(), 0700);
        std::ofstream(images + "/lastface.raw.pgm") << "P5\n1 1\n255\n";
        std::ofstream(images + "/lastface.info.txt") << "near miss";
        return images + "/lastface";
    }
    bool exists(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
};

TEST_F(SessionControlTest, IdleTimerArmsOnlyWhenCameraModelAndEnabledHold) {
    struct Case {
        bool camera, model, enabled, armed;
    };
    for (const Case& c : {Case{true, true, true, true}, Case{false, true, true, false}, Case{true, false, true, false},
                          Case{true, true, false, false}}) {
        app().reset();
        app().config.idleDelay = 600000;
        app().camera = c.camera;
        app().model = c.model;
        app().enabled = c.enabled;
        app().startIdleTimer(0);
        EXPECT_EQ(timerArmed(600000), c.armed) << c.camera << c.model << c.enabled;
    }
    EXPECT_FALSE(app().lines.has("Starting the idle timer with a delay of 600000ms..."));
    app().reset();
    app().config.idleDelay = 600000;
    app().startIdleTimer(0);
    EXPECT_TRUE(app().lines.has("Creating the idle timer..."));
    EXPECT_TRUE(app().lines.has("Starting the idle timer with a delay of 600000ms..."));
}

TEST_F(SessionControlTest, IdleExactlyTheDelayChecksPresenceAndOneMillisecondLessRearms) {
    app().startIdleTimer(0);
    app().now = 1000000;
    app().lastInput = app().now - 599999;
    fire();
    EXPECT_TRUE(timerArmed(1));
    EXPECT_EQ(app().presenceStarted, 0);
    EXPECT_FALSE(app().lines.has("Event: Idle timeout"));

    app().lastInput = app().now - 600000;
    fire();
    EXPECT_EQ(app().presenceStarted, 1);
    EXPECT_TRUE(app().lines.has("The system is idle since 600000ms (the limit is 600000ms), locking the session..."));
    EXPECT_TRUE(timerStopped());
}

TEST_F(SessionControlTest, InputDuringTheDelayPostponesTheCheckToAFullDelayAfterIt) {
    // Armed at t=0; input at 500 s; the timer fires at 600 s and re-arms for the remaining 500 s.
    app().startIdleTimer(0);
    app().now = 600000;
    app().lastInput = 500000;
    fire();
    EXPECT_TRUE(timerArmed(500000));
    app().now = 1100000;
    fire();
    EXPECT_EQ(app().presenceStarted, 1);
}

TEST_F(SessionControlTest, TickCountWrapDoesNoHarm) {
    app().startIdleTimer(0);
    app().lastInput = 0xFFFFFF00u;
    app().now = 0x100u;  // 512 ms later, across the wrap
    fire();
    EXPECT_TRUE(timerArmed(600000 - 512));
}

TEST_F(SessionControlTest, UnreadableInputTimeAndMissingCamera) {
    app().startIdleTimer(0);
    app().clockReadable = false;
    fire();
    EXPECT_TRUE(app().lines.has("Failed to retrieve the time of the last user input"));
    EXPECT_TRUE(timerArmed(600000));

    app().camera = false;
    fire();
    EXPECT_TRUE(app().lines.has("ERROR: No camera selected"));
    EXPECT_TRUE(timerStopped());
    EXPECT_EQ(app().presenceStarted, 0);
}

TEST_F(SessionControlTest, PresenceCheckOutcomes) {
    app().lockSession(true);
    EXPECT_EQ(app().presenceStarted, 1);
    command(&SessionGuardApp::onPresenceCheckSucceeded);
    EXPECT_TRUE(app().lines.has("Event: The presence check was successful"));
    EXPECT_EQ(app().presenceDeleted, 1);
    EXPECT_TRUE(timerArmed(600000));
    EXPECT_EQ(app().unlockStarted, 0);

    app().lockSession(true);
    command(&SessionGuardApp::onPresenceCheckFailed);
    EXPECT_TRUE(app().lines.has("Event: The presence check failed"));
    EXPECT_EQ(app().unlockStarted, 1);
    EXPECT_TRUE(timerStopped());
}

TEST_F(SessionControlTest, PresenceCheckThatCannotStartRearms) {
    app().presenceStarts = false;
    app().lockSession(true);
    EXPECT_EQ(app().unlockStarted, 0);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(SessionControlTest, LockRefusedWithoutCameraOrWhileTheScreenSaverRuns) {
    app().camera = false;
    app().lockSession(false);
    EXPECT_TRUE(app().lines.has("WARNING: The camera isn't available anymore"));
    EXPECT_EQ(app().unlockStarted, 0);

    app().camera = true;
    app().saverRunning = true;
    app().lockSession(false);
    EXPECT_TRUE(app().lines.has("WARNING: The screensaver is running, tell the user about it"));
    EXPECT_EQ(app().saverMessages, 1);
    EXPECT_EQ(app().unlockStarted, 0);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(SessionControlTest, UnlockWithoutNearMissLiftsTheLockdownAndWatchesAgain) {
    // An end-of-lock event outside a lock (a stale or forged one) is not an unlock.
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByFace);
    EXPECT_FALSE(app().lines.has("Event: Session unlocked"));
    EXPECT_TRUE(app().lockdownCalls.empty());

    app().lockSession(false);
    ASSERT_EQ(app().unlockStarted, 1);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByFace);
    EXPECT_EQ(app().lockdownCalls, std::vector<bool>{false});
    EXPECT_TRUE(app().lines.has("Enabling the Task switching..."));
    EXPECT_TRUE(app().lines.has("Enabling the Task Manager..."));
    EXPECT_TRUE(app().adaptations.empty());
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(SessionControlTest, OnlyAPasswordUnlockAdaptsFromTheNearMiss) {
    const std::string prefix = writeNearMiss();
    app().lockSession(false);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByPassword);
    ASSERT_EQ(app().adaptations.size(), 1u);
    EXPECT_EQ(app().adaptations[0], prefix);
    EXPECT_TRUE(app().isAdaptationRunning());
    EXPECT_TRUE(app().lines.has("Must perform an adaptation of the user model!"));
    EXPECT_TRUE(timerStopped());
    // Meanwhile a resume, Alt+L or a second end-of-lock event start nothing beside it.
    app().onResume();
    app().lockSession(false);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByPassword);
    EXPECT_EQ(app().adaptations.size(), 1u);
    EXPECT_EQ(app().unlockStarted, 1);
    EXPECT_TRUE(timerStopped());

    command(&SessionGuardApp::onModelThreadDone, MODEL_BUILT);
    EXPECT_TRUE(app().lines.has("Event: Adaptation of the model done"));
    EXPECT_FALSE(app().lines.has("ERROR: The adaptation of the model failed, the previous model is kept"));
    EXPECT_FALSE(app().isAdaptationRunning());
    EXPECT_TRUE(timerArmed(600000));

    // A face unlock, and a resume outside a lock, delete the near miss instead.
    for (bool resume : {false, true}) {
        writeNearMiss();
        app().adaptations.clear();
        if (resume) {
            app().onResume();
        } else {
            app().lockSession(false);
            command(&SessionGuardApp::onSessionUnlocked, kUnlockedByFace);
        }
        EXPECT_TRUE(app().adaptations.empty()) << resume;
        EXPECT_FALSE(exists(prefix + ".raw.pgm")) << resume;
        EXPECT_FALSE(exists(prefix + ".info.txt")) << resume;
        EXPECT_TRUE(timerArmed(600000)) << resume;
    }
}

TEST_F(SessionControlTest, AdaptationThatFailsOrCannotStartGoesBackToWatching) {
    writeNearMiss();
    app().lockSession(false);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByPassword);
    ASSERT_TRUE(app().isAdaptationRunning());
    command(&SessionGuardApp::onModelThreadDone, MODEL_NOT_BUILT);
    EXPECT_TRUE(app().lines.has("ERROR: The adaptation of the model failed, the previous model is kept"));
    EXPECT_FALSE(app().isAdaptationRunning());
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Idle);
    EXPECT_TRUE(timerArmed(600000));

    // A thread that cannot start would never end: the tray must not wait for it.
    app().reset();
    app().config.idleDelay = 600000;
    app().adaptationStarts = false;
    writeNearMiss();
    app().lockSession(false);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByPassword);
    EXPECT_EQ(app().adaptations.size(), 1u);
    EXPECT_TRUE(app().lines.has("ERROR: Failed to start the adaptation of the model"));
    EXPECT_FALSE(app().isAdaptationRunning());
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Idle);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(SessionControlTest, OneActivityAtATime) {
    // During a lock: no timer, no second lock, no check, no settings, no disable; a suspend or
    // resume leaves the lock in place.
    app().lockSession(false);
    ASSERT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Locked);
    app().startIdleTimer(0);
    app().lockSession(false);
    app().lockSession(true);
    app().showSettingsDialog(0);
    app().toggleEnabled();
    app().onSuspend();
    app().onResume();
    fire();
    EXPECT_TRUE(timerStopped());
    EXPECT_EQ(app().unlockStarted, 1);
    EXPECT_EQ(app().presenceStarted, 0);
    EXPECT_TRUE(app().settingsPages.empty());
    EXPECT_TRUE(app().isEnabled());
    EXPECT_TRUE(app().lockdownCalls.empty());
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Locked);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByFace);
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Idle);

    // During a check: stale or doubled verdicts and Alt+L do nothing more.
    app().lockSession(true);
    app().lockSession(false);
    EXPECT_EQ(app().unlockStarted, 1);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByFace);
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Checking);
    command(&SessionGuardApp::onPresenceCheckFailed);
    command(&SessionGuardApp::onPresenceCheckSucceeded);
    EXPECT_EQ(app().unlockStarted, 2);
    EXPECT_EQ(app().presenceDeleted, 1);
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Locked);
    command(&SessionGuardApp::onSessionUnlocked, kUnlockedByFace);

    // While the "Screen saver running" box is up: Alt+L, the settings and a resume do nothing.
    app().saverRunning = true;
    app().duringSaverMessage = [this] {
        app().lockSession(false);
        app().showSettingsDialog(0);
        app().onResume();
        app().startIdleTimer(0);
    };
    app().lockSession(true);
    EXPECT_EQ(app().saverMessages, 1);
    EXPECT_EQ(app().unlockStarted, 2);
    EXPECT_TRUE(app().settingsPages.empty());
    EXPECT_EQ(app().getSessionState(), SessionGuardApp::SessionState::Idle);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(SessionControlTest, SuspendStopsWatchingAndResumeRearms) {
    app().startIdleTimer(0);
    app().onSuspend();
    EXPECT_TRUE(app().lines.has("Suspending the application..."));
    EXPECT_TRUE(timerStopped());
    app().onResume();
    EXPECT_TRUE(app().lines.has("Resuming the application..."));
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(SessionControlTest, EnableAndDisable) {
    app().startIdleTimer(0);
    app().toggleEnabled();
    EXPECT_FALSE(app().isEnabled());
    EXPECT_TRUE(app().lines.has("Disabling the application..."));
    EXPECT_TRUE(timerStopped());
    // Enabling while no camera is usable arms nothing.
    app().camera = false;
    app().toggleEnabled();
    EXPECT_TRUE(app().isEnabled());
    EXPECT_TRUE(timerStopped());
}

TEST_F(SessionControlTest, SettingsLoopReopensOnTheEnrollmentPageAfterACameraChange) {
    ASSERT_TRUE(app().createUserInfo("None", "None", 2000, true));
    const std::string model = app().userModelPath();
    ::mkdir(app().userFolderPath().c_str(), 0700);
    ::mkdir((app().userFolderPath() + "/models").c_str(), 0700);
    std::ofstream(model) << "model";
    app().settingsResults = {{wxID_OK, true}, {wxID_CANCEL, false}};
    app().showSettingsDialog(1);
    EXPECT_EQ(app().settingsPages, (std::vector<int>{1, 0}));
    EXPECT_TRUE(app().lines.has("Dialog closed, but the user model isn't created"));
    struct stat st;
    EXPECT_NE(::stat(model.c_str(), &st), 0);
    EXPECT_TRUE(timerArmed(600000));  // the fake readiness still says ready

    // Save with a model and the same camera: one pass.
    app().settingsPages.clear();
    app().settingsResults = {{wxID_OK, false}};
    app().showSettingsDialog(0);
    EXPECT_EQ(app().settingsPages, (std::vector<int>{0}));
}

}  // namespace
