// One unlock screen's decisions without a window: what ends the lock (a face while the screen
// watches, the password, an empty field for an account without one), what does not, and what the
// screen says when the face cannot open it.
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "app/capture/Notifications.h"
#include "app/core/ProductConstants.h"
#include "app/core/UnlockAttempt.h"
#include "tests/app/core/app_core_fixtures.h"
#include "tests/common/password_cases.h"
#include "uniform_cascade.h"

namespace {

class FakeScreen : public UnlockScreen {
public:
    std::vector<std::string> messages;
    std::vector<int> modes;
    int invalidShown = 0, cleared = 0, detection = INT_MIN, verification = INT_MIN;
    int timer = -1;  // the armed delay, -1 when stopped
    bool repeating = false;
    bool logonResult = false;
    DWORD logonError = 1326;
    std::vector<std::string> typed;
    std::vector<int> statuses;

    HWND messageWindow() override { return nullptr; }
    HWND videoWindowHandle() override { return nullptr; }
    void onVerificationStarted() override {}
    void showMessageText(const std::string& text) override { messages.push_back(text); }
    void clearPassword() override { ++cleared; }
    void setMode(int mode) override { modes.push_back(mode); }
    void showDetectionConfidence(int value) override { detection = value; }
    void showVerificationResult(int value) override { verification = value; }
    void refreshGauges() override {}
    void showInvalidPassword(const std::string& text, const std::string&) override {
        ++invalidShown;
        refusal = text;
    }
    std::string refusal;
    void armIdleTimer(unsigned delay, bool repeat) override {
        timer = static_cast<int>(delay);
        repeating = repeat;
    }
    void disarmIdleTimer() override { timer = -1; }
    void restoreScreenSaver() override {}
    void disableScreenSaver() override {}
    bool readIdleClock(DWORD&, DWORD&) override { return false; }
    bool logonUser(const std::string&, const std::string&, const std::string& password, DWORD& error) override {
        typed.push_back(password);
        error = logonError;
        return logonResult;
    }
    void unlocked(int status) override { statuses.push_back(status); }
};

class UnlockAttemptTest : public AppCoreTest {
protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        core.config.verificationIdleDelay = 300000;
        attempt = std::make_unique<UnlockAttempt>(core, screen);
    }
    FakeScreen screen;
    std::unique_ptr<UnlockAttempt> attempt;
};

TEST_F(UnlockAttemptTest, PasswordVerdicts) {
    for (const PasswordCase& c : kPasswordCases) {
        FakeScreen fresh;
        fresh.logonResult = c.logon;
        fresh.logonError = c.error;
        logger.clear();
        UnlockAttempt a(core, fresh);
        a.onKey(true, c.typed);
        EXPECT_TRUE(logger.has(c.line)) << c.typed;
        EXPECT_EQ(fresh.typed, std::vector<std::string>{c.typed});
        EXPECT_EQ(a.isUnlocked(), c.unlocks) << c.typed;
        EXPECT_EQ(fresh.statuses, c.unlocks ? std::vector<int>{kUnlockedByPassword} : std::vector<int>{}) << c.typed;
        EXPECT_EQ(fresh.invalidShown, c.unlocks ? 0 : 1) << c.typed;
        EXPECT_EQ(fresh.refusal.rfind(c.refusal, 0), 0u) << fresh.refusal;
        EXPECT_EQ(fresh.cleared, c.unlocks ? 0 : 1) << c.typed;
    }
    // Other keys check nothing.
    attempt->onKey(false, "");
    EXPECT_TRUE(screen.typed.empty());
    EXPECT_FALSE(attempt->isUnlocked());
}

TEST_F(UnlockAttemptTest, AFaceOpensOnlyWhileTheScreenWatchesForIt) {
    // Before the verifier is ready, verdicts are not taken.
    EXPECT_FALSE(attempt->onMessage(WM_FACE_AUTHENTICATED, 700));
    EXPECT_TRUE(screen.statuses.empty());
    EXPECT_TRUE(attempt->onMessage(WM_VERIFICATION_READY, 0));
    EXPECT_EQ(attempt->getMode(), UnlockAttempt::MODE_DETECTION);
    EXPECT_EQ(screen.timer, 300000);
    EXPECT_FALSE(screen.repeating);
    // A rejection and a detection score only show.
    EXPECT_TRUE(attempt->onMessage(WM_FACE_NOT_AUTHENTICATED, scoreParam(-1.5f)));
    EXPECT_EQ(screen.verification, -1500);
    EXPECT_TRUE(attempt->onMessage(WM_FACE_DETECTION, NO_FACE_SCORE));
    EXPECT_EQ(screen.detection, INT_MIN);
    EXPECT_TRUE(screen.statuses.empty());

    // While a password is typed an accepted face does not end the lock.
    attempt->setModeForTest(UnlockAttempt::MODE_KEYBOARD);
    EXPECT_TRUE(attempt->onMessage(WM_FACE_AUTHENTICATED, 700));
    EXPECT_FALSE(attempt->isUnlocked());

    attempt->setModeForTest(UnlockAttempt::MODE_DETECTION);
    EXPECT_TRUE(attempt->onMessage(WM_FACE_AUTHENTICATED, 700));
    EXPECT_TRUE(logger.has("Face authentified, confidence: 0.700000"));
    EXPECT_TRUE(attempt->isUnlocked());
    EXPECT_EQ(screen.statuses, std::vector<int>{kUnlockedByFace});
}

TEST_F(UnlockAttemptTest, WithoutAUsableCameraThePasswordAloneOpens) {
    EXPECT_EQ(attempt->startVerification(), UnlockAttempt::Start::NoCamera);
    EXPECT_EQ(screen.messages.back(), "You didn't selected a webcam, or\nnone was found!");

    // The installation's models are there; only the user's is missing.
    fixtures::writeUniformCascade(root + "/all.cascade", true);
    core.config.detectorModel = root + "/all.cascade";
    writeMixture(root + "/world.model");
    core.config.worldModel = root + "/world.model";
    core.config.cameraName = "Unplugged Camera";
    EXPECT_EQ(attempt->startVerification(), UnlockAttempt::Start::NoModel);
    EXPECT_EQ(screen.messages.back(), "Your face model isn't created yet!\n\nUse your password to log in.");

    // A camera the system does not have: the screen says that the face cannot open the lock, and why.
    ASSERT_TRUE(core.createUserInfo("None", "None", 2000, true));
    const std::string model = core.userModelPath();
    ASSERT_EQ(system(("mkdir -p '" + model.substr(0, model.rfind('/')) + "'").c_str()), 0);
    writeMixture(model);
    EXPECT_EQ(attempt->startVerification(), UnlockAttempt::Start::GraphFailed);
    EXPECT_EQ(attempt->getGraphManager(), nullptr);
    const std::string& said = screen.messages.back();
    EXPECT_EQ(said.rfind("Your face cannot open the lock now.\n\nFailed to start the face detection using the camera "
                         "'Unplugged Camera'!",
                         0),
              0u)
        << said;
    EXPECT_TRUE(logger.has("The face cannot open the lock now, password only"));

    // The password still opens it.
    screen.logonResult = true;
    attempt->onKey(true, "right");
    EXPECT_EQ(screen.statuses, std::vector<int>{kUnlockedByPassword});
}

TEST_F(UnlockAttemptTest, AVerifierThatNeverGetsReadyIsGivenUpWithTheReason) {
    // The first start's time limit: no frame scored means the camera, a scored frame the model.
    for (bool frames : {false, true}) {
        FakeScreen fresh;
        UnlockAttempt a(core, fresh);
        if (frames) {
            EXPECT_FALSE(a.onMessage(WM_FACE_DETECTION, scoreParam(0.1f)));
        }
        a.onIdleTimer();
        ASSERT_EQ(fresh.messages.size(), 1u) << frames;
        EXPECT_EQ(fresh.messages[0], std::string("Your face cannot open the lock now.\n\n") +
                                         (frames ? "Your face model cannot be used to check your face."
                                                 : "Your camera sends no picture.") +
                                         "\n\nUse your password to log in.");
        EXPECT_FALSE(a.isUnlocked());
        fresh.logonResult = true;
        a.onKey(true, "right");
        EXPECT_EQ(fresh.statuses, std::vector<int>{kUnlockedByPassword}) << frames;
    }
    EXPECT_TRUE(logger.has("ERROR: The verification gave no result in time"));
}

}  // namespace
