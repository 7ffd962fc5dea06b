// The settings dialog with its three pages, on real widgets: the parameters page against the
// configuration, Apply, page rules, the help page's layout, the live enrollment page.
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>
#include <wx/listbook.h>

#include "app/core/SessionGuardCore.h"
#include "app/gui/CustomControls.h"
#include "app/gui/EnrollmentPanel.h"
#include "app/gui/HelpPanel.h"
#include "app/gui/ParametersPanel.h"
#include "app/gui/SettingsDialog.h"
#include "gui_harness.h"
#include "test_app.h"

namespace {

class SettingsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        app().reset();
        app().config.idleDelay = 600000;
        app().config.verificationIdleDelay = 300000;
        app().config.cameraName = guitest::replayCameraName();
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
        dialog = new SettingsDialog(nullptr, page);
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
    std::string configText() {
        std::ifstream in(app().configFilePath());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
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
    for (int i = 0; i < 600 && !app().lines.has("Event: Enrollment done"); ++i) guitest::pump(50);
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

}  // namespace
