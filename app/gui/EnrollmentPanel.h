#pragma once
// The "Enrollment" page: the camera picture with the faces outlined, the detection and
// authentication gauges, and the buttons that create, update or delete the user's face model after
// the user typed the account's password.
#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include "app/gui/SettingsPanel.h"
#include "platform/user.h"

class CustomGauge;
class DetectionLogic;
class FaceVerificatorGraphManager;
class Logger;
class VerificationLogic;
class VerticalStaticText;
class VideoWindow;

class EnrollmentPanel : public SettingsPanel {
public:
    enum { ID_ENROLL = 6000, ID_DELETE = 6001, ID_CAPTURE_TIMER = 6002 };

    explicit EnrollmentPanel(SettingsDialog* owner);
    ~EnrollmentPanel() override;

    void startFaceDetection();
    void stopFaceDetection();
    // built: the enrollment thread wrote a new model; otherwise the old model (if any) is kept.
    void onEnrollmentDone(bool built);
    // Ends a wait for a face capture (the Cancel button, or the time limit): the page is usable again.
    void cancelCapture(const wxString& why);
    bool isWaitingForCapture() const { return waitingForCapture; }
    // The listeners' notifications; false for messages the page does not handle now.
    bool MSWWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    void onEnrollButton(wxCommandEvent& event);
    void onDeleteButton(wxCommandEvent& event);
    bool checkWindowsPassword();
    void onResize(const wxSize& size) override;

    bool isDetecting() const { return graphManager != nullptr; }
    FaceVerificatorGraphManager* getGraphManager() const { return graphManager; }
    DetectionLogic* getDetectionLogic() const { return detectionLogic; }

    wxStaticText* title = nullptr;
    VideoWindow* videoWindow = nullptr;
    VerticalStaticText* detectionCaption = nullptr;
    CustomGauge* detectionGauge = nullptr;
    VerticalStaticText* verificationCaption = nullptr;
    CustomGauge* verificationGauge = nullptr;
    wxStaticText* passwordLabel = nullptr;
    wxTextCtrl* passwordField = nullptr;
    wxButton* enrollButton = nullptr;
    wxButton* deleteButton = nullptr;
    // The failure text shown in place of the controls, once a start failed.
    wxWindow* failureText = nullptr;
    // How long the page waits for a face before it gives up; tests shorten it.
    int captureTimeoutMs = 30000;

private:
    EnrollmentPanel() = default;
    void showFailure(wxWindow* text);
    void onCaptureTimeout(wxTimerEvent& event);
    // Gives the page back after an enrollment or a wait: buttons, dialog, tray icon, detection.
    void endEnrollment(const wxString& titleText, const wxString& balloon, unsigned balloonIcon);
    // Drops the graph and the listeners; with a logger, the listeners' deletion is announced.
    void releaseGraph(Logger* logger = nullptr);
    wxSize videoSize();

    FaceVerificatorGraphManager* graphManager = nullptr;
    DetectionLogic* detectionLogic = nullptr;
    VerificationLogic* verificationLogic = nullptr;
    wxTimer captureTimer;
    bool waitingForCapture = false;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(EnrollmentPanel);
    wxDECLARE_EVENT_TABLE();
};
