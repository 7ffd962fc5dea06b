#pragma once
// The tray instance's decisions, without windows: when the idle timer is armed, when the presence
// check runs, when the session locks, what an unlock leads to (an adaptation of the model only
// after a password), and what a suspend, a resume or a session change does meanwhile. One activity
// runs at a time; every entry looks at the state first. The outside world (timer, idle clock,
// camera, checker, unlock screen, lockdown, tray icon, settings dialog) is behind LockWorld.
#include <string>

#include "platform/windows_types.h"

class SessionGuardCore;

class LockWorld {
public:
    // A camera is configured; it may still be missing or unusable.
    virtual bool cameraChosen() = 0;
    // The configured camera is among the system's capture devices.
    virtual bool cameraReady() = 0;
    virtual bool modelReady() = 0;
    // The tick count and the tick of the last user input; false when the input time is unknown.
    virtual bool readIdleClock(DWORD& now, DWORD& lastInput) = 0;
    // A one-shot timer that calls LockSession::onIdleTimeout; arming again replaces it.
    virtual void armIdleTimer(unsigned delay) = 0;
    virtual void disarmIdleTimer() = 0;
    virtual bool screenSaverRunning() = 0;
    // The "Screen saver running" box; it runs a loop of its own.
    virtual void showScreenSaverMessage() = 0;
    virtual void disableScreenSaver() = 0;
    // false when the check cannot start (no camera, a graph that cannot be built or run).
    virtual bool startPresenceChecker() = 0;
    // Whether the running check ended for want of a verdict (its time limit), not on the camera's
    // answer.
    virtual bool presenceCheckTimedOut() = 0;
    virtual void deletePresenceChecker() = 0;
    virtual void startUnlockScreen() = 0;
    // A lock keeper holds a lock now (this tray's or an earlier one's).
    virtual bool lockInProgress() = 0;
    // The unlock thread of a lock that an earlier tray started: it waits for that lock's end.
    virtual void awaitUnlockScreen() = 0;
    // A fresh unlock screen in place of the running one; the lock stays.
    virtual void restartUnlockScreen() = 0;
    // false when the enrollment thread could not be started.
    virtual bool startAdaptation(const std::string& prefix) = 0;
    virtual void setTaskLockdown(bool locked) = 0;
    virtual void setTrayIcon(const char* resource) = 0;
    // The tray icon's menu, greyed while an activity runs.
    virtual void enableTray(bool enabled) = 0;
    // A balloon of the tray icon, under the product's title.
    virtual void showNotice(const std::string& text, unsigned iconFlags) = 0;
    // One settings dialog, modally: true when it was closed with OK; cameraChanged tells whether
    // the camera was changed.
    virtual bool runSettingsDialog(int page, bool& cameraChanged) = 0;

protected:
    ~LockWorld() = default;
};

class LockSession {
public:
    enum class State { Idle, Checking, Locked, Adapting, Settings };

    LockSession(SessionGuardCore& core, LockWorld& world) : core(core), world(world) {}

    State state() const { return current; }
    bool isEnabled() const { return enabled; }

    // Arms the idle timer for the rest of the delay, elapsed ms of it gone; only when idle, enabled,
    // with a camera chosen and a model.
    void startIdleTimer(unsigned elapsed);
    void stopIdleTimer();
    void onIdleTimeout();
    // Whether Alt+L and the menu's Lock lock now: once the user has a face model, with or without a
    // camera (without one the password alone opens the lock).
    bool lockOffered() { return world.modelReady(); }
    // A lock, after a presence check or at once (Alt+L, the menu).
    void lockSession(bool checkPresence);
    void onPresenceCheckEnded(bool passed);
    // The unlock screen was opened with this status.
    void onSessionUnlocked(int status);
    // The enrollment thread ended; false when it was not this session's adaptation (the settings
    // dialog's enrollment).
    bool onModelThreadDone(bool built);
    void onSuspend();
    void onResume();
    void toggleEnabled();
    void showSettingsDialog(int page);

    // At start-up, when a lock that an earlier tray started still holds the session: this session
    // is locked until its end, which comes as onSessionUnlocked, and true.
    bool awaitLockInProgress();
    // Puts a lock that was begun outside the session (an unlock thread started by hand) in place.
    void assumeLocked() { current = State::Locked; }
    // Back to a fresh start: idle, enabled, nothing told yet.
    void reset();

private:
    void log(const std::string& line);
    void lock();
    void watchAgain();
    // Once per spell of an unusable camera: the user learns why the session locked by itself.
    void tellCameraUnusable();

    SessionGuardCore& core;
    LockWorld& world;
    State current = State::Idle;
    bool enabled = true;
    bool timerMade = false;
    bool cameraUnusableTold = false;
};
