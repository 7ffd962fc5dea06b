// The unlock screen on real widgets: its layout, the modes and their idle timer, the filter
// notifications, and the password check on Enter.
#include <climits>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "app/capture/Notifications.h"
#include "app/gui/CustomControls.h"
#include "app/gui/TarveloUnlockDialog.h"
#include "app/gui/WindowBridge.h"
#include "gui_harness.h"
#include "test_app.h"
#include "tests/common/password_cases.h"
#include "read_file.h"

using testutil::readFile;

namespace {

class ScriptedUnlockDialog : public TarveloUnlockDialog {
public:
    ScriptedUnlockDialog() : TarveloUnlockDialog(testApp(), nullptr) {}
    int invalidShown = 0;
    wxString refusal, refusalCaption;
    DWORD now = 0, lastInput = 0;
    void setModeForTest(int m) { attempt.setModeForTest(m); }
    void key(int code) {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = code;
        onKeyDown(event);
    }
    void tick() {
        wxTimer timer;
        wxTimerEvent event(timer);
        onIdleTimer(event);
    }

protected:
    void showInvalidPassword(const std::string& text, const std::string& caption) override {
        ++invalidShown;
        refusal = wxString::FromUTF8(text);
        refusalCaption = wxString::FromUTF8(caption);
    }
    bool readIdleClock(DWORD& n, DWORD& last) override {
        n = now;
        last = lastInput;
        return true;
    }
};

class UnlockDialogTest : public testing::Test {
protected:
    void SetUp() override {
        app().reset();
        app().config.cameraName.clear();  // no graph: the message and the password only
        app().config.verificationIdleDelay = 300000;
        dialog = new ScriptedUnlockDialog();
        dialog->Show();
        guitest::pump(100);
    }
    void TearDown() override {
        if (!closed()) {
            dialog->Hide();
            delete dialog;
        }
        guitest::pump(50);
        app().reset();
    }
    bool closed() { return app().lines.has("Closing the Unlock dialog..."); }
    TestApp& app() { return testApp(); }
    ScriptedUnlockDialog* dialog = nullptr;
};

TEST_F(UnlockDialogTest, LayoutWithoutCameraShowsTheMessageAndKeepsThePassword) {
    EXPECT_TRUE(app().lines.has("Disabling Task switching..."));
    EXPECT_TRUE(app().lines.has("No webcam selected or found"));
    EXPECT_FALSE(dialog->videoWindow->IsShown());
    EXPECT_FALSE(dialog->detectionGauge->IsShown());
    EXPECT_TRUE(dialog->passwordField->IsShown());
    const wxSize panel = dialog->backgroundPanel->GetSize();
    EXPECT_EQ(panel, wxSize(514, 470));
    // The panel in the middle of the screen; the message centred on the panel.
    const wxRect screen = dialog->backgroundPanel->GetScreenRect();
    int sw = 0, sh = 0;
    wxDisplaySize(&sw, &sh);
    EXPECT_NEAR(screen.x, (sw - 514) / 2, 1);
    EXPECT_NEAR(screen.y, (sh - 470) / 2, 1);
    const auto& message = dialog->backgroundPanel->getLabels().at(1);
    EXPECT_EQ(message.x, (514 - message.width) / 2);
    EXPECT_EQ(message.text, "You didn't selected a webcam, or\nnone was found!");
    // The field ends at the right edge of the verification gauge: 80 + label + (W + 33 - label).
    EXPECT_EQ(dialog->passwordField->GetRect().GetRight() + 1, 80 + 320 + 33);
    guitest::screenshot(dialog, "unlock_no_camera");
    // Shown, the screen keeps the keyboard and the pointer for itself.
    EXPECT_TRUE(dialog->hasKeyboard());
    EXPECT_TRUE(dialog->hasPointer());
}

TEST(UnlockScreenTest, LiveVideoInThePanel) {
    if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
    TestApp& app = testApp();
    app.reset();
    app.config.cameraName = guitest::replayCameraName();
    // The world model itself as the user's: it reads, and scores every face 0, below the acceptance.
    ASSERT_TRUE(app.createUserInfo("None", "None", 2000, true));
    const std::string model = app.userModelPath();
    (void)std::system(("mkdir -p '" + model.substr(0, model.rfind('/')) + "' && cp '" + app.config.worldModel +
                       "' '" + model + "'")
                          .c_str());
    ScriptedUnlockDialog* dialog = new ScriptedUnlockDialog();
    dialog->Show();
    for (int i = 0; i < 100 && dialog->videoWindow->framesShown() < 5; ++i) guitest::pump(50);
    EXPECT_GE(dialog->videoWindow->framesShown(), 5u);
    EXPECT_TRUE(dialog->videoWindow->IsShown());
    for (int i = 0; i < 100 && dialog->getMode() == UnlockDialog::MODE_STARTING; ++i) guitest::pump(50);
    EXPECT_EQ(dialog->getMode(), UnlockDialog::MODE_DETECTION);
    guitest::screenshot(dialog, "unlock_screen_live");
    // A close that is not an unlock is refused, forced or not.
    dialog->Close(false);
    dialog->Close(true);
    guitest::pump(100);
    EXPECT_TRUE(app.lines.has("WARNING: Close request refused, the session stays locked"));
    EXPECT_FALSE(app.lines.has("Closing the Unlock dialog..."));
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_EQ(app.unlockStatus, kStillLocked);
    dialog->Hide();
    delete dialog;
    std::remove(model.c_str());
    app.config.cameraName.clear();
    app.reset();
}

TEST_F(UnlockDialogTest, WithoutAModelThePasswordAloneGuards) {
    // The fixture's dialog runs without a camera; with a camera but no model the screen says so.
    dialog->Hide();
    delete dialog;
    app().config.cameraName = "Some Camera";
    app().lines.clear();
    dialog = new ScriptedUnlockDialog();
    dialog->Show();
    guitest::pump(50);
    EXPECT_TRUE(app().lines.has("No user model found"));
    EXPECT_EQ(dialog->backgroundPanel->getLabels().at(1).text,
              "Your face model isn't created yet!\n\nUse your password to log in.");
    EXPECT_EQ(dialog->getGraphManager(), nullptr);
    EXPECT_TRUE(dialog->passwordField->IsShown());
    app().config.cameraName.clear();
}

// A model file that is missing or cannot be read: no graph, the screen says the face cannot open
// this lock and why, and the password stays.
TEST_F(UnlockDialogTest, AFaceThatCannotBeCheckedIsSaidSoAndThePasswordStays) {
    dialog->Hide();
    delete dialog;
    dialog = nullptr;
    TestApp& a = app();
    a.config.cameraName = "Some Camera";
    ASSERT_TRUE(a.createUserInfo("None", "None", 2000, true));
    const std::string model = a.userModelPath();
    const std::string world = a.config.worldModel, cascade = a.config.detectorModel;
    (void)std::system(("mkdir -p '" + model.substr(0, model.rfind('/')) + "'").c_str());
    const std::string worldBytes = readFile(world);
    ASSERT_GT(worldBytes.size(), 1000u) << world;
    const std::string notAModel = a.dataDir + "/not-a-model";
    std::ofstream(notAModel) << "text";
    struct Case {
        const char* what;
        std::string world, cascade, userModel, line;
        const char* text;
    };
    const Case cases[] = {
        {"world model missing", "models/gone.model", cascade, worldBytes,
         "ERROR: The world model 'models/gone.model' is missing, faces are not checked",
         "Your face cannot open this lock: the file 'models/gone.model' that face checks need is missing."},
        {"world model unreadable", notAModel, cascade, worldBytes,
         "ERROR: The world model '" + std::string(notAModel) + "' cannot be read, faces are not checked",
         "that face checks need cannot be read."},
        {"cascade missing", world, "models/gone.cascade", worldBytes,
         "ERROR: The face detector model 'models/gone.cascade' is missing, faces are not checked",
         "the file 'models/gone.cascade' that face checks need is missing."},
        {"user model truncated", world, cascade, worldBytes.substr(0, worldBytes.size() / 2),
         "ERROR: The user model '" + model + "' cannot be read, faces are not checked",
         "Your face cannot open this lock: your face model cannot be read."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        a.config.worldModel = c.world;
        a.config.detectorModel = c.cascade;
        std::ofstream(model, std::ios::binary | std::ios::trunc) << c.userModel;
        a.lines.clear();
        dialog = new ScriptedUnlockDialog();
        dialog->Show();
        guitest::pump(50);
        EXPECT_TRUE(a.lines.has(c.line));
        wxString shown = dialog->backgroundPanel->getLabels().at(1).text;
        shown.Replace("\n", " ");
        EXPECT_NE(shown.find(c.text), wxString::npos) << shown;
        EXPECT_EQ(dialog->getGraphManager(), nullptr);
        EXPECT_TRUE(dialog->passwordField->IsShown());
        if (std::string(c.what) == "user model truncated") guitest::screenshot(dialog, "unlock_unreadable_model");
        if (std::string(c.what) == "world model missing") guitest::screenshot(dialog, "unlock_world_model_missing");
        dialog->Hide();
        delete dialog;
        dialog = nullptr;
        EXPECT_EQ(readFile(model), c.userModel) << "nothing is deleted or written";
    }
    a.config.worldModel = world;
    a.config.detectorModel = cascade;
    a.config.cameraName.clear();
    std::remove(model.c_str());
    dialog = new ScriptedUnlockDialog();
}

TEST_F(UnlockDialogTest, WideMessagesAreBrokenIntoLinesThatFitThePanel) {
    const wxString failure =
        "Failed to start the face detection using the camera 'USB Video Device'!\n\nCheck that your camera isn't "
        "already used by another program.\n\nIf it's not the case, please exit the application and send the file "
        "'Tarvelo_unlock.log' to us. (Note: this file is located in '/home/someone/tarvelo/build/bin')";
    for (const wxString& text : {failure, wxString('W', 200)}) {
        dialog->showMessage(text);
        const auto& message = dialog->backgroundPanel->getLabels().at(1);
        EXPECT_GE(message.x, 0);
        EXPECT_LE(message.x + message.width, 514);
        wxString words = message.text;
        words.Replace("\n", "");
        wxString expected = text;
        expected.Replace("\n", "");
        expected.Replace(" ", "");
        words.Replace(" ", "");
        EXPECT_EQ(words, expected) << "nothing is lost";
    }
    dialog->showMessage(failure);
    guitest::screenshot(dialog, "unlock_camera_failure_message");
}

TEST_F(UnlockDialogTest, GaugeColoursAtTheThresholds) {
    Configuration& c = app().config;
    dialog->showDetectionConfidence(gaugeThousandths(c.badDetectionConfidence));
    EXPECT_EQ(dialog->detectionGauge->GetForegroundColour(), wxTheColourDatabase->Find("YELLOW"));
    dialog->showDetectionConfidence(gaugeThousandths(c.goodDetectionConfidence));
    EXPECT_EQ(dialog->detectionGauge->GetForegroundColour(), *wxGREEN);
    dialog->showDetectionConfidence(INT_MIN);
    EXPECT_EQ(dialog->detectionGauge->GetForegroundColour(), *wxRED);
    EXPECT_EQ(dialog->detectionGauge->getValue(), 0);
    dialog->showVerificationResult(gaugeThousandths(c.goodVerificationConfidence));
    EXPECT_EQ(dialog->verificationGauge->GetForegroundColour(), *wxGREEN);
}

TEST_F(UnlockDialogTest, NotificationsWaitForTheReadyMessageAndAFaceClosesOnlyInDetection) {
    EXPECT_FALSE(dialog->MSWWindowProc(WM_FACE_DETECTION, 150, 0));  // mode 0 ignores scores
    EXPECT_TRUE(dialog->MSWWindowProc(WM_VERIFICATION_READY, 0, 0));
    EXPECT_EQ(dialog->getMode(), UnlockDialog::MODE_DETECTION);
    ASSERT_TRUE(dialog->getIdleTimer());
    EXPECT_TRUE(dialog->getIdleTimer()->IsOneShot());
    EXPECT_EQ(dialog->getIdleTimer()->GetInterval(), 300000);
    EXPECT_TRUE(dialog->MSWWindowProc(WM_FACE_DETECTION, 150, 0));
    EXPECT_EQ(dialog->detectionGauge->getValue(), 150);

    dialog->setModeForTest(UnlockDialog::MODE_KEYBOARD);
    EXPECT_TRUE(dialog->MSWWindowProc(WM_FACE_AUTHENTICATED, 700, 0));
    EXPECT_FALSE(closed());
    EXPECT_EQ(dialog->verificationGauge->getValue(), 700);

    dialog->setModeForTest(UnlockDialog::MODE_DETECTION);
    EXPECT_TRUE(dialog->MSWWindowProc(WM_FACE_AUTHENTICATED, 700, 0));
    EXPECT_TRUE(app().lines.has("Face authentified, confidence: 0.700000"));
    EXPECT_TRUE(closed());
    EXPECT_EQ(app().unlockStatus, kUnlockedByFace);
    EXPECT_TRUE(app().lines.has("Enabling the Task Manager..."));
}

TEST_F(UnlockDialogTest, PostedMessagesReachTheDialog) {
    PostMessageA(windowHandle(dialog), WM_VERIFICATION_READY, 0, 0);
    guitest::pump(100);
    EXPECT_EQ(dialog->getMode(), UnlockDialog::MODE_DETECTION);
}

TEST_F(UnlockDialogTest, IdleTimerRearmsForTheRestThenRestsTheCameraAndWakesOnInput) {
    dialog->MSWWindowProc(WM_VERIFICATION_READY, 0, 0);
    dialog->now = 1000000;
    dialog->lastInput = dialog->now - 120000;
    dialog->tick();
    EXPECT_EQ(dialog->getIdleTimer()->GetInterval(), 180000);
    dialog->lastInput = dialog->now - 300000;
    dialog->tick();
    EXPECT_EQ(dialog->getMode(), UnlockDialog::MODE_SCREENSAVER);
    EXPECT_FALSE(dialog->getIdleTimer()->IsOneShot());
    EXPECT_EQ(dialog->getIdleTimer()->GetInterval(), 1000);
    EXPECT_TRUE(dialog->idleWindow->IsShown());
    guitest::screenshot(dialog, "unlock_screensaver_mode");
    dialog->lastInput = dialog->now - 500;
    dialog->tick();
    EXPECT_EQ(dialog->getMode(), UnlockDialog::MODE_DETECTION);
    EXPECT_TRUE(app().lines.has("Entering detection mode..."));
    EXPECT_EQ(dialog->getIdleTimer()->GetInterval(), 300000);
}

TEST_F(UnlockDialogTest, PasswordOutcomes) {
    for (const PasswordCase& c : kPasswordCases) {
        TearDown();
        SetUp();
        app().logonResult = c.logon;
        app().logonError = c.error;
        dialog->passwordField->SetValue(c.typed);
        dialog->key(WXK_NUMPAD_ENTER);
        EXPECT_TRUE(app().lines.has(c.line)) << c.typed;
        EXPECT_EQ(closed(), c.unlocks) << c.typed;
        EXPECT_EQ(app().unlockStatus, c.unlocks ? kUnlockedByPassword : kStillLocked) << c.typed;
        if (!c.unlocks) {
            EXPECT_EQ(dialog->invalidShown, 1);
            EXPECT_TRUE(dialog->refusal.StartsWith(c.refusal)) << dialog->refusal;
            EXPECT_EQ(dialog->passwordField->GetValue(), "");
            // Without a graph the dialog stays in the keyboard mode.
            EXPECT_EQ(dialog->getMode(), UnlockDialog::MODE_STARTING);
        }
    }
}

}  // namespace
