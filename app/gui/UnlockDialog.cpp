#include "app/gui/UnlockDialog.h"

#include <wx/app.h>
#include <wx/gdicmn.h>

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

UnlockDialog::UnlockDialog(UnlockHost& host, wxWindow* parent)
    : host(host), cameraWatch(this, kCameraWatchId), attempt(host.core(), *this) {
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
    cameraWatch.Start(500);
}

UnlockDialog::~UnlockDialog() {
    detachMessageQueue(this);
    delete idleTimer;
}

void UnlockDialog::onInitDialog(wxInitDialogEvent& event) {
    attempt.startVerification();
    event.Skip();
}

Logger* UnlockDialog::logger() const { return host.core().logger; }

void UnlockDialog::log(const std::string& line) const { host.core().log(line); }

HWND UnlockDialog::messageWindow() { return windowHandle(this); }

void UnlockDialog::armIdleTimer(unsigned delay, bool repeating) {
    if (!idleTimer) idleTimer = new wxTimer(this, 1);
    idleTimer->Start(static_cast<int>(delay), repeating ? wxTIMER_CONTINUOUS : wxTIMER_ONE_SHOT);
}

void UnlockDialog::disarmIdleTimer() {
    if (idleTimer) idleTimer->Stop();
}

void UnlockDialog::onCameraWatch(wxTimerEvent&) { attempt.checkStream(); }

bool UnlockDialog::readIdleClock(DWORD& now, DWORD& lastInput) { return readSystemIdleClock(now, lastInput); }

void UnlockDialog::onIdleTimer(wxTimerEvent&) { attempt.onIdleTimer(); }

bool UnlockDialog::MSWWindowProc(UINT message, WPARAM wParam, LPARAM) { return attempt.onMessage(message, wParam); }

void UnlockDialog::unlocked(int status) {
    heartbeat::unlocking();
    host.setUnlockStatus(status);
    Close(false);
}

void UnlockDialog::onClose(wxCloseEvent& event) {
    if (!attempt.isUnlocked()) {
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
    cameraWatch.Stop();
    detachMessageQueue(this);
    attempt.close();
    Destroy();
    // The only end of the unlock-screen instance's loop (no main loop runs elsewhere).
    if (wxTheApp) wxTheApp->ExitMainLoop();
}
