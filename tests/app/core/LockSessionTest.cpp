// The tray instance's lock session without windows: idle timer, presence check, lock, unlock and
// adaptation, suspend and resume, enable and disable, the settings loop, and a camera that cannot
// be used.
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/core/EnrollmentThread.h"
#include "app/core/LockSession.h"
#include "app/core/ProductConstants.h"
#include "tests/app/core/app_core_fixtures.h"

namespace {

// The session's outside world as switches and records.
class FakeWorld : public LockWorld {
public:
    bool camera = true;         // chosen and present
    bool cameraPresent = true;  // false: chosen, but not among the devices
    bool model = true;
    bool clockReadable = true;
    DWORD now = 0, lastInput = 0;
    int timer = -1;  // the armed one-shot delay, -1 when stopped
    bool saverRunning = false;
    int saverMessages = 0;
    std::function<void()> duringSaverMessage;
    bool presenceStarts = true;
    bool timedOut = false;
    int presenceStarted = 0, presenceDeleted = 0, unlockStarted = 0, unlockRestarts = 0;
    std::vector<std::string> adaptations;
    bool adaptationStarts = true;
    std::vector<bool> lockdownCalls;  // true: locked down
    std::vector<std::pair<bool, bool>> settingsResults;  // saved and camera change, one per pass
    std::vector<int> settingsPages;
    std::vector<std::string> notices;
    std::string icon;

    bool cameraChosen() override { return camera; }
    bool cameraReady() override { return camera && cameraPresent; }
    bool modelReady() override { return model; }
    bool readIdleClock(DWORD& n, DWORD& last) override {
        n = now;
        last = lastInput;
        return clockReadable;
    }
    void armIdleTimer(unsigned delay) override { timer = static_cast<int>(delay); }
    void disarmIdleTimer() override { timer = -1; }
    bool screenSaverRunning() override { return saverRunning; }
    void showScreenSaverMessage() override {
        ++saverMessages;
        if (duringSaverMessage) duringSaverMessage();
    }
    void disableScreenSaver() override {}
    bool startPresenceChecker() override {
        ++presenceStarted;
        return presenceStarts && cameraReady();
    }
    bool presenceCheckTimedOut() override { return timedOut; }
    void deletePresenceChecker() override { ++presenceDeleted; }
    void startUnlockScreen() override { ++unlockStarted; }
    bool lockInProgress() override { return false; }
    void awaitUnlockScreen() override {}
    void restartUnlockScreen() override { ++unlockRestarts; }
    bool startAdaptation(const std::string& prefix) override {
        adaptations.push_back(prefix);
        return adaptationStarts;
    }
    void setTaskLockdown(bool locked) override { lockdownCalls.push_back(locked); }
    void setTrayIcon(const char* resource) override { icon = resource; }
    void enableTray(bool) override {}
    void showNotice(const std::string& text, unsigned) override { notices.push_back(text); }
    bool runSettingsDialog(int page, bool& cameraChanged) override {
        settingsPages.push_back(page);
        const size_t pass = settingsPages.size() - 1;
        cameraChanged = pass < settingsResults.size() && settingsResults[pass].second;
        return pass < settingsResults.size() && settingsResults[pass].first;
    }
};

using State = LockSession::State;

class LockSessionTest : public AppCoreTest {
protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        fresh();
    }
    // A new world and session, as after a start.
    void fresh() {
        world = std::make_unique<FakeWorld>();
        session = std::make_unique<LockSession>(core, *world);
        core.config.idleDelay = 600000;
        core.adaptationRunning = false;
        logger.clear();
    }
    bool timerArmed(int interval) { return world->timer == interval; }
    bool timerStopped() { return world->timer < 0; }
    void fire() { session->onIdleTimeout(); }
    // A near miss of the unlock screen in the user's images folder; returns its prefix.
    std::string writeNearMiss() {
        EXPECT_TRUE(core.createUserInfo("None", "None", 2000, true));
        const std::string images = core.userFolderPath() + "/images";
        ::mkdir(core.userFolderPath().c_str(), 0700);
        ::mkdir(images.c_str(), 0700);
        writeText(images + "/lastface.raw.pgm", "P5\n1 1\n255\n");
        writeText(images + "/lastface.info.txt", "near miss");
        return images + "/lastface";
    }

    std::unique_ptr<FakeWorld> world;
    std::unique_ptr<LockSession> session;
};

TEST_F(LockSessionTest, IdleTimerArmsOnlyWhenCameraModelAndEnabledHold) {
    struct Case {
        bool camera, model, enabled, armed;
    };
    for (const Case& c : {Case{true, true, true, true}, Case{false, true, true, false}, Case{true, false, true, false},
                          Case{true, true, false, false}}) {
        fresh();
        world->camera = c.camera;
        world->model = c.model;
        if (!c.enabled) session->toggleEnabled();
        logger.clear();
        session->startIdleTimer(0);
        EXPECT_EQ(timerArmed(600000), c.armed) << c.camera << c.model << c.enabled;
    }
    EXPECT_FALSE(logger.has("Starting the idle timer with a delay of 600000ms..."));
    fresh();
    session->startIdleTimer(0);
    EXPECT_TRUE(logger.has("Creating the idle timer..."));
    EXPECT_TRUE(logger.has("Starting the idle timer with a delay of 600000ms..."));
}

TEST_F(LockSessionTest, IdleExactlyTheDelayChecksPresenceAndOneMillisecondLessRearms) {
    session->startIdleTimer(0);
    world->now = 1000000;
    world->lastInput = world->now - 599999;
    fire();
    EXPECT_TRUE(timerArmed(1));
    EXPECT_EQ(world->presenceStarted, 0);
    EXPECT_FALSE(logger.has("Event: Idle timeout"));

    world->lastInput = world->now - 600000;
    fire();
    EXPECT_EQ(world->presenceStarted, 1);
    EXPECT_TRUE(logger.has("The system is idle since 600000ms (the limit is 600000ms), locking the session..."));
    EXPECT_TRUE(timerStopped());
}

TEST_F(LockSessionTest, InputDuringTheDelayPostponesTheCheckToAFullDelayAfterIt) {
    // Armed at t=0; input at 500 s; the timer fires at 600 s and re-arms for the remaining 500 s.
    session->startIdleTimer(0);
    world->now = 600000;
    world->lastInput = 500000;
    fire();
    EXPECT_TRUE(timerArmed(500000));
    world->now = 1100000;
    fire();
    EXPECT_EQ(world->presenceStarted, 1);
}

TEST_F(LockSessionTest, TickCountWrapDoesNoHarm) {
    session->startIdleTimer(0);
    world->lastInput = 0xFFFFFF00u;
    world->now = 0x100u;  // 512 ms later, across the wrap
    fire();
    EXPECT_TRUE(timerArmed(600000 - 512));
}

TEST_F(LockSessionTest, UnreadableInputTimeAndMissingCamera) {
    session->startIdleTimer(0);
    world->clockReadable = false;
    fire();
    EXPECT_TRUE(logger.has("Failed to retrieve the time of the last user input"));
    EXPECT_TRUE(timerArmed(600000));

    world->camera = false;
    fire();
    EXPECT_TRUE(logger.has("ERROR: No camera selected"));
    EXPECT_TRUE(timerStopped());
    EXPECT_EQ(world->presenceStarted, 0);
}

TEST_F(LockSessionTest, PresenceCheckOutcomes) {
    session->lockSession(true);
    EXPECT_EQ(world->presenceStarted, 1);
    session->onPresenceCheckEnded(true);
    EXPECT_TRUE(logger.has("Event: The presence check was successful"));
    EXPECT_EQ(world->presenceDeleted, 1);
    EXPECT_TRUE(timerArmed(600000));
    EXPECT_EQ(world->unlockStarted, 0);

    session->lockSession(true);
    session->onPresenceCheckEnded(false);
    EXPECT_TRUE(logger.has("Event: The presence check failed"));
    EXPECT_EQ(world->unlockStarted, 1);
    EXPECT_TRUE(timerStopped());
    EXPECT_TRUE(world->notices.empty()) << "a verdict of the camera is no camera failure";
}

TEST_F(LockSessionTest, PresenceThatCannotBeCheckedLocksAndTellsTheUserOnce) {
    // A check that cannot start (a busy camera, a graph that cannot be built), a chosen camera that
    // is gone, and a check that gives no verdict in time: each timeout locks; the balloon comes once.
    struct Case {
        const char* what;
        bool starts, present, timedOut;
    };
    for (const Case& c : {Case{"cannot start", false, true, false}, Case{"camera gone", true, false, false},
                          Case{"no verdict", true, true, true}}) {
        fresh();
        world->presenceStarts = c.starts;
        world->cameraPresent = c.present;
        world->timedOut = c.timedOut;
        for (int round = 0; round < 2; ++round) {
            session->startIdleTimer(0);
            EXPECT_TRUE(timerArmed(600000)) << c.what;
            world->now = 600000 * (round + 1);
            world->lastInput = world->now - 600000;
            fire();
            if (c.timedOut) session->onPresenceCheckEnded(false);
            EXPECT_EQ(session->state(), State::Locked) << c.what;
            EXPECT_EQ(world->unlockStarted, round + 1) << c.what;
            EXPECT_TRUE(timerStopped()) << c.what;
            session->onSessionUnlocked(kUnlockedByPassword);
            EXPECT_EQ(session->state(), State::Idle) << c.what;
        }
        EXPECT_EQ(world->notices.size(), 1u) << c.what;
        EXPECT_EQ(logger.has("ERROR: The presence of the user cannot be checked, locking the session..."), !c.timedOut)
            << c.what;
    }

    // Once the camera answers again, a later failure is told again.
    session->lockSession(true);
    world->timedOut = false;
    session->onPresenceCheckEnded(true);
    world->presenceStarts = false;
    session->lockSession(true);
    EXPECT_EQ(world->notices.size(), 2u);

    // Alt+L with the chosen camera gone locks too: it used to refuse, leaving the session open.
    fresh();
    world->cameraPresent = false;
    session->lockSession(false);
    EXPECT_TRUE(logger.has("WARNING: The camera isn't available anymore"));
    EXPECT_EQ(world->unlockStarted, 1);
    EXPECT_EQ(session->state(), State::Locked);
}

TEST_F(LockSessionTest, ALockWithoutCameraLocksAndNoneWhileTheScreenSaverRuns) {
    world->camera = false;
    session->lockSession(false);
    EXPECT_TRUE(logger.has("WARNING: The camera isn't available anymore"));
    EXPECT_EQ(world->unlockStarted, 1);
    EXPECT_EQ(session->state(), State::Locked);

    fresh();
    world->camera = true;
    world->saverRunning = true;
    session->lockSession(false);
    EXPECT_TRUE(logger.has("WARNING: The screensaver is running, tell the user about it"));
    EXPECT_EQ(world->saverMessages, 1);
    EXPECT_EQ(world->unlockStarted, 0);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(LockSessionTest, UnlockWithoutNearMissLiftsTheLockdownAndWatchesAgain) {
    // An end-of-lock event outside a lock (a stale or forged one) is not an unlock.
    session->onSessionUnlocked(kUnlockedByFace);
    EXPECT_FALSE(logger.has("Event: Session unlocked"));
    EXPECT_TRUE(world->lockdownCalls.empty());

    session->lockSession(false);
    ASSERT_EQ(world->unlockStarted, 1);
    session->onSessionUnlocked(kUnlockedByFace);
    EXPECT_EQ(world->lockdownCalls, std::vector<bool>{false});
    EXPECT_TRUE(logger.has("Enabling the Task switching..."));
    EXPECT_TRUE(logger.has("Enabling the Task Manager..."));
    EXPECT_TRUE(world->adaptations.empty());
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(LockSessionTest, OnlyAPasswordUnlockAdaptsFromTheNearMiss) {
    const std::string prefix = writeNearMiss();
    session->lockSession(false);
    session->onSessionUnlocked(kUnlockedByPassword);
    ASSERT_EQ(world->adaptations.size(), 1u);
    EXPECT_EQ(world->adaptations[0], prefix);
    EXPECT_TRUE(core.adaptationRunning);
    EXPECT_TRUE(logger.has("Must perform an adaptation of the user model!"));
    EXPECT_TRUE(timerStopped());
    // Meanwhile a resume, Alt+L or a second end-of-lock event start nothing beside it.
    session->onResume();
    session->lockSession(false);
    session->onSessionUnlocked(kUnlockedByPassword);
    EXPECT_EQ(world->adaptations.size(), 1u);
    EXPECT_EQ(world->unlockStarted, 1);
    EXPECT_TRUE(timerStopped());

    EXPECT_TRUE(session->onModelThreadDone(true));
    EXPECT_TRUE(logger.has("Event: Adaptation of the model done"));
    EXPECT_FALSE(logger.has("ERROR: The adaptation of the model failed, the previous model is kept"));
    EXPECT_FALSE(core.adaptationRunning);
    EXPECT_TRUE(timerArmed(600000));

    // A face unlock, and a resume outside a lock, delete the near miss instead.
    for (bool resume : {false, true}) {
        writeNearMiss();
        world->adaptations.clear();
        if (resume) {
            session->onResume();
        } else {
            session->lockSession(false);
            session->onSessionUnlocked(kUnlockedByFace);
        }
        EXPECT_TRUE(world->adaptations.empty()) << resume;
        EXPECT_FALSE(exists(prefix + ".raw.pgm")) << resume;
        EXPECT_FALSE(exists(prefix + ".info.txt")) << resume;
        EXPECT_TRUE(timerArmed(600000)) << resume;
    }
}

TEST_F(LockSessionTest, AdaptationThatFailsOrCannotStartGoesBackToWatching) {
    writeNearMiss();
    session->lockSession(false);
    session->onSessionUnlocked(kUnlockedByPassword);
    ASSERT_TRUE(core.adaptationRunning);
    session->onModelThreadDone(false);
    EXPECT_TRUE(logger.has("ERROR: The adaptation of the model failed, the previous model is kept"));
    EXPECT_FALSE(core.adaptationRunning);
    EXPECT_EQ(session->state(), State::Idle);
    EXPECT_TRUE(timerArmed(600000));
    // Outside an adaptation the end of the thread is the settings dialog's enrollment.
    EXPECT_FALSE(session->onModelThreadDone(true));

    // A thread that cannot start would never end: the tray must not wait for it.
    fresh();
    world->adaptationStarts = false;
    writeNearMiss();
    session->lockSession(false);
    session->onSessionUnlocked(kUnlockedByPassword);
    EXPECT_EQ(world->adaptations.size(), 1u);
    EXPECT_TRUE(logger.has("ERROR: Failed to start the adaptation of the model"));
    EXPECT_FALSE(core.adaptationRunning);
    EXPECT_EQ(session->state(), State::Idle);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(LockSessionTest, OneActivityAtATime) {
    // During a lock: no timer, no second lock, no check, no settings, no disable; a suspend or
    // resume leaves the lock in place.
    session->lockSession(false);
    ASSERT_EQ(session->state(), State::Locked);
    session->startIdleTimer(0);
    session->lockSession(false);
    session->lockSession(true);
    session->showSettingsDialog(0);
    session->toggleEnabled();
    session->onSuspend();
    session->onResume();
    fire();
    EXPECT_TRUE(timerStopped());
    EXPECT_EQ(world->unlockStarted, 1);
    EXPECT_EQ(world->unlockRestarts, 2);
    EXPECT_EQ(world->presenceStarted, 0);
    EXPECT_TRUE(world->settingsPages.empty());
    EXPECT_TRUE(session->isEnabled());
    EXPECT_TRUE(world->lockdownCalls.empty());
    EXPECT_EQ(session->state(), State::Locked);
    session->onSessionUnlocked(kUnlockedByFace);
    EXPECT_EQ(session->state(), State::Idle);

    // During a check: stale or doubled verdicts and Alt+L do nothing more.
    session->lockSession(true);
    session->lockSession(false);
    EXPECT_EQ(world->unlockStarted, 1);
    session->onSessionUnlocked(kUnlockedByFace);
    EXPECT_EQ(session->state(), State::Checking);
    session->onPresenceCheckEnded(false);
    session->onPresenceCheckEnded(true);
    EXPECT_EQ(world->unlockStarted, 2);
    EXPECT_EQ(world->presenceDeleted, 1);
    EXPECT_EQ(session->state(), State::Locked);
    session->onSessionUnlocked(kUnlockedByFace);

    // While the "Screen saver running" box is up: Alt+L, the settings and a resume do nothing.
    world->saverRunning = true;
    world->duringSaverMessage = [this] {
        session->lockSession(false);
        session->showSettingsDialog(0);
        session->onResume();
        session->startIdleTimer(0);
    };
    session->lockSession(true);
    EXPECT_EQ(world->saverMessages, 1);
    EXPECT_EQ(world->unlockStarted, 2);
    EXPECT_TRUE(world->settingsPages.empty());
    EXPECT_EQ(session->state(), State::Idle);
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(LockSessionTest, SuspendStopsWatchingAndResumeRearms) {
    session->startIdleTimer(0);
    session->onSuspend();
    EXPECT_TRUE(logger.has("Suspending the application..."));
    EXPECT_TRUE(timerStopped());
    session->onResume();
    EXPECT_TRUE(logger.has("Resuming the application..."));
    EXPECT_TRUE(timerArmed(600000));
}

TEST_F(LockSessionTest, EnableAndDisable) {
    session->startIdleTimer(0);
    session->toggleEnabled();
    EXPECT_FALSE(session->isEnabled());
    EXPECT_TRUE(logger.has("Disabling the application..."));
    EXPECT_TRUE(timerStopped());
    // Enabling while no camera is usable arms nothing.
    world->camera = false;
    session->toggleEnabled();
    EXPECT_TRUE(session->isEnabled());
    EXPECT_TRUE(timerStopped());
}

TEST_F(LockSessionTest, SettingsLoopReopensOnTheEnrollmentPageAfterACameraChange) {
    ASSERT_TRUE(core.createUserInfo("None", "None", 2000, true));
    const std::string model = core.userModelPath();
    ::mkdir(core.userFolderPath().c_str(), 0700);
    ::mkdir((core.userFolderPath() + "/models").c_str(), 0700);
    writeText(model, "model");
    world->settingsResults = {{true, true}, {false, false}};
    session->showSettingsDialog(1);
    EXPECT_EQ(world->settingsPages, (std::vector<int>{1, 0}));
    EXPECT_TRUE(logger.has("Dialog closed, but the user model isn't created"));
    EXPECT_FALSE(exists(model));
    EXPECT_TRUE(timerArmed(600000));  // the fake readiness still says ready

    // Save with a model and the same camera: one pass.
    world->settingsPages.clear();
    world->settingsResults = {{true, false}};
    session->showSettingsDialog(0);
    EXPECT_EQ(world->settingsPages, (std::vector<int>{0}));
}

}  // namespace
