#include "app/gui/EnrollmentPanel.h"

#include <unistd.h>

#include <wx/app.h>
#include <wx/msgdlg.h>

#include "app/capture/CaptureListeners.h"
#include "app/capture/FaceVerificatorGraphManager.h"
#include "app/capture/Notifications.h"
#include "app/core/ConfigurationUpgrade.h"
#include "app/core/EnrollmentThread.h"
#include "app/core/LogonVerdict.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "app/gui/CustomControls.h"
#include "app/gui/SettingsDialog.h"
#include "app/gui/TrayIcon.h"
#include "app/gui/WindowBridge.h"
#include "platform/kernel.h"
#include "src/Logger.h"
#include "verification/SampleFiles.h"
#include "verification/UserInfo.h"

wxIMPLEMENT_DYNAMIC_CLASS(EnrollmentPanel, SettingsPanel);

wxBEGIN_EVENT_TABLE(EnrollmentPanel, SettingsPanel)
    EVT_BUTTON(EnrollmentPanel::ID_ENROLL, EnrollmentPanel::onEnrollButton)
    EVT_BUTTON(EnrollmentPanel::ID_DELETE, EnrollmentPanel::onDeleteButton)
    EVT_TIMER(EnrollmentPanel::ID_CAPTURE_TIMER, EnrollmentPanel::onCaptureTimeout)
wxEND_EVENT_TABLE()

namespace {
const wxString kCreateTitle = "Enter your password to create your face model";
const wxString kUpdateTitle = "Enter your password to update your face model";
const wxString kNotBuilt = "The model could not be built, any previous model is kept";

std::string workingFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof(buffer)) ? std::string(buffer) : std::string(".");
}
}  // namespace

EnrollmentPanel::EnrollmentPanel(SettingsDialog* owner) : SettingsPanel(owner), captureTimer(this, ID_CAPTURE_TIMER) {
    SessionGuardCore& core = host().core();
    const Configuration& config = core.config;
    log("Creating the 'Enrollment' panel...");
    LogIndent indent(logger());
    setAlignment(1);

    const bool ready = core.isReadyToAuthenticate();
    const bool update = core.canUpdateModel();
    const int W = static_cast<int>(config.getFormatWidth()), H = static_cast<int>(config.getFormatHeight());

    // A model file that is missing or cannot be read is said in the title, which is sized for it here.
    const std::string models = enrollmentPageTitle(core.faceFilesCheck());
    title = new wxStaticText(innerPanel, wxID_ANY,
                             !models.empty() ? wxString::FromUTF8(models) : update ? kUpdateTitle : kCreateTitle,
                             wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    wxFont bold = title->GetFont();
    bold.SetWeight(wxFONTWEIGHT_BOLD);
    bold.SetPointSize(bold.GetPointSize() + 1);
    title->SetFont(bold);

    videoWindow = new VideoWindow(innerPanel, wxDefaultPosition, wxSize(W, H), wxBORDER_SIMPLE);
    videoWindow->SetBackgroundColour(*wxBLACK);
    videoWindow->SetMinSize(wxSize(W, H));

    detectionCaption = new VerticalStaticText(innerPanel, wxID_ANY, "Face detection confidence");
    detectionGauge = new CustomGauge(innerPanel, wxID_ANY, gaugeThousandths(config.maxDetectionConfidence), 0, -1, wxDefaultPosition,
                                     wxSize(20, H), 1, true, wxDefaultValidator, "gauge");
    detectionGauge->SetForegroundColour(*wxRED);
    detectionGauge->setBorderColour(*wxBLACK);
    detectionGauge->SetToolTip("Detection level (Green = Very good, Yellow = Good, Red = Bad)");

    verificationCaption = new VerticalStaticText(innerPanel, wxID_ANY, "Face authentication confidence");
    verificationGauge = new CustomGauge(innerPanel, wxID_ANY, gaugeThousandths(config.maxVerificationConfidence), -500,
                                        gaugeThousandths(config.badVerificationConfidence), wxDefaultPosition, wxSize(20, H), 1, true,
                                        wxDefaultValidator, "gauge");
    verificationGauge->SetForegroundColour(*wxRED);
    verificationGauge->setBorderColour(*wxBLACK);
    verificationGauge->SetToolTip("Verification level (Green, Yellow = Authentified, Red = Not authentified)");

    enrollButton = new wxButton(innerPanel, ID_ENROLL, update ? "Update model" : "Enroll model");
    deleteButton = new wxButton(innerPanel, ID_DELETE, "Delete model");
    deleteButton->Enable(ready);
    passwordLabel = new wxStaticText(innerPanel, wxID_ANY, "Your Windows password: ");
    passwordField = new wxTextCtrl(innerPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                   wxBORDER_SIMPLE | wxTE_PASSWORD | wxTE_PROCESS_ENTER);

    onResize(GetSize());
    setPageSize(innerPanel->GetSize());
    SetMinSize(innerPanel->GetSize());
    SetSize(innerPanel->GetSize());
    passwordField->SetFocus();
}

EnrollmentPanel::~EnrollmentPanel() {
    captureTimer.Stop();
    stopFaceDetection();
}

wxSize EnrollmentPanel::videoSize() {
    int32_t w = 0, h = 0;
    if (graphManager && graphManager->getVideoSize(w, h) && w > 0 && h > 0) return wxSize(w, h);
    const Configuration& config = host().core().config;
    return wxSize(static_cast<int>(config.getFormatWidth()), static_cast<int>(config.getFormatHeight()));
}

void EnrollmentPanel::onResize(const wxSize&) {
    const wxSize video = videoSize();
    const int W = video.x, H = video.y;
    const int th = title->GetSize().y;
    const wxSize dc = detectionCaption->GetSize(), vc = verificationCaption->GetSize();
    const wxSize label = passwordLabel->GetSize();
    const int fh = passwordField->GetSize().y;
    const int BW = std::max(enrollButton->GetBestSize().x, deleteButton->GetBestSize().x);
    const int bh = enrollButton->GetBestSize().y;

    // Wide enough for a usable password field beside the two buttons, whatever the theme's sizes.
    const int innerWidth = std::max(W + dc.x + vc.x + 70, label.x + 160 + 2 * BW + 20);
    innerPanel->SetSize(innerWidth, H + 90 + bh);
    title->SetSize(0, 30, innerWidth, th);
    const int y0 = th + 60;
    videoWindow->SetSize(0, y0, W, H);
    detectionCaption->Move(W + 10, y0 + H - dc.y);
    detectionGauge->SetSize(W + dc.x + 15, y0, 20, H);
    verificationCaption->Move(W + dc.x + 45, y0 + H - vc.y);
    verificationGauge->SetSize(W + dc.x + vc.x + 50, y0, 20, H);

    const int y1 = y0 + H + 20;
    passwordLabel->SetSize(0, y1, label.x, label.y);
    const int enrollX = innerWidth - (2 * BW + 10);
    enrollButton->SetSize(enrollX, y1 - (bh - label.y) / 2, BW, bh);
    deleteButton->SetSize(enrollX + BW + 10, y1 - (bh - label.y) / 2, BW, bh);
    passwordField->SetSize(label.x, y1 - (fh - label.y) / 2, enrollX - 10 - label.x, fh);
    passwordField->SetFocus();
}

void EnrollmentPanel::showFailure(wxWindow* text) {
    for (wxWindow* control : std::initializer_list<wxWindow*>{title, videoWindow, detectionCaption, detectionGauge,
                                                              verificationCaption, verificationGauge, enrollButton,
                                                              deleteButton, passwordLabel, passwordField})
        control->Hide();
    if (failureText) failureText->Destroy();
    failureText = text;
}

void EnrollmentPanel::startFaceDetection() {
    SessionGuardCore& core = host().core();
    const Configuration& config = core.config;
    log("Starting the face detection...");
    LogIndent indent(logger());
    if (config.cameraName.empty()) {
        log("No webcam selected or found");
        return;
    }
    log("Creation of the detection logic...");
    detectionLogic = new DetectionLogic(windowHandle(this), WM_FACE_DETECTION, WM_FACE_CAPTURED);
    log("Creation of the verification logic...");
    verificationLogic = new VerificationLogic(windowHandle(this), 0, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
    attachMessageQueue(this, [this](UINT m, WPARAM w, LPARAM l) { return MSWWindowProc(m, w, l); });

    graphManager = new FaceVerificatorGraphManager(logger());
    if (!graphManager->initialize(config.cameraName, windowHandle(videoWindow), config.getFormatWidth(),
                                  config.getFormatHeight(), detectionLogic, verificationLogic)) {
        log("Failed to create the graph manager");
        const wxString text =
            wxString::Format("Failed to start the face detection using the camera '%s'!\n\nCheck that your camera "
                             "isn't already used by another program.\n\n",
                             wxString::FromUTF8(config.cameraName)) +
            wxString::Format("If it's not the case, please exit the application and send the file '%s' to us. "
                             "(Note: this file is located in '%s')",
                             kTrayLogFile, wxString::FromUTF8(workingFolder()));
        wxTextCtrl* box = new wxTextCtrl(innerPanel, wxID_ANY, text, wxPoint(0, 0), innerPanel->GetSize(),
                                         wxTE_MULTILINE | wxTE_READONLY | wxBORDER_SIMPLE);
        box->SetBackgroundColour(GetBackgroundColour());
        showFailure(box);
        releaseGraph();
        return;
    }

    // Models that cannot serve are not handed over: the verification gauge stays still, the title says why.
    const bool ready = core.isReadyToAuthenticate() && core.faceFilesCheck().ready();
    const std::string userModel = ready ? core.SessionGuardCore::userModelPath() : std::string();
    graphManager->setupFilters(FaceVerificatorGraphManager::Use::Enrollment, core.captureConfiguration(),
                               ready ? &userModel : nullptr);

    if (!graphManager->start()) {
        log("Failed to start the graph manager");
        wxStaticText* text = new wxStaticText(
            innerPanel, wxID_ANY,
            "Your webcam is already used by another application!\n\nClose it if you want to update your model!\n\n"
            "Note: you'll have to re-open the Settings window after the closing of\nthe other application");
        showFailure(text);
        releaseGraph();
        return;
    }
    onResize(GetSize());
    const wxSize page = GetSize(), inner = innerPanel->GetSize();
    if (page.x >= inner.x && page.y >= inner.y) setPageSize(page);
}

void EnrollmentPanel::releaseGraph(Logger* logger) {
    if (graphManager) {
        graphManager->destroy();
        delete graphManager;
        graphManager = nullptr;
    }
    detachMessageQueue(this);
    deleteListeners(detectionLogic, verificationLogic, logger);
}

void EnrollmentPanel::stopFaceDetection() {
    log("Stopping the face detection...");
    LogIndent indent(logger());
    if (graphManager) graphManager->stop();
    releaseGraph(logger());
    if (detectionGauge) {
        detectionGauge->SetForegroundColour(*wxRED);
        detectionGauge->setValue(detectionGauge->getMinimum());
    }
    if (verificationGauge) {
        verificationGauge->SetForegroundColour(*wxRED);
        verificationGauge->setValue(verificationGauge->getMinimum());
    }
}

bool EnrollmentPanel::MSWWindowProc(UINT message, WPARAM wParam, LPARAM) {
    if (!graphManager || !graphManager->isRunning()) return false;
    SessionGuardCore& core = host().core();
    const Configuration& config = core.config;
    const int value = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    switch (message) {
    case WM_FACE_DETECTION:
        detectionGauge->colourByScore(value, gaugeThousandths(config.badDetectionConfidence),
                                      gaugeThousandths(config.goodDetectionConfidence));
        detectionGauge->setValue(value);
        detectionGauge->Refresh();
        return true;
    case WM_FACE_AUTHENTICATED:
        verificationGauge->SetForegroundColour(value < gaugeThousandths(config.goodVerificationConfidence)
                                                   ? wxTheColourDatabase->Find("YELLOW")
                                                   : *wxGREEN);
        verificationGauge->setValue(value);
        verificationGauge->Refresh();
        return true;
    case WM_FACE_NOT_AUTHENTICATED:
        verificationGauge->SetForegroundColour(*wxRED);
        verificationGauge->setValue(value);
        verificationGauge->Refresh();
        return true;
    case WM_FACE_CAPTURED: {
        if (!waitingForCapture) {
            // Written just before the wait was cancelled: nobody wants it.
            vision::removeSampleFiles(vision::kLastFace);
            return true;
        }
        waitingForCapture = false;
        captureTimer.Stop();
        if (wParam == CAPTURE_FAILED) {
            log("ERROR: The captured face could not be written in the working folder");
            endEnrollment("The captured face could not be saved, the enrollment was cancelled",
                          "The captured face could not be saved, the enrollment was cancelled", NIIF_ERROR);
            return true;
        }
        log("Event: A face was detected, will use it to enroll the user model");
        LogIndent indent(logger());
        // Building cannot be cancelled: the button is off until the thread ends.
        const bool update = core.canUpdateModel();
        enrollButton->SetLabel(update ? "Update model" : "Enroll model");
        enrollButton->Disable();
        stopFaceDetection();
        if (!EnrollmentThread::start(core, vision::kLastFace, update)) {
            log("ERROR: Failed to start the enrollment thread");
            endEnrollment(kNotBuilt, kNotBuilt, NIIF_ERROR);
        }
        return true;
    }
    default:
        return false;
    }
}

bool EnrollmentPanel::checkWindowsPassword() {
    std::string domain, user;
    host().core().currentWindowsUser(domain, user);
    const std::string password = passwordField->GetValue().ToStdString(wxConvUTF8);
    DWORD error = 0;
    const bool loggedOn = host().logonUser(user, domain, password, error);
    const LogonVerdict verdict = judgeLogon(loggedOn, error, password.empty());
    if (!verdict.opens) {
        if (!verdict.logLine.empty()) log(verdict.logLine);
        wxMessageBox(wxString::FromUTF8(verdict.text), wxString::FromUTF8(verdict.caption), wxOK | wxICON_ERROR, this);
    }
    passwordField->SetValue("");
    passwordField->SetFocus();
    return verdict.opens;
}

void EnrollmentPanel::onEnrollButton(wxCommandEvent&) {
    if (waitingForCapture) {  // the button reads "Cancel" while the page waits for a face
        log("The enrollment was cancelled by the user");
        cancelCapture("The enrollment was cancelled");
        return;
    }
    if (!checkWindowsPassword()) return;
    SessionGuardCore& core = host().core();
    log("Starting the enrollment of the user model...");
    LogIndent indent(logger());
    const bool ready = core.canUpdateModel();
    log(ready ? "This is an adaptation of the existing model" : "This is the creation of a new model");
    if (!detectionLogic) {
        // Nothing can capture a face without a running detection.
        wxMessageBox("The face detection isn't running: select a camera in the settings first.",
                     kProductConstants[PC_TITLE], wxOK | wxICON_ERROR, this);
        return;
    }
    const wxString text = ready ? "Your model is being updated..." : "A new model is being created...";
    host().showBalloon(kProductConstants[PC_TITLE], text, 10000, NIIF_INFO);
    host().setTrayIcon("systrayBusy");
    title->SetLabel(text);
    SetCursor(*wxHOURGLASS_CURSOR);
    // While it waits for a face the page offers one way out: its own Cancel.
    enrollButton->SetLabel("Cancel");
    deleteButton->Disable();
    owner->disableButtons();
    mayLeave = false;
    waitingForCapture = true;
    // A weak detection may be background: a model built from it would accept anything but the user.
    detectionLogic->requestCapture(vision::kLastFace, core.config.goodDetectionConfidence);
    captureTimer.StartOnce(captureTimeoutMs);
    onResize(GetSize());
}

void EnrollmentPanel::onCaptureTimeout(wxTimerEvent&) {
    if (!waitingForCapture) return;
    log("WARNING: No face was captured in time, the enrollment is cancelled");
    cancelCapture("No face was found in front of the camera, the enrollment was cancelled");
}

void EnrollmentPanel::cancelCapture(const wxString& why) {
    captureTimer.Stop();
    waitingForCapture = false;
    endEnrollment(why, why, NIIF_WARNING);
}

void EnrollmentPanel::endEnrollment(const wxString& titleText, const wxString& balloon, unsigned balloonIcon) {
    const bool ready = host().core().isReadyToAuthenticate();
    if (detectionLogic) detectionLogic->cancelCapture();
    SetCursor(wxNullCursor);
    enrollButton->Enable();
    enrollButton->SetLabel(host().core().canUpdateModel() ? "Update model" : "Enroll model");
    deleteButton->Enable(ready);
    title->SetLabel(titleText);
    owner->enableButtons();
    mayLeave = true;
    onResize(GetSize());
    owner->updateState();
    host().showBalloon(kProductConstants[PC_TITLE], balloon, 10000, balloonIcon);
    host().setTrayIcon(host().isEnabled() ? "systray" : "systrayDisabled");
    if (!isDetecting()) startFaceDetection();
}

void EnrollmentPanel::onEnrollmentDone(bool built) {
    log("Event: Enrollment done");
    LogIndent indent(logger());
    if (!built) {
        log("ERROR: The enrollment failed, the previous model is kept");
        endEnrollment(kNotBuilt, kNotBuilt, NIIF_ERROR);
        return;
    }
    endEnrollment("Your model is ready", "Your model is ready", NIIF_INFO);
}

void EnrollmentPanel::onDeleteButton(wxCommandEvent&) {
    wxMessageDialog ask(this, "Do you really want to erase your face model?", "Warning",
                        wxYES_NO | wxNO_DEFAULT | wxICON_EXCLAMATION);
    if (ask.ShowModal() != wxID_YES) {
        passwordField->SetValue("");
        passwordField->SetFocus();
        return;
    }
    if (!checkWindowsPassword()) return;
    log("Erasing the user model...");
    LogIndent indent(logger());
    stopFaceDetection();
    enrollButton->SetLabel("Enroll model");
    deleteButton->Disable();
    const std::string folder = host().core().userFolderPath();
    if (!folder.empty()) {
        removeFolderFiles(folder + "/models");
        removeFolderFiles(folder + "/images");
        removeFolderFiles(folder + "/data");
    }
    wxTheApp->Yield();
    startFaceDetection();
}
