// The account name, the user data folder, the identity record with its twin, the user model path
// and the readiness tests.
#include <gtest/gtest.h>

#include <string>

#include "app/core/SessionGuardCore.h"
#include "tests/app/core/app_core_fixtures.h"
#include "verification/UserInfo.h"

namespace {

class NamedCore : public TestCore {
public:
    std::string account = "CORP\\John Smith";
    bool readable = true;
    bool readAccountName(std::string& name) override {
        if (readable) name = account;
        return readable;
    }
};

class UserFiles : public AppCoreTest {
protected:
    NamedCore named;
    void SetUp() override {
        AppCoreTest::SetUp();
        named.dataDir = core.dataDir;
    }
};

TEST_F(UserFiles, AccountNameIsSplitAtTheFirstBackSlash) {
    struct Case {
        const char* account;
        const char* domain;
        const char* user;
        const char* folder;
    };
    const Case cases[] = {
        {"CORP\\John Smith", "CORP", "John Smith", "John_Smith"},
        {"alice", "kept", "alice", "alice"},
        {"A\\B\\C", "A", "B\\C", "B\\C"},
        {"HOST\\ two  blanks ", "HOST", " two  blanks ", "_two__blanks_"},
    };
    for (const Case& k : cases) {
        named.account = k.account;
        std::string domain = "kept", user = "kept";
        named.currentWindowsUser(domain, user);
        EXPECT_EQ(domain, k.domain) << k.account;
        EXPECT_EQ(user, k.user) << k.account;
        EXPECT_EQ(named.userFolderName(), k.folder) << k.account;
    }
    named.readable = false;
    std::string domain = "d", user = "u";
    named.currentWindowsUser(domain, user);
    EXPECT_EQ(domain + user, "du") << "an unreadable name changes nothing";
    EXPECT_EQ(named.userFolderName(), "");

    // The real account, through the platform.
    std::string realDomain, realUser;
    core.currentWindowsUser(realDomain, realUser);
    EXPECT_FALSE(realUser.empty());
}

TEST_F(UserFiles, IdentityRecordIsCreatedOnceWithItsTwin) {
    EXPECT_FALSE(exists(named.dataDir));
    EXPECT_EQ(named.configFilePath(), named.dataDir + "/Tarvelo.cfg");
    EXPECT_EQ(modeOf(named.dataDir), 0700u) << "the user data folder is made private";
    EXPECT_EQ(named.userInfoFilePath(""), named.dataDir + "/John_Smith.userinfo.txt");
    EXPECT_EQ(named.userInfoFilePath("access-"), named.dataDir + "/access-John_Smith.userinfo.txt");
    EXPECT_EQ(named.loadUserInfo(""), nullptr);
    EXPECT_EQ(named.userModelPath(), "") << "no record, no model path";
    EXPECT_FALSE(named.userModelExists());

    ASSERT_TRUE(named.createUserInfo("None", "None", 2000, true));
    EXPECT_EQ(named.config.nextUserId, 5001);
    EXPECT_EQ(modeOf(named.userInfoFilePath("")), 0600u);
    EXPECT_EQ(modeOf(named.userInfoFilePath("access-")), 0600u);
    vision::UserInfo* record = named.loadUserInfo("");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->userId, 5000);
    EXPECT_STREQ(record->userName, "John_Smith");
    EXPECT_STREQ(record->firstName, "None");
    EXPECT_EQ(record->birthYear, 2000);
    EXPECT_EQ(record->gender, 'M');
    delete record;
    vision::UserInfo* twin = named.loadUserInfo("access-");
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(twin->userId, 5000);
    EXPECT_STREQ(twin->userName, "access-John_Smith");
    delete twin;
    EXPECT_EQ(named.userFolderPath(), named.dataDir + "/John_Smith_5000");
    EXPECT_EQ(named.userModelPath(), named.dataDir + "/John_Smith_5000/models/John_Smith.face.model");

    ASSERT_TRUE(named.createUserInfo("Ann", "Other", 1990, false));
    EXPECT_EQ(named.config.nextUserId, 5001) << "a second creation keeps id and name";
    record = named.loadUserInfo("");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->userId, 5000);
    EXPECT_STREQ(record->firstName, "Ann");
    EXPECT_EQ(record->gender, 'F');
    delete record;
}

TEST_F(UserFiles, RecordsThatCannotNameAFolderAreRefused) {
    named.userFolderName();  // creates the folder
    for (const char* bad : {"../elsewhere", ".."}) {
        writeText(named.userInfoFilePath(""), std::string("USERID 5000\nMAXSTRINGSIZE 20\nUSERNAME ") + bad +
                                                  "\nFIRSTNAME None\nLASTNAME None\nBIRTHYEAR 2000\nGENDER M\n");
        EXPECT_EQ(named.loadUserInfo(""), nullptr) << bad;
        EXPECT_EQ(named.userModelPath(), "") << bad;
    }
    writeText(named.userInfoFilePath(""), "garbage\n");
    EXPECT_EQ(named.loadUserInfo(""), nullptr);
}

TEST_F(UserFiles, UserNamesAreBoundedWhereTheyBecomeFileNames) {
    // A 240-character name was accepted, and its user could never enroll: its files could not be named.
    named.logger = &logger;
    named.account = "HOST\\" + std::string(vision::MAX_USER_NAME_LENGTH, 'a');
    ASSERT_TRUE(named.createUserInfo("None", "None", 2000, true));
    vision::UserInfo* record = named.loadUserInfo("");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::string(record->userName).size(), (size_t)vision::MAX_USER_NAME_LENGTH);
    delete record;
    record = named.loadUserInfo("access-");
    ASSERT_NE(record, nullptr) << "the twin's name is the account's after its prefix";
    delete record;

    const std::string over(vision::MAX_USER_NAME_LENGTH + 1, 'b');
    named.account = "HOST\\" + over;
    EXPECT_FALSE(named.createUserInfo("None", "None", 2000, true));
    EXPECT_TRUE(logger.has("ERROR: The user name " + over + " is longer than 128 characters, no identity record is created"));
    EXPECT_FALSE(exists(named.userInfoFilePath("")));
    EXPECT_EQ(named.config.nextUserId, 5001) << "no id is spent on it";
    // A record that names such a user, written before, is no record.
    writeText(named.userInfoFilePath(""), "USERID 5001\nMAXSTRINGSIZE 200\nUSERNAME " + over +
                                              "\nFIRSTNAME None\nLASTNAME None\nBIRTHYEAR 2000\nGENDER M\n");
    EXPECT_EQ(named.loadUserInfo(""), nullptr);
}

TEST_F(UserFiles, AnUnreadableAccountNameWritesNoRecord) {
    named.readable = false;
    named.logger = &logger;
    EXPECT_FALSE(named.createUserInfo("None", "None", 2000, true));
    EXPECT_EQ(named.config.nextUserId, 5000);
    EXPECT_FALSE(exists(named.userInfoFilePath("")));
    EXPECT_FALSE(exists(named.userInfoFilePath("access-")));
    EXPECT_TRUE(logger.has("ERROR: The name of the user account cannot be read, no identity record is created"));
    // Nor does a record with an empty name, written before, name a folder.
    writeText(named.userInfoFilePath(""),
              "USERID 5000\nMAXSTRINGSIZE 20\nUSERNAME \nFIRSTNAME None\nLASTNAME None\nBIRTHYEAR 2000\nGENDER M\n");
    EXPECT_EQ(named.loadUserInfo(""), nullptr);
}

TEST_F(UserFiles, ModelExistsOnlyAsAFileAndNotDuringAnAdaptation) {
    ASSERT_TRUE(named.createUserInfo("None", "None", 2000, true));
    std::string model = named.userModelPath();
    std::string models = model.substr(0, model.rfind('/'));
    ASSERT_EQ(system(("mkdir -p '" + model + "'").c_str()), 0);
    EXPECT_FALSE(named.userModelExists()) << "a folder of that name does not count";
    ASSERT_EQ(system(("rmdir '" + model + "'").c_str()), 0);
    writeText(model, "model");
    EXPECT_TRUE(named.userModelExists());
    named.adaptationRunning = true;
    EXPECT_FALSE(named.userModelExists());
    EXPECT_FALSE(named.isReadyToAuthenticate());
    named.adaptationRunning = false;
    EXPECT_FALSE(named.isReadyToAuthenticate()) << "no camera is chosen";
}

TEST_F(UserFiles, CameraMustMatchItsFriendlyNameExactly) {
    std::string frames = root + "/frames";
    ::mkdir(frames.c_str(), 0700);
    writeGrayFrame(frames + "/frame0000.pgm", 32, 24, 100);
    writeText(root + "/cameras.txt", "Office Cam | " + frames + "\n");
    setenv("TARVELO_V4L2_DEVICES", "", 1);
    setenv("TARVELO_REPLAY_CAMERAS", (root + "/cameras.txt").c_str(), 1);
    core.config.cameraName = "";
    EXPECT_FALSE(core.isCameraAvailable());
    core.config.cameraName = "office cam";
    EXPECT_FALSE(core.isCameraAvailable());
    core.config.cameraName = "Office Cam";
    EXPECT_TRUE(core.isCameraAvailable());
    EXPECT_TRUE(logger.lines.empty()) << "the camera probe logs nothing";
    unsetenv("TARVELO_REPLAY_CAMERAS");
    unsetenv("TARVELO_V4L2_DEVICES");
}

}  // namespace
