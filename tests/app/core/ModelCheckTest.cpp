// Whether a face check can run and why not, the texts the windows show for it, and what a typed
// password's answer means to the user.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "app/core/LogonVerdict.h"
#include "app/core/ModelCheck.h"
#include "platform/kernel.h"
#include "tests/app/core/app_core_fixtures.h"
#include "visionlib/DiskXFile.h"

namespace {

class FaceFiles : public AppCoreTest {
protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        ::mkdir("models", 0700);
        ::mkdir("models/multiview", 0700);
        writeText("models/face.cascade", "cascade");
        writeMixture("models/world.model");
        writeMixture("user.model");
        config.detectorType = 1;
        config.detectorModel = "models/face.cascade";
        config.worldModel = "models/world.model";
    }
    Configuration config;
};

TEST_F(FaceFiles, TheFirstFileThatCannotServeIsNamed) {
    ASSERT_EQ(::mkfifo("models/fifo", 0600), 0);
    writeText("models/text.model", "not a mixture");
    std::string cut = readFile("user.model");
    writeText("cut.model", cut.substr(0, cut.size() - 8));
    struct Case {
        const char* what;
        int type;
        std::string detector, world, user;
        FaceCheckState state;
        std::string file;
    };
    const Case cases[] = {
        {"all there", 1, "models/face.cascade", "models/world.model", "user.model", FaceCheckState::Ready, ""},
        {"multi-view folder", 2, "models/multiview", "models/world.model", "user.model", FaceCheckState::Ready, ""},
        {"cascade gone", 1, "models/gone", "models/gone.model", "user.model", FaceCheckState::DetectorModelMissing,
         "models/gone"},
        {"a folder is no cascade", 1, "models/multiview", "models/world.model", "user.model",
         FaceCheckState::DetectorModelUnreadable, "models/multiview"},
        {"a FIFO is not opened", 1, "models/fifo", "models/world.model", "user.model",
         FaceCheckState::DetectorModelUnreadable, "models/fifo"},
        {"a file is no model folder", 2, "models/face.cascade", "models/world.model", "user.model",
         FaceCheckState::DetectorModelUnreadable, "models/face.cascade"},
        {"world gone", 1, "models/face.cascade", "models/gone.model", "", FaceCheckState::WorldModelMissing,
         "models/gone.model"},
        {"world not a mixture", 1, "models/face.cascade", "models/text.model", "user.model",
         FaceCheckState::WorldModelUnreadable, "models/text.model"},
        {"world a FIFO", 1, "models/face.cascade", "models/fifo", "user.model", FaceCheckState::WorldModelUnreadable,
         "models/fifo"},
        {"none enrolled", 1, "models/face.cascade", "models/world.model", "", FaceCheckState::NoUserModel, ""},
        {"user model gone", 1, "models/face.cascade", "models/world.model", "gone.model", FaceCheckState::NoUserModel,
         "gone.model"},
        {"user model truncated", 1, "models/face.cascade", "models/world.model", "cut.model",
         FaceCheckState::UserModelUnreadable, "cut.model"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        config.detectorType = c.type;
        config.detectorModel = c.detector;
        config.worldModel = c.world;
        const FaceCheck check = checkFaceFiles(config, c.user);
        EXPECT_EQ(check.state, c.state);
        EXPECT_EQ(check.file, c.file);
        // Each state the windows show has its words; only a ready check has none.
        const bool said = !unlockScreenText(check).empty();
        EXPECT_EQ(said, !check.ready());
        EXPECT_EQ(!faceCheckLogLine(check).empty(), !check.ready());
        if (!c.file.empty() && c.state != FaceCheckState::NoUserModel &&
            c.state != FaceCheckState::UserModelUnreadable) {
            EXPECT_NE(unlockScreenText(check).find(c.file), std::string::npos) << "the screen names the file";
            EXPECT_NE(enrollmentPageTitle(check).find(c.file), std::string::npos) << "the page names the file";
        }
    }
}

TEST_F(FaceFiles, TheCoreAsksForTheCameraFirstAndTheEnrolledModel) {
    core.config.detectorModel = "models/face.cascade";
    core.config.worldModel = "models/world.model";
    ASSERT_TRUE(core.createUserInfo("None", "None", 2000, true));
    EXPECT_EQ(core.faceCheck().state, FaceCheckState::NoCamera);
    core.config.cameraName = "Cam";
    EXPECT_EQ(core.faceCheck().state, FaceCheckState::NoUserModel);
    (void)std::system(("mkdir -p '" + core.userFolderPath() + "/models'").c_str());
    writeMixture(core.userModelPath());
    EXPECT_TRUE(core.faceCheck().ready());
    core.adaptationRunning = true;  // the model is being rewritten
    EXPECT_EQ(core.faceCheck().state, FaceCheckState::NoUserModel);
    core.adaptationRunning = false;
    writeText(core.userModelPath(), "cut");
    EXPECT_EQ(core.faceCheck().state, FaceCheckState::UserModelUnreadable);
    EXPECT_EQ(core.faceFilesCheck().state, FaceCheckState::UserModelUnreadable);
    EXPECT_NE(enrollmentPageTitle(core.faceCheck()).find("cannot be read"), std::string::npos);
}

TEST_F(FaceFiles, AFileKeptAsideReplacesAnOlderOne) {
    writeText("m", "damaged");
    writeText("m.bad", "older");
    EXPECT_EQ(keepAside("m"), "m.bad");
    EXPECT_FALSE(exists("m"));
    EXPECT_EQ(readFile("m.bad"), "damaged");
    EXPECT_EQ(keepAside("gone"), "");
}

TEST(LogonVerdicts, TheAccountsStateIsSaidAndAWrongPasswordStaysOne) {
    struct Case {
        bool loggedOn;
        DWORD error;
        bool typedEmpty;
        bool opens;
        const char* text;  // the start of the sentence
        const char* caption;
    };
    const Case cases[] = {
        {true, 0, false, true, "", ""},
        {false, ERROR_ACCOUNT_RESTRICTION, true, true, "", ""},  // Enter on the field of an account without password
        {false, ERROR_ACCOUNT_RESTRICTION, false, false, "The password you entered is invalid", "Invalid password"},
        {false, ERROR_LOGON_FAILURE, false, false, "The password you entered is invalid", "Invalid password"},
        {false, ERROR_LOGON_FAILURE, true, false, "The password you entered is invalid", "Invalid password"},
        {false, 0xDEAD, false, false, "The password you entered is invalid", "Invalid password"},
        {false, ERROR_ACCOUNT_LOCKED_OUT, false, false, "Your account is locked", "Account locked"},
        {false, ERROR_ACCOUNT_DISABLED, false, false, "Your account has no password that the system can check",
         "No usable password"},
        {false, ERROR_ACCOUNT_EXPIRED, true, false, "Your account has expired", "Account expired"},
        {false, ERROR_PASSWORD_EXPIRED, false, false, "Your password has expired", "Password expired"},
        {false, ERROR_PASSWORD_MUST_CHANGE, false, false, "Your password must be changed", "Password expired"},
        {false, ERROR_LOGON_NOT_GRANTED, false, false, "The system does not let your account log in",
         "Logon not allowed"},
        {false, ERROR_NO_LOGON_SERVERS, false, false, "Your password cannot be checked", "Password not checked"},
        {false, ERROR_SERVICE_DOES_NOT_EXIST, false, false, "Your password cannot be checked: the PAM service",
         "Password not checked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const LogonVerdict v = judgeLogon(c.loggedOn, c.error, c.typedEmpty);
        EXPECT_EQ(v.opens, c.opens);
        EXPECT_EQ(v.withoutPassword, c.opens && !c.loggedOn);
        EXPECT_EQ(v.text.rfind(c.text, 0), 0u) << v.text;
        EXPECT_EQ(v.caption, c.caption);
        // Only what is not a wrong password gets a line of its own in the log, with its code.
        const bool wrong = v.caption == "Invalid password";
        EXPECT_EQ(v.logLine.empty(), c.opens || wrong) << v.logLine;
        if (!v.logLine.empty()) {
            EXPECT_NE(v.logLine.find(std::to_string(c.error)), std::string::npos);
        }
    }
}

}  // namespace
