// The tray instance's side of the lock session: the timer, the presence checker, the unlock thread,
// the adaptation thread, the tray icon and the settings dialog that the session's decisions drive;
// and the default camera.
#include <wx/msgdlg.h>

#include "app/capture/PresenceChecker.h"
#include "app/capture/TestGraphManager.h"
#include "app/capture/WallClock.h"
#include "app/core/EnrollmentThread.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionLockdown.h"
#include "app/gui/SessionGuardApp.h"
#include "app/gui/SettingsDialog.h"
#include "app/gui/TrayIcon.h"
#include "app/gui/UnlockThread.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "src/Logger.h"

bool SessionGuardApp::readIdleClock(DWORD& now, DWORD& lastInput) { return readSystemIdleClock(now, lastInput); }

void SessionGuardApp::armIdleTimer(unsigned delay) {
    if (!idleTimer) idleTimer = new wxTimer(this, 1);
    idleTimer->Start(static_cast<int>(delay), wxTIMER_ONE_SHOT);
}

void SessionGuardApp::disarmIdleTimer() {
    if (idleTimer) idleTimer->Stop();
}

void SessionGuardApp::showScreenSaverMessage() {
    const wxString product = kProductConstants[PC_PRODUCT];
    wxMessageBox(wxString::Format("%s deactivated your screen saver at startup, because it could interfere with its "
                                  "own session managment. You should not reactivate it manually (or modify its "
                                  "settings) while %s is running. It will be reactivated when %s exits.",
                                  product, product, product),
                 "Screen saver running", wxOK | wxICON_ERROR, nullptr);
}

bool SessionGuardApp::startPresenceChecker() {
    presenceChecker = new PresenceChecker();
    if (presenceChecker->start()) return true;
    delete presenceChecker;
    presenceChecker = nullptr;
    return false;
}

bool SessionGuardApp::presenceCheckTimedOut() { return presenceChecker && presenceChecker->timedOut(); }

void SessionGuardApp::deletePresenceChecker() {
    delete presenceChecker;
    presenceChecker = nullptr;
}

void SessionGuardApp::startUnlockScreen() {
    unlockThread = new UnlockThread(logger);
    unlockThread->Create();
    unlockThread->Run();
}

bool SessionGuardApp::lockInProgress() { return UnlockThread::lockInProgress(); }

void SessionGuardApp::awaitUnlockScreen() {
    unlockThread = new UnlockThread(logger, true);
    unlockThread->Create();
    unlockThread->Run();
}

void SessionGuardApp::restartUnlockScreen() {
    if (unlockThread) UnlockThread::restartUnlockScreenIfRunning(unlockThread);
}

bool SessionGuardApp::startAdaptation(const std::string& prefix) { return EnrollmentThread::start(*this, prefix, true); }

void SessionGuardApp::setTaskLockdown(bool locked) {
    setTaskSwitching(!locked);
    setTaskManager(!locked);
}

void SessionGuardApp::enableTray(bool on) {
    if (!trayIcon) return;
    if (on)
        trayIcon->enable();
    else
        trayIcon->disable();
}

void SessionGuardApp::showNotice(const std::string& text, unsigned iconFlags) {
    showBalloon(kProductConstants[PC_TITLE], wxString::FromUTF8(text), 10000, static_cast<int>(iconFlags));
}

void SessionGuardApp::onModelThreadDone(wxCommandEvent& event) {
    const bool built = event.GetInt() == MODEL_BUILT;
    if (!session.onModelThreadDone(built) && settingsDialog) settingsDialog->onEnrollmentDone(built);
}

bool SessionGuardApp::runSettingsDialog(int page, bool& cameraChanged) {
    settingsDialog = new SettingsDialog(*this, nullptr, page);
    const int result = settingsDialog->ShowModal();
    cameraChanged = settingsDialog->isCameraChanged();
    if (settingsDialog) {
        delete settingsDialog;
        settingsDialog = nullptr;
    }
    return result == wxID_OK;
}

bool SessionGuardApp::selectDefaultCamera() {
    log("Selecting the default camera...");
    LogIndent indent(logger);
    TestGraphManager test(logger);
    const std::vector<std::string> devices = test.enumerateVideoCaptureDevices();
    for (const std::string& name : devices) {
        if (!test.testResolution(name, config.getFormatWidth(), config.getFormatHeight())) continue;
        config.cameraName = name;
        config.save(configFilePath());
        const std::string model = SessionGuardCore::userModelPath();
        if (!model.empty() && !keepModelOnCameraChoice) DeleteFileA(model.c_str());
        log("Default camera selected");
        return true;
    }
    return false;
}
