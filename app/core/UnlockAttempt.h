#pragma once
// One unlock screen's decisions, without its look: what ends the lock (the user's face, accepted
// while the screen watches for it, or the account's password), the verification graph with its
// two listeners (near miss kept for a later adaptation), the modes Detection, Keyboard and
// Screensaver with the idle timer that switches between them, and why the face cannot open the
// lock when the graph cannot run. The screen (UnlockScreen) draws, times and forwards input.
#include <cstdint>
#include <string>

#include "platform/user.h"

class DetectionLogic;
class FaceVerificatorGraphManager;
class SessionGuardCore;
class VerificationLogic;

class UnlockScreen {
public:
    // Where the listeners post their notifications (handed back to UnlockAttempt::onMessage).
    virtual HWND messageWindow() = 0;
    // The video's window; null for none.
    virtual HWND videoWindowHandle() = 0;
    virtual void onVerificationStarted() = 0;
    virtual void showMessageText(const std::string& text) = 0;
    virtual void clearPassword() = 0;
    virtual void setMode(int mode) = 0;
    virtual void showDetectionConfidence(int value) = 0;
    virtual void showVerificationResult(int value) = 0;
    virtual void refreshGauges() = 0;
    // The refused password's message box: why, and its title.
    virtual void showInvalidPassword(const std::string& text, const std::string& caption) = 0;
    // The idle timer, which calls UnlockAttempt::onIdleTimer: once after delay ms, or every delay ms.
    virtual void armIdleTimer(unsigned delay, bool repeating) = 0;
    virtual void disarmIdleTimer() = 0;
    // The system's screen saver, on while the screen rests the camera and off while it watches.
    virtual void restoreScreenSaver() = 0;
    virtual void disableScreenSaver() = 0;
    // The tick count and the last input; false when the input time is unknown.
    virtual bool readIdleClock(DWORD& now, DWORD& lastInput) = 0;
    // The system's logon check of the account's password; false leaves its error code in error.
    virtual bool logonUser(const std::string& user, const std::string& domain, const std::string& password,
                           DWORD& error) = 0;
    // The lock is over: the screen closes and its instance ends with this status.
    virtual void unlocked(int status) = 0;

protected:
    ~UnlockScreen() = default;
};

class UnlockAttempt {
public:
    enum Mode { MODE_STARTING = 0, MODE_DETECTION = 1, MODE_KEYBOARD = 2, MODE_SCREENSAVER = 3 };
    // How the face check started: running, or why the face cannot open the lock.
    enum class Start { Running, NoCamera, NoModel, FilesUnusable, GraphFailed, StartFailed };
    // How long the first start may wait for the verifier to get ready (ms) before the screen says
    // that the face cannot open the lock.
    static constexpr unsigned kReadyTimeLimit = 10000;

    UnlockAttempt(SessionGuardCore& core, UnlockScreen& screen);
    virtual ~UnlockAttempt();
    UnlockAttempt(const UnlockAttempt&) = delete;
    UnlockAttempt& operator=(const UnlockAttempt&) = delete;

    // Builds and runs the verification graph; when it cannot, the screen says why and the
    // password alone opens the lock.
    Start startVerification();
    void startIdleTimer(unsigned elapsed);
    void stopIdleTimer();
    void onIdleTimer();
    // A listener's notification; false for one this screen does not take.
    bool onMessage(UINT message, WPARAM wParam);
    // While the graph runs: a camera whose stream aborted ends the face check, and the screen says
    // so; the password still opens the lock. Called every half second or so.
    void checkStream();
    // A key that the screen took while it holds the keyboard; with Enter, the typed password.
    void onKey(bool enter, const std::string& typed);
    // The screen closes: the graph and the listeners go (announced in the log).
    void close();

    bool isUnlocked() const { return unlockedFlag; }
    int getMode() const { return mode; }
    void setModeForTest(int m) { mode = m; }
    FaceVerificatorGraphManager* getGraphManager() const { return graphManager; }

protected:
    // The listeners of the graph, made for each start; a benchmark counts frames in its own.
    virtual DetectionLogic* makeDetectionLogic(HWND window);
    virtual VerificationLogic* makeVerificationLogic(HWND window);
    // The graph goes (or has gone): no frames are to come until the next start.
    virtual void graphReleased() {}

private:
    void log(const std::string& line);
    void releaseGraph();
    // The graph goes and the screen shows text: the password alone opens the lock.
    void passwordOnly(const std::string& text);
    void unlock(int status);
    // A key or an idle timeout that wakes the screen from its screen-saver mode.
    void wake(int nextMode);
    // The first start gave no ready verifier in time: the graph goes, the password alone opens.
    void giveUpOnTheFace();

    SessionGuardCore& core;
    UnlockScreen& screen;
    int mode = MODE_STARTING;
    bool timerMade = false;
    bool unlockedFlag = false;
    bool framesSeen = false;  // the detector scored a frame before the verifier got ready
    FaceVerificatorGraphManager* graphManager = nullptr;
    DetectionLogic* detectionLogic = nullptr;
    VerificationLogic* verificationLogic = nullptr;
};
