#include "app/core/LockSession.h"

#include "app/core/IdleTime.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "platform/kernel.h"
#include "src/Logger.h"
#include "verification/SampleFiles.h"

void LockSession::log(const std::string& line) { core.log(line); }

void LockSession::reset() {
    current = State::Idle;
    enabled = true;
    timerMade = false;
    cameraUnusableTold = false;
}

void LockSession::startIdleTimer(unsigned elapsed) {
    // Never beside a check, a lock, an adaptation or the settings dialog. A chosen camera that is
    // missing still arms it: the timeout then locks without a check.
    if (current != State::Idle) return;
    if (!(world.cameraChosen() && world.modelReady() && enabled)) return;
    if (!timerMade) {
        log("Creating the idle timer...");
        timerMade = true;
    }
    const unsigned delay = core.config.idleDelay - elapsed;
    log("Starting the idle timer with a delay of " + std::to_string(delay) + "ms...");
    world.armIdleTimer(delay);
}

void LockSession::stopIdleTimer() {
    if (!timerMade) return;
    log("Stopping the idle timer...");
    world.disarmIdleTimer();
}

void LockSession::onIdleTimeout() {
    if (current != State::Idle) return;  // a firing that was already queued
    if (!world.cameraChosen()) {
        log("Event: Idle timeout");
        LogIndent indent(core.logger);
        log("ERROR: No camera selected");
        stopIdleTimer();
        world.setTrayIcon("systrayDisabled");
        return;
    }
    DWORD idle = 0;
    if (!readIdleTime(core, [this](DWORD& now, DWORD& last) { return world.readIdleClock(now, last); }, idle)) {
        startIdleTimer(0);
        return;
    }
    if (idle < core.config.idleDelay) {
        startIdleTimer(idle);
        return;
    }
    log("Event: Idle timeout");
    LogIndent indent(core.logger);
    log("The system is idle since " + std::to_string(idle) + "ms (the limit is " +
        std::to_string(core.config.idleDelay) + "ms), locking the session...");
    lockSession(true);
}

void LockSession::lockSession(bool checkPresence) {
    // One activity at a time: Alt+L, the menu or a timer firing during a check, a lock, an
    // adaptation, the settings dialog or the screen-saver box does nothing.
    if (current != State::Idle) return;
    log(checkPresence ? "Checking the presence of the user..." : "Locking the session...");
    LogIndent indent(core.logger);
    stopIdleTimer();
    // A check with a missing camera cannot start, and that locks; a lock asked for at once locks
    // all the same: the password opens it, and refusing would leave the session open unseen.
    if (!checkPresence && !world.cameraReady()) log("WARNING: The camera isn't available anymore");
    if (world.screenSaverRunning()) {
        log("WARNING: The screensaver is running, tell the user about it");
        current = State::Checking;  // the box runs a loop of its own
        world.showScreenSaverMessage();
        current = State::Idle;
        world.disableScreenSaver();
        startIdleTimer(0);
        return;
    }
    world.disableScreenSaver();
    if (!checkPresence) {
        lock();
        return;
    }
    world.setTrayIcon("systrayBusy");
    current = State::Checking;
    if (!world.startPresenceChecker()) {
        // No verdict can come: the session is locked as if the check had failed.
        log("ERROR: The presence of the user cannot be checked, locking the session...");
        world.setTrayIcon("systray");
        tellCameraUnusable();
        lock();
        return;
    }
    world.enableTray(false);
}

bool LockSession::awaitLockInProgress() {
    if (!world.lockInProgress()) return false;
    log("A lock is in progress, waiting for its end...");
    current = State::Locked;
    world.enableTray(false);
    world.awaitUnlockScreen();
    return true;
}

void LockSession::lock() {
    current = State::Locked;
    world.enableTray(false);
    world.startUnlockScreen();
}

void LockSession::tellCameraUnusable() {
    if (cameraUnusableTold) return;
    cameraUnusableTold = true;
    log("WARNING: The camera cannot be used, telling the user");
    world.showNotice("The camera could not be used to check that you are there, so the session was locked. "
                      "Unlock it with your password.",
                      NIIF_WARNING);
}

void LockSession::onPresenceCheckEnded(bool passed) {
    if (current != State::Checking) return;
    const bool timedOut = world.presenceCheckTimedOut();
    log(passed ? "Event: The presence check was successful" : "Event: The presence check failed");
    LogIndent indent(core.logger);
    log("Destroying the Presence checker...");
    world.deletePresenceChecker();
    current = State::Idle;
    world.setTrayIcon("systray");
    world.enableTray(true);
    if (timedOut)
        tellCameraUnusable();
    else
        cameraUnusableTold = false;  // the camera answered: a later failure is news again
    if (passed)
        startIdleTimer(0);
    else
        lockSession(false);
}

void LockSession::onSessionUnlocked(int status) {
    // Posted by the unlock thread only after the screen was opened; outside a lock (a stale or
    // forged event) it is no unlock.
    if (current != State::Locked) return;
    log("Event: Session unlocked");
    LogIndent indent(core.logger);
    log("Enabling the Task switching...");
    log("Enabling the Task Manager...");
    world.setTaskLockdown(false);

    // Only a password confirms that the near miss was the user's face.
    const std::string prefix = core.nearMissPrefix();
    if (status == kUnlockedByPassword && !prefix.empty() && fileExists(vision::sampleFramePath(prefix))) {
        log("Must perform an adaptation of the user model!");
        current = State::Adapting;
        core.adaptationRunning = true;
        world.showNotice("Your model is being adapted...", NIIF_INFO);
        world.setTrayIcon("systrayBusy");
        if (world.startAdaptation(prefix)) return;
        // No thread, so no end of it would ever come: back to watching.
        log("ERROR: Failed to start the adaptation of the model");
        core.adaptationRunning = false;
        world.setTrayIcon("systray");
    }
    if (!prefix.empty()) vision::removeSampleFiles(prefix);
    watchAgain();
}

void LockSession::watchAgain() {
    current = State::Idle;
    world.enableTray(true);
    startIdleTimer(0);
}

bool LockSession::onModelThreadDone(bool built) {
    if (current != State::Adapting) return false;
    log("Event: Adaptation of the model done");
    LogIndent indent(core.logger);
    if (!built) log("ERROR: The adaptation of the model failed, the previous model is kept");
    world.showNotice(built ? "The adaptation of the model is done!"
                            : "The adaptation of the model failed, your previous model is kept.",
                      built ? NIIF_INFO : NIIF_ERROR);
    world.setTrayIcon("systray");
    core.adaptationRunning = false;
    watchAgain();
    return true;
}

// During a lock a suspend or resume only gives the user a fresh unlock screen (its camera is
// opened again); the lock itself stays until a face or a password opens it.
void LockSession::onSuspend() {
    log("Suspending the application...");
    LogIndent indent(core.logger);
    if (current == State::Locked)
        world.restartUnlockScreen();
    else if (current == State::Idle)
        stopIdleTimer();
}

void LockSession::onResume() {
    log("Resuming the application...");
    LogIndent indent(core.logger);
    if (current == State::Locked) {
        world.restartUnlockScreen();
        return;
    }
    // A presence check, an adaptation or the settings dialog re-arms the watching when it ends;
    // handling the resume beside it would start a second activity.
    if (current != State::Idle) return;
    log("Enabling the Task switching...");
    log("Enabling the Task Manager...");
    world.setTaskLockdown(false);
    // No lock was opened by a password here: a near miss lying about is not adapted.
    core.deleteNearMiss();
    watchAgain();
}

void LockSession::toggleEnabled() {
    if (current != State::Idle) return;
    enabled = !enabled;
    if (enabled) {
        log("Enabling the application...");
        LogIndent indent(core.logger);
        world.setTrayIcon("systray");
        startIdleTimer(0);
    } else {
        log("Disabling the application...");
        LogIndent indent(core.logger);
        world.setTrayIcon("systrayDisabled");
        stopIdleTimer();
    }
}

void LockSession::showSettingsDialog(int page) {
    if (current != State::Idle) return;
    log("Displaying 'Settings' dialog...");
    LogIndent indent(core.logger);
    stopIdleTimer();
    current = State::Settings;
    world.enableTray(false);
    for (;;) {
        bool cameraChanged = false;
        const bool saved = world.runSettingsDialog(page, cameraChanged);
        if (!saved || core.adaptationRunning) break;
        const bool camera = world.cameraReady();
        if (!cameraChanged && !(camera && !world.modelReady())) break;
        log("Dialog closed, but the user model isn't created");
        const std::string model = core.userModelPath();
        if (!model.empty()) DeleteFileA(model.c_str());
        if (camera) page = 0;
    }
    current = State::Idle;
    world.enableTray(true);
    if (enabled) {
        world.setTrayIcon(world.cameraReady() && world.modelReady() ? "systray" : "systrayDisabled");
        startIdleTimer(0);
    }
}
