#include "app/gui/UnlockDialog.h"

#include <unistd.h>

#include <wx/app.h>
#include <wx/gdicmn.h>

#include "app/capture/CaptureListeners.h"
#include "app/capture/FaceVerificatorGraphManager.h"
#include "app/capture/Notifications.h"
#include "app/capture/WallClock.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "app/core/SessionLockdown.h"
#include "app/gui/UnlockHeartbeat.h"
#include "app/gui/WindowBridge.h"
#include "platform/kernel.h"
#include "src/Logger.h"

wxIMPLEMENT_ABSTRACT_CLASS(UnlockDialog, wxDialog);

wxBEGIN_EVENT_TABLE(UnlockDialog, wxDialog)
    EVT_INIT_DIALOG(UnlockDialog::onInitDialog)
    EVT_CLOSE(UnlockDialog::onClose)
    EVT_TIMER(1, UnlockDialog::onIdleTimer)
    EVT_TIMER(UnlockDialog::kCameraWatchId, UnlockDialog::onCameraWatch)
wxEND_EVENT_TABLE()

UnlockDialog::UnlockDialog(UnlockHost& host, wxWindow* parent) : host(host), cameraWatch(this, kCameraWatchId) {
    log("Creation of the Unlock dialog...");
    LogIndent indent(logger());
    Create(parent, wxID_ANY, kProductConstants[PC_TITLE], wxDefaultPosition, wxDefaultSize, 0, "dialog");
    Maximize(true);
    // Without a window manager maximising does nothing: cover the work area by hand.
    SetSize(wxGetClientDisplayRect());
    log("Disabling Task switching...");
    setTaskSwitching(false);
    log("Disabling Task Manager...");
    setTaskManager(false);
    attachMessageQueue(this, [this](UINT m, WPARAM w, LPARAM l) { return MSWWindowProc(m, w, l); });
}

UnlockDialog::~UnlockDialog() {
    detachMessageQueue(this);
    releaseGraph();
    delete idleTimer;
}

void UnlockDialog::onInitDialog(wxInitDialogEvent& event) {
    startVerification();
    event.Skip();
}

Logger* UnlockDialog::logger() const { return host.core().logger; }

void UnlockDialog::log(const std::string& line) const { host.core().log(line); }

void UnlockDialog::releaseGraph() {
    heartbeat::streamStopped();
    cameraWatch.Stop();
    if (graphManager) {
        graphManager->stop();
        graphManager->destroy();
        delete graphManager;
        graphManager = nullptr;
    }
    deleteListeners(detectionLogic, verificationLogic, nullptr);
}

void UnlockDialog::startVerification() {
    SessionGuardCore& core = host.core();
    const Configuration& config = core.config;
    log("Starting the verification...");
    LogIndent indent(logger());
    // Without a camera or usable models the face cannot open the lock: the screen says why.
    if (const FaceCheck check = core.faceCheck(); !check.ready()) {
        log(faceCheckLogLine(check));
        showMessage(wxString::FromUTF8(unlockScreenText(check)));
        return;
    }
    log("Creation of the detection logic...");
    detectionLogic = new BeatingDetectionLogic(windowHandle(this), WM_FACE_DETECTION, 0);
    log("Creation of the verification logic...");
    verificationLogic =
        new VerificationLogic(windowHandle(this), WM_VERIFICATION_READY, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
    verificationLogic->setAdaptation(core.SessionGuardCore::userDataDir(), "lastface", config.adaptationThreshold * 0.001f);

    graphManager = new FaceVerificatorGraphManager(logger());
    if (!graphManager->initialize(config.cameraName, videoWindowHandle(), config.getFormatWidth(),
                                  config.getFormatHeight(), detectionLogic, verificationLogic)) {
        log("Failed to create the graph manager");
        char folder[4096];
        const wxString text =
            wxString::Format("Failed to start the face detection using the camera '%s'!\n\nCheck that your camera "
                             "isn't already used by another program.\n\n",
                             wxString::FromUTF8(config.cameraName)) +
            wxString::Format("If it's not the case, please exit the application and send the file '%s' to us. "
                             "(Note: this file is located in '%s')",
                             kUnlockLogFile, wxString::FromUTF8(getcwd(folder, sizeof(folder)) ? folder : "."));
        releaseGraph();
        showMessage(text);
        return;
    }
    const std::string userModel = core.SessionGuardCore::userModelPath();
    graphManager->setupFilters(FaceVerificatorGraphManager::Use::Unlock, core.captureConfiguration(), &userModel);
    if (!graphManager->start()) {
        log("Failed to start the graph manager");
        const wxString text = wxString::Format(
            "Your camera is already used by another application!\n\nYou should disable %s when running another "
            "application using\nthe camera (right-click on the icon in the system tray, Disable),\nand enable it when "
            "the other application is closed (right-click\non the icon in the system tray, Enable).\n\nIn the mean "
            "time, use your password to log in!",
            kProductConstants[PC_PRODUCT]);
        releaseGraph();
        showMessage(text);
        return;
    }
    onVerificationStarted();
    cameraWatch.Start(500);
}

void UnlockDialog::onCameraWatch(wxTimerEvent&) {
    const HRESULT failure = graphManager ? graphManager->streamingError() : S_OK;
    if (SUCCEEDED(failure)) return;
    log("ERROR: The camera stopped streaming (" + DirectShowFramework::hresultToString(failure) + ")");
    LogIndent indent(logger());
    releaseGraph();
    showMessage(wxString::Format("Your camera '%s' stopped working!\n\nUse your password to log in.",
                                 wxString::FromUTF8(host.core().config.cameraName)));
}

void UnlockDialog::startIdleTimer(unsigned int elapsed) {
    if (!idleTimer) {
        log("Creation of the Idle timer...");
        idleTimer = new wxTimer(this, 1);
    }
    if (mode == MODE_DETECTION) {
        const uint32_t delay = host.core().config.verificationIdleDelay - elapsed;
        log("Starting the Idle timer in one-shot mode with a delay of " + std::to_string(delay) + "ms...");
        idleTimer->Start(static_cast<int>(delay), wxTIMER_ONE_SHOT);
    } else if (mode == MODE_SCREENSAVER) {
        log("Starting the Idle timer in continuous mode with a delay of 1 second...");
        idleTimer->Start(1000, wxTIMER_CONTINUOUS);
    }
}

void UnlockDialog::stopIdleTimer() {
    if (!idleTimer) return;
    log("Stopping the Idle timer...");
    idleTimer->Stop();
}

bool UnlockDialog::readIdleClock(DWORD& now, DWORD& lastInput) { return readSystemIdleClock(now, lastInput); }

void UnlockDialog::onIdleTimer(wxTimerEvent&) {
    const uint32_t delay = host.core().config.verificationIdleDelay;
    DWORD now = 0, lastInput = 0;
    if (!readIdleClock(now, lastInput)) {
        log("Event: Idle timeout");
        LogIndent indent(logger());
        log("Failed to retrieve the time of the last user input");
        startIdleTimer(0);
        return;
    }
    const DWORD idle = now - lastInput;
    if (mode == MODE_DETECTION) {
        log("Event: Idle timeout");
        LogIndent indent(logger());
        log("Current mode: Detection");
        if (idle < delay) {
            startIdleTimer(idle);
            return;
        }
        log("The system is idle since " + std::to_string(idle) + "ms (the limit is " + std::to_string(delay) +
            "ms), entering Screensaver mode...");
        LogIndent deeper(logger());
        releaseGraph();
        setMode(MODE_SCREENSAVER);
        mode = MODE_SCREENSAVER;
        screenSaver.restore();
        startIdleTimer(0);
    } else if (mode == MODE_SCREENSAVER && idle <= delay) {
        log("Event: Idle timeout");
        LogIndent indent(logger());
        log("Current mode: Screensaver");
        log("Entering detection mode...");
        LogIndent deeper(logger());
        stopIdleTimer();
        setMode(MODE_DETECTION);
        startVerification();
        mode = MODE_DETECTION;
        screenSaver.disable();
        startIdleTimer(0);
    }
}

bool UnlockDialog::MSWWindowProc(UINT message, WPARAM wParam, LPARAM) {
    const int value = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    if (mode == MODE_DETECTION || mode == MODE_KEYBOARD) {
        switch (message) {
        case WM_FACE_DETECTION:
            showDetectionConfidence(value);
            return true;
        case WM_FACE_AUTHENTICATED:
            showVerificationResult(value);
            if (mode == MODE_DETECTION) {
                char score[32];
                snprintf(score, sizeof(score), "%f", value * 0.001);
                log(std::string("Face authentified, confidence: ") + score);
                LogIndent indent(logger());
                refreshGauges();
                if (graphManager) graphManager->stop();
                // A face unlock never leads to a model adaptation.
                host.core().deleteNearMiss();
                unlock(kUnlockedByFace);
            }
            return true;
        case WM_FACE_NOT_AUTHENTICATED:
            showVerificationResult(value);
            return true;
        default:
            return false;
        }
    }
    if (mode == MODE_STARTING && message == WM_VERIFICATION_READY) {
        log("Event: Verification ready, starting detection...");
        LogIndent indent(logger());
        mode = MODE_DETECTION;
        startIdleTimer(0);
        return true;
    }
    return false;
}

void UnlockDialog::unlock(int status) {
    heartbeat::unlocking();
    unlocked = true;
    host.setUnlockStatus(status);
    Close(false);
}

void UnlockDialog::onClose(wxCloseEvent& event) {
    if (!unlocked) {
        log("WARNING: Close request refused, the session stays locked");
        if (event.CanVeto()) event.Veto();
        return;
    }
    log("Closing the Unlock dialog...");
    LogIndent indent(logger());
    log("Enabling the Task switching...");
    setTaskSwitching(true);
    log("Enabling the Task Manager...");
    setTaskManager(true);
    if (idleTimer) {
        log("Stopping the Idle timer...");
        idleTimer->Stop();
        delete idleTimer;
        idleTimer = nullptr;
    }
    if (graphManager) {
        graphManager->destroy();
        delete graphManager;
        graphManager = nullptr;
    }
    detachMessageQueue(this);
    deleteListeners(detectionLogic, verificationLogic, logger());
    Destroy();
    // The only end of the unlock-screen instance's loop (no main loop runs elsewhere).
    if (wxTheApp) wxTheApp->ExitMainLoop();
}
