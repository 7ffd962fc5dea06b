// The settings dialog with its three pages, on real widgets: the parameters page against the
// configuration, Apply, page rules, the help page's layout, the live enrollment page.
#include <fstream>
#include <functional>

#include <cstdio>
#include <cstdlib>

#include <cmath>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/listbook.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include "app/capture/CaptureListeners.h"
#include "app/capture/Notifications.h"
#include "app/core/ModelCheck.h"
#include "app/core/SessionGuardCore.h"
#include "app/gui/CustomControls.h"
#include "app/gui/EnrollmentPanel.h"
#include "app/gui/HelpPanel.h"
#include "app/gui/ParametersPanel.h"
#include "app/gui/SettingsDialog.h"
#include "gui_harness.h"
#include "test_data.h"
#include "test_app.h"
#include "read_file.h"

using testutil::readFile;

namespace {

// Answers the message boxes in place of a person and keeps their texts.
class MessageBoxes : public wxModalDialogHook {
public:
    MessageBoxes() { Register(); }
    std::vector<wxString> texts;

protected:
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
            texts.push_back(box->GetMessage());
            return wxID_OK;
        }
        return wxID_NONE;
    }
};

class SettingsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        app().reset();
        app().config.idleDelay = 600000;
        app().config.verificationIdleDelay = 300000;
        app().config.cameraName = guitest::replayCameraName();
        // The detection gauge of the reference configuration, calibrated for the shipped cascade: the
        // enrollment capture waits for a face of its green.
        const auto thousandths = [](const char* key, float fallback) {
            return static_cast<float>(std::lround(testdata::referenceValue(key, fallback) * 1000) / 1000.0);
        };
        app().config.maxDetectionConfidence = thousandths("MaxDetectionConfidence", app().config.maxDetectionConfidence);
        app().config.goodDetectionConfidence = thousandths("GoodDetectionConfidence", app().config.goodDetectionConfidence);
        app().config.badDetectionConfidence = thousandths("BadDetectionConfidence", app().config.badDetectionConfidence);
    }
    void TearDown() override {
        if (dialog) {
            dialog->Hide();
            delete dialog;
        }
        guitest::pump(50);
        app().config.cameraName.clear();
        app().reset();
    }
    TestApp& app() { return testApp(); }
    void open(int page) {
        dialog = new SettingsDialog(app(), nullptr, page);
        dialog->Show();
        guitest::pump(100);
    }
    // What the spin control sends while the user edits it.
    void edit(wxSpinCtrl* field, int value) {
        field->SetValue(value);
        wxCommandEvent event(wxEVT_TEXT, field->GetId());
        event.SetEventObject(field);
        field->GetEventHandler()->ProcessEvent(event);
    }
    std::string configText() { return readFile(app().configFilePath()); }
    SettingsDialog* dialog = nullptr;
};

TEST_F(SettingsDialogTest, DelaysShowInSecondsAndApplyFollowsTheChanges) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    open(1);
    ParametersPanel* page = dialog->parametersPage();
    EXPECT_EQ(page->idleDelayField->GetValue(), 600);
    EXPECT_EQ(page->cameraDelayField->GetValue(), 300);
    EXPECT_EQ(page->cameraChoice->GetStringSelection(), guitest::replayCameraName());
    EXPECT_FALSE(dialog->applyButton()->IsEnabled());
    EXPECT_EQ(dialog->saveButton()->GetLabel(), "Save");
    EXPECT_EQ(dialog->applyButton()->GetLabel(), "Apply");
    guitest::screenshot(dialog, "settings_parameters");

    edit(page->idleDelayField, 601);
    EXPECT_TRUE(dialog->applyButton()->IsEnabled());
    edit(page->idleDelayField, 600);
    EXPECT_FALSE(dialog->applyButton()->IsEnabled());

    edit(page->idleDelayField, 601);
    wxCommandEvent apply(wxEVT_BUTTON, wxID_NO);
    dialog->onApply(apply);
    EXPECT_EQ(app().config.idleDelay, 601000u);
    EXPECT_FALSE(dialog->applyButton()->IsEnabled());
    EXPECT_NE(configText().find("IdleDelay=601"), std::string::npos);
    EXPECT_TRUE(app().lines.has("Application idle delay: 601000"));
    EXPECT_TRUE(app().lines.has("Camera: " + guitest::replayCameraName()));
    EXPECT_FALSE(dialog->isCameraChanged());
}

TEST_F(SettingsDialogTest, ACameraNameOfAnotherCaseIsNotFoundAndCountsAsAChange) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    wxString upper = wxString(guitest::replayCameraName()).Upper();
    app().config.cameraName = upper.ToStdString();
    open(1);
    EXPECT_TRUE(app().lines.has(
        "The configured capture device isn't available anymore, the first one will be used instead"));
    EXPECT_TRUE(dialog->applyButton()->IsEnabled());
    wxCommandEvent apply(wxEVT_BUTTON, wxID_NO);
    dialog->onApply(apply);
    EXPECT_TRUE(dialog->isCameraChanged());
    EXPECT_TRUE(app().lines.has("Camera: " + guitest::replayCameraName() + " (Changed)"));
}

TEST_F(SettingsDialogTest, WithoutAUsableCameraTheEnrollmentPageIsGrayAndRefused) {
    app().config.cameraName = "No Such Camera";
    open(1);
    EXPECT_EQ(dialog->book()->GetPageImage(0), 1);
    EXPECT_FALSE(dialog->page(0)->mayEnter);
    dialog->book()->SetSelection(0);
    EXPECT_EQ(dialog->book()->GetSelection(), 1);
    // The enrollment page was started by the first selection and stopped when page 1 was chosen.
    EXPECT_TRUE(app().lines.has("Starting the face detection..."));
    EXPECT_TRUE(app().lines.has("Stopping the face detection..."));
    guitest::screenshot(dialog, "settings_no_camera");
}

TEST_F(SettingsDialogTest, HelpPageLayoutAndLicenceText) {
    app().config.cameraName.clear();
    open(2);
    auto* help = static_cast<HelpPanel*>(dialog->page(2));
    const wxSize l = help->logo->GetSize(), t = help->text->GetSize(), c = help->licenceCaption->GetSize();
    EXPECT_GT(l.x, 0);  // the logo of the working folder was read
    EXPECT_EQ(help->text->GetPosition().x, l.x + (400 - t.x - l.x) / 2);
    const int r = std::max(l.y, t.y) + 10;
    EXPECT_EQ(help->licenceCaption->GetPosition(), wxPoint(0, r));
    EXPECT_EQ(help->licenceBox->GetRect(), wxRect(0, r + c.y + 10, 400, 200));
    EXPECT_EQ(help->getInnerPanel()->GetSize(), wxSize(400, r + c.y + 10 + 200));
    EXPECT_NE(help->text->GetLabel().find("Tarvelo v1.3.0"), wxString::npos);
    EXPECT_NE(help->licenceBox->GetValue().find("Copyright (c) 2007 Orvanta"), wxString::npos);
    EXPECT_EQ(help->licenceBox->GetValue().find("\\rtf"), wxString::npos);
    guitest::screenshot(dialog, "settings_help");
}

TEST_F(SettingsDialogTest, LicenceTextKeepsWordsAndParagraphsOnly) {
    EXPECT_EQ(HelpPanel::licenceText("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs18{\\b Title}\\par\nA \\{b\\} c\\par}"),
              "Title\nA {b} c\n");
}

TEST_F(SettingsDialogTest, LiveEnrollmentPageShowsVideoAndDetectionScores) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    open(0);
    EnrollmentPanel* page = dialog->enrollmentPage();
    ASSERT_TRUE(page->isDetecting());
    EXPECT_EQ(page->enrollButton->GetLabel(), "Enroll model");
    EXPECT_FALSE(page->deleteButton->IsEnabled());
    // The replay clip shows a face: the detection gauge leaves its minimum within a while.
    for (int i = 0; i < 300 && page->detectionGauge->getValue() <= 0; ++i) guitest::pump(100);
    EXPECT_GT(page->detectionGauge->getValue(), 0);
    guitest::screenshot(dialog, "settings_enrollment_live");
    // Without a user model the verification gauge stays at its minimum.
    EXPECT_EQ(page->verificationGauge->getValue(), -500);
    dialog->book()->SetSelection(2);
    EXPECT_FALSE(page->isDetecting());
    EXPECT_EQ(page->detectionGauge->getValue(), 0);
}

TEST_F(SettingsDialogTest, EnrollingBuildsTheModelFromTheNextFaceAndVerificationStarts) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    ASSERT_TRUE(app().createUserInfo("None", "None", 2000, true));
    std::remove(app().userModelPath().c_str());
    open(0);
    app().settingsDialog = dialog;  // the application hands the thread's end to the open dialog
    EnrollmentPanel* page = dialog->enrollmentPage();
    ASSERT_TRUE(page->isDetecting());
    app().logonResult = true;
    wxCommandEvent enroll(wxEVT_BUTTON, EnrollmentPanel::ID_ENROLL);
    page->onEnrollButton(enroll);
    EXPECT_EQ(app().logons, 1);
    EXPECT_TRUE(app().lines.has("This is the creation of a new model"));
    EXPECT_EQ(page->title->GetLabel(), "A new model is being created...");
    EXPECT_FALSE(dialog->saveButton()->IsEnabled());
    EXPECT_FALSE(page->mayLeave);
    for (int i = 0; i < 2400 && !app().lines.has("Event: Enrollment done"); ++i) guitest::pump(50);
    ASSERT_TRUE(app().lines.has("Event: A face was detected, will use it to enroll the user model"));
    ASSERT_TRUE(app().lines.has("Event: Enrollment done"));
    EXPECT_TRUE(fileExists(app().userModelPath()));
    EXPECT_EQ(page->title->GetLabel(), "Your model is ready");
    EXPECT_EQ(page->enrollButton->GetLabel(), "Update model");
    EXPECT_TRUE(page->deleteButton->IsEnabled());
    EXPECT_TRUE(dialog->saveButton()->IsEnabled());
    EXPECT_TRUE(page->mayLeave);
    // The detection runs again, now with the user's model: the verification gauge leaves -500.
    ASSERT_TRUE(page->isDetecting());
    for (int i = 0; i < 300 && page->verificationGauge->getValue() == -500; ++i) guitest::pump(50);
    EXPECT_NE(page->verificationGauge->getValue(), -500);
    guitest::screenshot(dialog, "settings_enrollment_model_ready");
    app().settingsDialog = nullptr;
}

// A user model that cannot be read: the page says so and offers a new one; enrolled from the
// camera, the new model takes the old one's place and the old bytes stay beside it as ".bad".
TEST_F(SettingsDialogTest, AnUnreadableModelIsSaidSoAndANewOneKeepsItAside) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    ASSERT_TRUE(app().createUserInfo("None", "None", 2000, true));
    const std::string model = app().userModelPath();
    (void)std::system(("mkdir -p '" + model.substr(0, model.rfind('/')) + "'").c_str());
    const std::string world = readFile(app().config.worldModel);
    ASSERT_GT(world.size(), 1000u);
    const std::string truncated = world.substr(0, world.size() / 3);
    std::ofstream(model, std::ios::binary) << truncated;
    open(0);
    app().settingsDialog = dialog;
    EnrollmentPanel* page = dialog->enrollmentPage();
    EXPECT_EQ(page->title->GetLabel(), "Your face model cannot be read\nEnter your password to enroll a new one");
    EXPECT_EQ(page->enrollButton->GetLabel(), "Enroll model");
    EXPECT_TRUE(page->deleteButton->IsEnabled()) << "the file is there to delete";
    ASSERT_TRUE(page->isDetecting());
    guitest::screenshot(dialog, "settings_enrollment_unreadable_model");

    app().logonResult = true;
    wxCommandEvent enroll(wxEVT_BUTTON, EnrollmentPanel::ID_ENROLL);
    page->onEnrollButton(enroll);
    EXPECT_TRUE(app().lines.has("This is the creation of a new model"));
    for (int i = 0; i < 2400 && !app().lines.has("Event: Enrollment done"); ++i) guitest::pump(50);
    ASSERT_TRUE(app().lines.has("Event: Enrollment done"));
    EXPECT_EQ(page->title->GetLabel(), "Your model is ready");
    EXPECT_EQ(readFile(model + ".bad"), truncated);
    EXPECT_EQ(userModelBuiltOn(model, app().config.worldModel), BuiltOn::Same);
    EXPECT_EQ(page->enrollButton->GetLabel(), "Update model");
    app().settingsDialog = nullptr;
    std::remove(model.c_str());
    std::remove((model + ".bad").c_str());
}

// A world model that is missing: the page names it, keeps the model, and hands the verifier nothing.
TEST_F(SettingsDialogTest, AMissingWorldModelIsNamedAndTheModelKept) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    ASSERT_TRUE(app().createUserInfo("None", "None", 2000, true));
    const std::string model = app().userModelPath();
    (void)std::system(("mkdir -p '" + model.substr(0, model.rfind('/')) + "' && cp '" + app().config.worldModel +
                       "' '" + model + "'")
                          .c_str());
    const std::string before = readFile(model);
    const std::string world = app().config.worldModel;
    app().config.worldModel = "models/gone.model";
    open(0);
    EnrollmentPanel* page = dialog->enrollmentPage();
    EXPECT_EQ(page->title->GetLabel(), "Faces cannot be checked, this file is missing:\nmodels/gone.model\nYour face "
                                       "model is kept");
    ASSERT_TRUE(page->isDetecting());
    for (int i = 0; i < 40; ++i) guitest::pump(50);
    EXPECT_EQ(page->verificationGauge->getValue(), -500) << "nothing is verified";
    guitest::screenshot(dialog, "settings_enrollment_world_model_missing");
    EXPECT_EQ(readFile(model), before);
    app().config.worldModel = world;
    std::remove(model.c_str());
}

TEST_F(SettingsDialogTest, SettingsLoopWithTheRealDialogReopensAfterSaveWithoutAModel) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    app().fakeSettings = false;
    app().fakeReadiness = false;  // the real camera and model tests: camera yes, model no
    ASSERT_TRUE(app().createUserInfo("None", "None", 2000, true));
    std::remove(app().userModelPath().c_str());
    // Presses Save in the first dialog and Cancel in the next one, once each runs its modal loop.
    std::vector<int> pages;
    std::vector<int> buttons{wxID_OK, wxID_CANCEL};
    struct Presser : wxTimer {
        std::function<void()> step;
        void Notify() override { step(); }
    } presser;
    presser.step = [&] {
        SettingsDialog* open = app().settingsDialog;
        if (buttons.empty() || !open || open->GetName() == "pressed" || !open->IsModal()) return;
        open->SetName("pressed");  // a later dialog may come at the same address
        const int button = buttons.front();
        buttons.erase(buttons.begin());
        pages.push_back(open->book()->GetSelection());
        wxCommandEvent click(wxEVT_BUTTON, button);
        click.SetEventObject(open->FindWindow(button));
        open->GetEventHandler()->ProcessEvent(click);
    };
    presser.Start(50);
    app().showSettingsDialog(1);
    EXPECT_EQ(pages, (std::vector<int>{1, 0}));
    EXPECT_TRUE(app().lines.has("Dialog closed, but the user model isn't created"));
    EXPECT_EQ(app().settingsDialog, nullptr);
    EXPECT_TRUE(fileExists(app().configFilePath()));  // "Save" applied and saved
    EXPECT_FALSE(app().idleTimer && app().idleTimer->IsRunning());  // no model: nothing armed
    presser.Stop();
}

TEST_F(SettingsDialogTest, EnrollmentBlocksPagesButtonsAndClose) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    open(0);
    EnrollmentPanel* page = dialog->enrollmentPage();
    ASSERT_TRUE(page->isDetecting());
    // What "Enroll model" does after a valid password, without the password check.
    dialog->disableButtons();
    page->mayLeave = false;
    dialog->book()->SetSelection(1);
    EXPECT_EQ(dialog->book()->GetSelection(), 0);
    wxCloseEvent close(wxEVT_CLOSE_WINDOW);
    close.SetCanVeto(true);
    dialog->onClose(close);
    EXPECT_TRUE(close.GetVeto());
    EXPECT_FALSE(dialog->cancelButton()->IsEnabled());
}

TEST_F(SettingsDialogTest, ParametersPageIsLaidOutWithoutToolkitComplaints) {
    // GTK says what it dislikes on standard error: listen there while the page is built and laid out.
    char name[] = "/tmp/tarvelo-stderr-XXXXXX";
    const int capture = mkstemp(name);
    ASSERT_GE(capture, 0);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(capture, 2);
    open(1);
    dialog->SetSize(dialog->GetSize() + wxSize(40, 0));  // a layout pass more
    guitest::pump(100);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(capture);
    const std::string said = readFile(name);
    std::remove(name);
    EXPECT_EQ(said.find("Gtk-CRITICAL"), std::string::npos) << said.substr(0, 400);
    EXPECT_GE(dialog->parametersPage()->idleDelayField->GetSize().x, 70);
}

TEST_F(SettingsDialogTest, AFailedSaveIsReportedAndApplyStaysEnabled) {
    // A folder where the file should be: no save can replace it, whoever runs the test.
    std::remove(app().configFilePath().c_str());
    ASSERT_EQ(::mkdir(app().configFilePath().c_str(), 0700), 0);
    MessageBoxes boxes;
    open(1);
    edit(dialog->parametersPage()->idleDelayField, 601);
    EXPECT_FALSE(dialog->applyAndSave());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find("could not be saved"), wxString::npos) << boxes.texts[0];
    EXPECT_TRUE(dialog->applyButton()->IsEnabled());
    EXPECT_EQ(app().config.idleDelay, 601000u) << "the settings still hold for this run";
    EXPECT_TRUE(app().lines.has("ERROR: Failed to save the configuration file " + app().configFilePath()));
    ::rmdir(app().configFilePath().c_str());
    EXPECT_TRUE(dialog->applyAndSave());
    EXPECT_FALSE(dialog->applyButton()->IsEnabled());
    EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST_F(SettingsDialogTest, ACameraChangeIsNotForgottenByALaterApply) {
    // No device at all: applying clears the configured camera, which is a change, and stays one.
    const std::string cameras = getenv("TARVELO_REPLAY_CAMERAS");
    setenv("TARVELO_REPLAY_CAMERAS", "/nonexistent", 1);
    app().config.cameraName = "Gone Camera";
    open(1);
    setenv("TARVELO_REPLAY_CAMERAS", cameras.c_str(), 1);
    EXPECT_FALSE(dialog->parametersPage()->cameraChoice->IsEnabled());
    EXPECT_TRUE(dialog->parametersPage()->applyChanges());
    EXPECT_TRUE(dialog->isCameraChanged());
    EXPECT_TRUE(dialog->parametersPage()->applyChanges());
    EXPECT_TRUE(dialog->isCameraChanged());
    EXPECT_EQ(app().config.cameraName, "");
}

// The enrollment page with a camera that shows no face: the wait for a capture can be cancelled
// and gives up by itself; a capture or a model that fails gives the page back with its reason.
class EnrollmentWait : public SettingsDialogTest {
protected:
    void SetUp() override {
        SettingsDialogTest::SetUp();
        app().config.cameraName = guitest::coveredCameraName();
        ASSERT_TRUE(app().createUserInfo("None", "None", 2000, true));
        std::remove(app().userModelPath().c_str());
        app().logonResult = true;
        open(0);
        app().settingsDialog = dialog;
        page = dialog->enrollmentPage();
        ASSERT_TRUE(page->isDetecting());
    }
    void TearDown() override {
        app().settingsDialog = nullptr;
        SettingsDialogTest::TearDown();
    }
    void enroll() {
        wxCommandEvent click(wxEVT_BUTTON, EnrollmentPanel::ID_ENROLL);
        page->onEnrollButton(click);
    }
    // The page is usable again: buttons, page changes, detection.
    void expectGivenBack() {
        EXPECT_FALSE(page->isWaitingForCapture());
        EXPECT_TRUE(page->enrollButton->IsEnabled());
        EXPECT_TRUE(dialog->saveButton()->IsEnabled());
        EXPECT_TRUE(dialog->cancelButton()->IsEnabled());
        EXPECT_TRUE(page->mayLeave);
        EXPECT_TRUE(page->isDetecting());
        EXPECT_FALSE(page->getDetectionLogic()->isCaptureRequested());
    }
    EnrollmentPanel* page = nullptr;
};

TEST_F(EnrollmentWait, TheWaitForAFaceCanBeCancelledAndEndsByItself) {
    enroll();
    ASSERT_TRUE(page->isWaitingForCapture());
    EXPECT_EQ(page->enrollButton->GetLabel(), "Cancel");
    EXPECT_TRUE(page->enrollButton->IsEnabled());
    EXPECT_FALSE(dialog->saveButton()->IsEnabled());
    guitest::screenshot(dialog, "settings_enrollment_waiting");
    enroll();  // now the Cancel button
    expectGivenBack();
    EXPECT_EQ(page->title->GetLabel(), "The enrollment was cancelled");
    EXPECT_EQ(page->enrollButton->GetLabel(), "Enroll model");
    EXPECT_TRUE(app().lines.has("The enrollment was cancelled by the user"));
    EXPECT_EQ(app().logons, 1) << "cancelling asks for no password";

    page->captureTimeoutMs = 300;
    enroll();
    ASSERT_TRUE(page->isWaitingForCapture());
    for (int i = 0; i < 100 && page->isWaitingForCapture(); ++i) guitest::pump(50);
    expectGivenBack();
    EXPECT_EQ(page->title->GetLabel(), "No face was found in front of the camera, the enrollment was cancelled");
    EXPECT_TRUE(app().lines.has("WARNING: No face was captured in time, the enrollment is cancelled"));
    guitest::screenshot(dialog, "settings_enrollment_no_face");
}

TEST_F(EnrollmentWait, ACaptureThatCouldNotBeWrittenGivesThePageBack) {
    enroll();
    ASSERT_TRUE(page->isWaitingForCapture());
    EXPECT_TRUE(page->MSWWindowProc(WM_FACE_CAPTURED, CAPTURE_FAILED, 0));
    expectGivenBack();
    EXPECT_EQ(page->title->GetLabel(), "The captured face could not be saved, the enrollment was cancelled");
    EXPECT_TRUE(app().lines.has("ERROR: The captured face could not be written in the working folder"));
    EXPECT_FALSE(app().lines.has("Event: A face was detected, will use it to enroll the user model"));
}

TEST_F(EnrollmentWait, AFailedEnrollmentSaysSoAndKeepsTheOldModel) {
    const std::string model = app().userModelPath();
    ::mkdir((app().userFolderPath()).c_str(), 0700);
    ::mkdir((app().userFolderPath() + "/models").c_str(), 0700);
    std::ofstream(model) << "the old model";
    app().config.worldModel = "models/no-such-world.model";  // the thread cannot build on it
    enroll();
    ASSERT_TRUE(page->isWaitingForCapture());
    // The capture of a face that was not there: the files are made here.
    std::ofstream("lastface.raw.pgm", std::ios::binary) << "P5\n160 120\n255\n" << std::string(160 * 120, 'x');
    std::ofstream("lastface.info.txt") << "BBX_X 40\nBBX_Y 20\nBBX_W 80\nBBX_H 100\nEYE_CENTER_L_X 60\n"
                                          "EYE_CENTER_L_Y 50\nEYE_CENTER_R_X 93\nEYE_CENTER_R_Y 50\nSCORE 0.8\n"
                                          "VIEW 0\nINPLANE F\nOUTPLANE F\n";
    EXPECT_TRUE(page->MSWWindowProc(WM_FACE_CAPTURED, CAPTURE_WRITTEN, 0));
    EXPECT_FALSE(page->enrollButton->IsEnabled()) << "building cannot be cancelled";
    for (int i = 0; i < 200 && !app().lines.has("Event: Enrollment done"); ++i) guitest::pump(50);
    ASSERT_TRUE(app().lines.has("Event: Enrollment done"));
    EXPECT_TRUE(app().lines.has("ERROR: The enrollment failed, the previous model is kept"));
    EXPECT_EQ(page->title->GetLabel(), "The model could not be built, any previous model is kept");
    EXPECT_NE(page->title->GetLabel(), "Your model is ready");
    EXPECT_EQ(readFile(model), "the old model");
    // That old model cannot be read: what the page offers is a new one.
    EXPECT_EQ(page->enrollButton->GetLabel(), "Enroll model");
    expectGivenBack();
    guitest::screenshot(dialog, "settings_enrollment_failed");
    app().config.worldModel = Configuration().worldModel;
    std::remove(model.c_str());
}

}  // namespace
