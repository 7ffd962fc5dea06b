#pragma once
// The unlock screen: a fixed 514 x 470 picture panel in the middle of the screen with the live
// video, two gauges and the password field, and the keyboard handling that checks the account's
// password on Enter.
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/gui/UnlockDialog.h"

class CustomGauge;
class ImagePanel;
class VideoWindow;

class TarveloUnlockDialog : public UnlockDialog {
public:
    TarveloUnlockDialog(UnlockHost& host, wxWindow* parent);
    ~TarveloUnlockDialog() override;

    bool hasKeyboard() const { return keyboardGrabbed; }
    bool hasPointer() const { return pointerGrabbed; }

    void onVerificationStarted() override;
    void showMessage(const wxString& text) override;
    void clearPassword() override;
    void setMode(int mode) override;
    void showDetectionConfidence(int value) override;
    void showVerificationResult(int value) override;
    void refreshGauges() override;
    HWND videoWindowHandle() override;
    wxString password() override;

    void onSize(wxSizeEvent& event);
    void onKeyDown(wxKeyEvent& event);

    ImagePanel* backgroundPanel = nullptr;
    VideoWindow* videoWindow = nullptr;
    wxControl* idleWindow = nullptr;
    CustomGauge* detectionGauge = nullptr;
    CustomGauge* verificationGauge = nullptr;
    wxTextCtrl* passwordField = nullptr;
    wxStaticText* helpText = nullptr;

protected:
    void showInvalidPassword(const std::string& text, const std::string& caption) override;

private:
    void layout(int W, int H);
    void centrePanelOnScreen();
    void placeHelpText();
    void grabInput();
    static constexpr int kGrabTimerId = 2;
    wxTimer grabTimer;
    void* xDisplay = nullptr;
    unsigned long xWindow = 0;
    bool keyboardGrabbed = false;
    bool pointerGrabbed = false;

    wxDECLARE_ABSTRACT_CLASS(TarveloUnlockDialog);
    wxDECLARE_EVENT_TABLE();
};
