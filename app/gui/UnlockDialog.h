#pragma once
// The unlock screen's logic without its look: the lockdown while it is open, the verification
// graph with its two listeners, the modes Detection and Screensaver with the idle timer that
// switches between them, the filter notifications, and the tidy close. The concrete dialog gives
// it its widgets through nine hooks.
#include <wx/dialog.h>
#include <wx/timer.h>

#include "app/core/ScreenSaver.h"
#include "app/gui/WindowHosts.h"
#include "platform/user.h"

class DetectionLogic;
class FaceVerificatorGraphManager;
class Logger;
class VerificationLogic;

class UnlockDialog : public wxDialog {
public:
    enum Mode { MODE_STARTING = 0, MODE_DETECTION = 1, MODE_KEYBOARD = 2, MODE_SCREENSAVER = 3 };

    UnlockDialog(UnlockHost& host, wxWindow* parent);
    ~UnlockDialog() override;

    void onInitDialog(wxInitDialogEvent& event);
    void startVerification();
    void startIdleTimer(unsigned int elapsed);
    void stopIdleTimer();
    void onIdleTimer(wxTimerEvent& event);
    // While the graph runs: a camera whose stream aborted ends the face check, and the screen
    // says so; the password still opens it.
    void onCameraWatch(wxTimerEvent& event);
    static constexpr int kCameraWatchId = 3;  // 1 is the idle timer's, 2 the input grab's
    // The listeners' notifications; false for what the default processing gets.
    bool MSWWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Refused unless the screen was opened (unlock): a close request from the window manager or
    // any other client, Alt+F4 or a close from the program itself leaves the session locked.
    void onClose(wxCloseEvent& event);
    // Opens the screen: the instance will end with that exit status (kUnlockedByFace or
    // kUnlockedByPassword), and the dialog closes.
    void unlock(int status);
    bool isUnlocked() const { return unlocked; }

    int getMode() const { return mode; }
    FaceVerificatorGraphManager* getGraphManager() const { return graphManager; }
    wxTimer* getIdleTimer() const { return idleTimer; }

    virtual void onVerificationStarted() = 0;
    virtual void showMessage(const wxString& text) = 0;
    virtual void clearPassword() = 0;
    virtual void setMode(int mode) = 0;
    virtual void showDetectionConfidence(int value) = 0;
    virtual void showVerificationResult(int value) = 0;
    virtual void refreshGauges() = 0;
    virtual HWND videoWindowHandle() = 0;
    virtual wxString password() = 0;

protected:
    // The tick count and the last input; false when the input time is unknown. Tests replace it.
    virtual bool readIdleClock(DWORD& now, DWORD& lastInput);
    void releaseGraph();
    Logger* logger() const;
    void log(const std::string& line) const;

    UnlockHost& host;

    wxTimer* idleTimer = nullptr;
    wxTimer cameraWatch;
    int mode = MODE_STARTING;
    FaceVerificatorGraphManager* graphManager = nullptr;
    DetectionLogic* detectionLogic = nullptr;
    VerificationLogic* verificationLogic = nullptr;
    ScreenSaver screenSaver;
    bool unlocked = false;

private:
    wxDECLARE_ABSTRACT_CLASS(UnlockDialog);
    wxDECLARE_EVENT_TABLE();
};
