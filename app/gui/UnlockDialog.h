#pragma once
// The unlock screen's window without its look: the lockdown while it is open, the idle timer, the
// listeners' notifications and the tidy close, handed to the unlock attempt that decides. The
// concrete dialog gives it its widgets through the screen's hooks.
#include <wx/dialog.h>
#include <wx/timer.h>

#include "app/core/ScreenSaver.h"
#include "app/core/UnlockAttempt.h"
#include "app/gui/UnlockHeartbeat.h"
#include "app/gui/WindowHosts.h"
#include "platform/user.h"

class FaceVerificatorGraphManager;
class Logger;

class UnlockDialog : public wxDialog, protected UnlockScreen {
public:
    enum Mode {
        MODE_STARTING = UnlockAttempt::MODE_STARTING,
        MODE_DETECTION = UnlockAttempt::MODE_DETECTION,
        MODE_KEYBOARD = UnlockAttempt::MODE_KEYBOARD,
        MODE_SCREENSAVER = UnlockAttempt::MODE_SCREENSAVER
    };

    UnlockDialog(UnlockHost& host, wxWindow* parent);
    ~UnlockDialog() override;

    void onInitDialog(wxInitDialogEvent& event);
    void onIdleTimer(wxTimerEvent& event);
    // While the graph runs: a camera whose stream aborted ends the face check, and the screen
    // says so; the password still opens it.
    void onCameraWatch(wxTimerEvent& event);
    static constexpr int kCameraWatchId = 3;  // 1 is the idle timer's, 2 the input grab's
    // The listeners' notifications; false for what the default processing gets.
    bool MSWWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Refused unless the screen was opened: a close request from the window manager or any other
    // client, Alt+F4 or a close from the program itself leaves the session locked.
    void onClose(wxCloseEvent& event);
    bool isUnlocked() const { return attempt.isUnlocked(); }

    int getMode() const { return attempt.getMode(); }
    FaceVerificatorGraphManager* getGraphManager() const { return attempt.getGraphManager(); }
    wxTimer* getIdleTimer() const { return idleTimer; }

    virtual void showMessage(const wxString& text) = 0;
    virtual wxString password() = 0;

protected:
    // UnlockScreen: what the window itself provides.
    HWND messageWindow() override;
    void showMessageText(const std::string& text) override { showMessage(wxString::FromUTF8(text)); }
    void armIdleTimer(unsigned delay, bool repeating) override;
    void disarmIdleTimer() override;
    void restoreScreenSaver() override { screenSaver.restore(logger()); }
    void disableScreenSaver() override { screenSaver.disable(logger()); }
    // Tests replace it.
    bool readIdleClock(DWORD& now, DWORD& lastInput) override;
    bool logonUser(const std::string& user, const std::string& domain, const std::string& password,
                   DWORD& error) override {
        return host.logonUser(user, domain, password, error);
    }
    // Opens the screen: the instance will end with that exit status, and the dialog closes.
    void unlocked(int status) override;

    Logger* logger() const;
    void log(const std::string& line) const;

    UnlockHost& host;
    wxTimer* idleTimer = nullptr;
    wxTimer cameraWatch;
    ScreenSaver screenSaver;
    BeatingUnlockAttempt attempt;

private:
    wxDECLARE_ABSTRACT_CLASS(UnlockDialog);
    wxDECLARE_EVENT_TABLE();
};
