#include "app/core/UnlockAttempt.h"

#include <cstdio>
#include <unistd.h>

#include "app/capture/CaptureListeners.h"
#include "app/capture/FaceVerificatorGraphManager.h"
#include "app/capture/Notifications.h"
#include "app/core/IdleTime.h"
#include "app/core/LogonVerdict.h"
#include "app/core/ModelCheck.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "src/Logger.h"
#include "verification/SampleFiles.h"

namespace {
// Said before the reason whenever the camera cannot be used: the password alone opens the lock.
const char kFaceCannotOpen[] = "Your face cannot open the lock now.\n\n";
}  // namespace

UnlockAttempt::UnlockAttempt(SessionGuardCore& core, UnlockScreen& screen) : core(core), screen(screen) {}

UnlockAttempt::~UnlockAttempt() { releaseGraph(); }

void UnlockAttempt::log(const std::string& line) { core.log(line); }

DetectionLogic* UnlockAttempt::makeDetectionLogic(HWND window) {
    return new DetectionLogic(window, WM_FACE_DETECTION, 0);
}

VerificationLogic* UnlockAttempt::makeVerificationLogic(HWND window) {
    return new VerificationLogic(window, WM_VERIFICATION_READY, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
}

void UnlockAttempt::releaseGraph() {
    graphReleased();
    if (graphManager) {
        graphManager->stop();
        graphManager->destroy();
        delete graphManager;
        graphManager = nullptr;
    }
    deleteListeners(detectionLogic, verificationLogic, nullptr);
}

void UnlockAttempt::passwordOnly(const std::string& text) {
    releaseGraph();
    log("The face cannot open the lock now, password only");
    screen.showMessageText(text);
}

void UnlockAttempt::checkStream() {
    const HRESULT failure = graphManager ? graphManager->streamingError() : S_OK;
    if (SUCCEEDED(failure)) return;
    log("ERROR: The camera stopped streaming (" + DirectShowFramework::hresultToString(failure) + ")");
    LogIndent indent(core.logger);
    passwordOnly("Your camera '" + core.config.cameraName + "' stopped working!\n\nUse your password to log in.");
}

UnlockAttempt::Start UnlockAttempt::startVerification() {
    const Configuration& config = core.config;
    log("Starting the verification...");
    LogIndent indent(core.logger);
    // Without a camera or usable models the face cannot open the lock: the screen says why.
    if (const FaceCheck check = core.faceCheck(); !check.ready()) {
        log(faceCheckLogLine(check));
        screen.showMessageText(unlockScreenText(check));
        if (check.state == FaceCheckState::NoCamera) return Start::NoCamera;
        return check.state == FaceCheckState::NoUserModel ? Start::NoModel : Start::FilesUnusable;
    }
    const HWND window = screen.messageWindow();
    log("Creation of the detection logic...");
    detectionLogic = makeDetectionLogic(window);
    log("Creation of the verification logic...");
    verificationLogic = makeVerificationLogic(window);
    verificationLogic->setAdaptation(core.SessionGuardCore::userDataDir(), vision::kLastFace,
                                     config.adaptationThreshold);

    graphManager = new FaceVerificatorGraphManager(core.logger);
    if (!graphManager->initialize(config.cameraName, screen.videoWindowHandle(), config.getFormatWidth(),
                                  config.getFormatHeight(), detectionLogic, verificationLogic)) {
        log("Failed to create the graph manager");
        char folder[4096];
        const std::string text = std::string(kFaceCannotOpen) + "Failed to start the face detection using the camera '" +
                                 config.cameraName +
                                 "'!\n\nCheck that your camera isn't already used by another program.\n\n"
                                 "If it's not the case, please exit the application and send the file '" +
                                 kUnlockLogFile + "' to us. (Note: this file is located in '" +
                                 (getcwd(folder, sizeof(folder)) ? folder : ".") + "')";
        passwordOnly(text);
        return Start::GraphFailed;
    }
    const std::string userModel = core.SessionGuardCore::userModelPath();
    graphManager->setupFilters(FaceVerificatorGraphManager::Use::Unlock, core.captureConfiguration(), &userModel);
    if (!graphManager->start()) {
        log("Failed to start the graph manager");
        const std::string product = kProductConstants[PC_PRODUCT];
        const std::string text =
            std::string(kFaceCannotOpen) + "Your camera is already used by another application!\n\nYou should disable " +
            product +
            " when running another application using\nthe camera (right-click on the icon in the system tray, "
            "Disable),\nand enable it when the other application is closed (right-click\non the icon in the system "
            "tray, Enable).\n\nIn the mean time, use your password to log in!";
        passwordOnly(text);
        return Start::StartFailed;
    }
    screen.onVerificationStarted();
    // A camera that sends nothing, or a verifier that never gets ready, would leave the screen
    // waiting without a word.
    if (mode == MODE_STARTING) screen.armIdleTimer(kReadyTimeLimit, false);
    return Start::Running;
}

void UnlockAttempt::startIdleTimer(unsigned elapsed) {
    if (!timerMade) {
        log("Creation of the Idle timer...");
        timerMade = true;
    }
    if (mode == MODE_DETECTION) {
        const uint32_t delay = core.config.verificationIdleDelay - elapsed;
        log("Starting the Idle timer in one-shot mode with a delay of " + std::to_string(delay) + "ms...");
        screen.armIdleTimer(delay, false);
    } else if (mode == MODE_SCREENSAVER) {
        log("Starting the Idle timer in continuous mode with a delay of 1 second...");
        screen.armIdleTimer(1000, true);
    }
}

void UnlockAttempt::stopIdleTimer() {
    if (!timerMade) return;
    log("Stopping the Idle timer...");
    screen.disarmIdleTimer();
}

void UnlockAttempt::wake(int nextMode) {
    stopIdleTimer();
    screen.setMode(MODE_DETECTION);
    startVerification();
    mode = nextMode;
    screen.disableScreenSaver();
}

void UnlockAttempt::giveUpOnTheFace() {
    log("ERROR: The verification gave no result in time");
    LogIndent indent(core.logger);
    passwordOnly(std::string(kFaceCannotOpen) +
                 (framesSeen ? "Your face model cannot be used to check your face." : "Your camera sends no picture.") +
                 "\n\nUse your password to log in.");
}

void UnlockAttempt::onIdleTimer() {
    if (mode == MODE_STARTING) {
        giveUpOnTheFace();
        return;
    }
    const uint32_t delay = core.config.verificationIdleDelay;
    DWORD idle = 0;
    if (!readIdleTime(core, [this](DWORD& now, DWORD& last) { return screen.readIdleClock(now, last); }, idle)) {
        startIdleTimer(0);
        return;
    }
    if (mode == MODE_DETECTION) {
        log("Event: Idle timeout");
        LogIndent indent(core.logger);
        log("Current mode: Detection");
        if (idle < delay) {
            startIdleTimer(idle);
            return;
        }
        log("The system is idle since " + std::to_string(idle) + "ms (the limit is " + std::to_string(delay) +
            "ms), entering Screensaver mode...");
        LogIndent deeper(core.logger);
        releaseGraph();
        screen.setMode(MODE_SCREENSAVER);
        mode = MODE_SCREENSAVER;
        screen.restoreScreenSaver();
        startIdleTimer(0);
    } else if (mode == MODE_SCREENSAVER && idle <= delay) {
        log("Event: Idle timeout");
        LogIndent indent(core.logger);
        log("Current mode: Screensaver");
        log("Entering detection mode...");
        LogIndent deeper(core.logger);
        wake(MODE_DETECTION);
        startIdleTimer(0);
    }
}

bool UnlockAttempt::onMessage(UINT message, WPARAM wParam) {
    const int value = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    if (mode == MODE_DETECTION || mode == MODE_KEYBOARD) {
        switch (message) {
        case WM_FACE_DETECTION:
            screen.showDetectionConfidence(value);
            return true;
        case WM_FACE_AUTHENTICATED:
            screen.showVerificationResult(value);
            // A face opens the lock only while the screen watches for it, not while a password is
            // being typed.
            if (mode == MODE_DETECTION) {
                char score[32];
                snprintf(score, sizeof(score), "%f", value * 0.001);
                log(std::string("Face authentified, confidence: ") + score);
                LogIndent indent(core.logger);
                screen.refreshGauges();
                if (graphManager) graphManager->stop();
                // A face unlock never leads to a model adaptation.
                core.deleteNearMiss();
                unlock(kUnlockedByFace);
            }
            return true;
        case WM_FACE_NOT_AUTHENTICATED:
            screen.showVerificationResult(value);
            return true;
        default:
            return false;
        }
    }
    if (mode == MODE_STARTING && message == WM_FACE_DETECTION) framesSeen = true;
    if (mode == MODE_STARTING && message == WM_VERIFICATION_READY) {
        log("Event: Verification ready, starting detection...");
        LogIndent indent(core.logger);
        mode = MODE_DETECTION;
        startIdleTimer(0);
        return true;
    }
    return false;
}

void UnlockAttempt::onKey(bool enter, const std::string& typed) {
    log("Event: KeyDown");
    LogIndent indent(core.logger);
    if (mode == MODE_DETECTION) {
        log("Current mode: Detection");
        mode = MODE_KEYBOARD;
        stopIdleTimer();
    } else if (mode == MODE_SCREENSAVER) {
        log("Current mode: Screensaver");
        LogIndent deeper(core.logger);
        wake(MODE_KEYBOARD);
    }
    if (enter) {
        log("Checking the password...");
        LogIndent deeper(core.logger);
        std::string domain, user;
        core.currentWindowsUser(domain, user);
        log("Check the password provided...");
        DWORD error = 0;
        const bool loggedOn = screen.logonUser(user, domain, typed, error);
        const LogonVerdict verdict = judgeLogon(loggedOn, error, typed.empty());
        if (loggedOn) {
            log("The password is valid");
            unlock(kUnlockedByPassword);
            return;
        }
        log("The password isn't valid, test if the user has no password...");
        // Only an empty field opens an account that has no password: the check never accepts an
        // empty password itself.
        if (verdict.withoutPassword) {
            log("The user don't have any password");
            unlock(kUnlockedByPassword);
            return;
        }
        log("The password isn't valid");
        if (!verdict.logLine.empty()) log(verdict.logLine);
        screen.showInvalidPassword(verdict.text, verdict.caption);
        screen.clearPassword();
        if (graphManager) graphManager->setOneShot(true);
    }
    if (graphManager) {
        mode = MODE_DETECTION;
        startIdleTimer(0);
    }
}

// The only ends of a lock: a face above, a password in onKey. The screen's instance ends with the
// status; any other end of it (a close refused, a kill, a crash) leaves the session locked.
void UnlockAttempt::unlock(int status) {
    unlockedFlag = true;
    screen.unlocked(status);
}

void UnlockAttempt::close() {
    if (graphManager) {
        graphManager->destroy();
        delete graphManager;
        graphManager = nullptr;
    }
    deleteListeners(detectionLogic, verificationLogic, core.logger);
}
