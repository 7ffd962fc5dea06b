// Upgrading a user's configuration to the reference copy, the model check and clearing the user model.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/core/Configuration.h"
#include "app/core/ConfigurationUpgrade.h"
#include "tests/app/core/app_core_fixtures.h"

namespace {

class Upgrade : public AppCoreTest {
protected:
    std::string user;  // the per-user folder

    void SetUp() override {
        AppCoreTest::SetUp();
        ::mkdir("models", 0755);
        ::mkdir("models/multiview", 0755);
        writeText("models/mct4.cascade", "cascade");
        writeMixture("models/world.model", 1.0f);
        reference("1.3");
        ASSERT_TRUE(core.createUserInfo("None", "None", 2000, true));
        user = core.userFolderPath();
        for (const char* sub : {"", "/models", "/models/backup", "/data", "/data/backup", "/images", "/images/backup"})
            ASSERT_EQ(::mkdir((user + sub).c_str(), 0700), 0) << sub;
        writeMixture(core.userModelPath(), 1.0f, 0.5f);  // the means adapted, on models/world.model
        writeText(user + "/data/a.cro", "crop");
        writeText(user + "/data/backup/b.cro", "crop");
        writeText(user + "/images/backup/c.raw.pgm", "image");
        writeText(core.configFilePath(), "[Application]\n");
        logger.clear();
    }

    void reference(const std::string& version, const std::string& type = "Frontal",
                   const std::string& model = "models/mct4.cascade") {
        writeText("Tarvelo.cfg.backup", "[Application]\nVersion=" + version +
                                            "\n[Verification]\nWorldModel=models/world.model\n[FaceDetector]\nType=" +
                                            type + "\nModel=" + model + "\n");
    }

    void current(Configuration& c, const std::string& version) {
        c.version = version;
        c.detectorModel = "models/mct4.cascade";
        c.worldModel = "models/world.model";
        c.idleDelay = 42000;
        c.cameraName = "Cam";
    }

    bool userDataCleared() {
        return !exists(user) && !exists(core.configFilePath()) && !exists(core.userInfoFilePath("")) &&
               !exists(core.userInfoFilePath("access-"));
    }
};

TEST_F(Upgrade, OlderVersionsAreUpgradedAndLoseTheUserModel) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.2", "Upgrading from version 1.2 to 1.3..."},
        {"0.0", "Upgrading from version 0.0 to 1.3..."},
        {"1.1", "Upgrading from unknown version to 1.3..."},
    };
    for (auto& k : cases) {
        TearDown();
        SetUp();
        Configuration c;
        current(c, k.first);
        EXPECT_TRUE(upgradeConfiguration(core, c)) << k.first;
        EXPECT_FALSE(exists(core.dataDir)) << "an emptied user data folder goes too";
        EXPECT_EQ(logger.texts().at(0), k.second);
        EXPECT_TRUE(logger.has("Clear the user model..."));
        EXPECT_TRUE(logger.has("Checking the models..."));
        EXPECT_TRUE(userDataCleared()) << k.first;
        EXPECT_EQ(c.version, "1.3");
        EXPECT_EQ(c.idleDelay, 42000u) << "the other settings stay";
        EXPECT_EQ(c.cameraName, "Cam");
    }
}

TEST_F(Upgrade, SameVersionWithItsModelsChangesNothing) {
    Configuration c;
    current(c, "1.3");
    EXPECT_FALSE(upgradeConfiguration(core, c));
    EXPECT_EQ(logger.texts(), std::vector<std::string>{"Checking the models..."});
    EXPECT_TRUE(exists(core.userModelPath()));
}

TEST_F(Upgrade, AMissingWorldModelIsReplacedByTheOneTheUserModelWasBuiltOn) {
    Configuration c;
    current(c, "1.3");
    c.worldModel = "models/gone.model";
    c.detectorModel = "models";  // a folder is no cascade file
    std::string notice;
    EXPECT_TRUE(upgradeConfiguration(core, c, &notice));
    EXPECT_EQ(notice, "") << "the face works on";
    EXPECT_EQ(c.worldModel, "models/world.model");
    EXPECT_EQ(c.detectorModel, "models/mct4.cascade");
    EXPECT_EQ(logger.texts(), (std::vector<std::string>{
                                  "Checking the models...",
                                  "The face detector model file don't exist anymore, will use another one",
                                  "Previous model file: models",
                                  "New model file:      models/mct4.cascade",
                                  "The face verificator world model file don't exist anymore, will use another one",
                                  "Previous model file: models/gone.model",
                                  "New model file:      models/world.model",
                              }));
    EXPECT_EQ(logger.lines[1].indent, 1u);
    EXPECT_EQ(logger.lines[2].indent, 2u);
    EXPECT_FALSE(userDataCleared());
    EXPECT_EQ(logger.indent.load(), 0u);
}

// A world model that is missing or cannot be read never costs the user's files: face checks stop,
// the user is told, and the user model, face list and crops stay as they were.
TEST_F(Upgrade, AMissingOrUnreadableWorldModelKeepsTheUsersFiles) {
    const std::string model = readFile(core.userModelPath());
    struct Case {
        const char* what;
        std::string configured;
        std::function<void()> reference;  // what the reference's world model is
        bool kept;                       // the configured path stays
        const char* line;
        const char* notice;
    };
    const Case cases[] = {
        {"the reference's is another world model", "models/gone.model", [] { writeMixture("models/world.model", 2.0f); },
         true, "WARNING: The face verificator world model file don't exist anymore, the user model is kept and faces are not checked",
         "The file 'models/gone.model' that face checks need is missing"},
        {"the shipped file is gone too", "models/gone.model", [] { ::unlink("models/world.model"); }, true,
         "Missing model file: models/gone.model", "Your face model is kept."},
        {"the shipped one cannot be read", "models/gone.model", [] { writeText("models/world.model", "world"); }, true,
         "Missing model file: models/gone.model", "faces are not checked and the password opens the lock"},
        {"the configured one cannot be read", "models/world.model", [] { writeText("models/world.model", "world"); },
         true, "ERROR: The world model 'models/world.model' cannot be read, faces are not checked",
         "The file 'models/world.model' that face checks need cannot be read"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TearDown();
        SetUp();
        k.reference();
        Configuration c;
        current(c, "1.3");
        c.worldModel = k.configured;
        std::string notice;
        EXPECT_FALSE(upgradeConfiguration(core, c, &notice));
        EXPECT_EQ(c.worldModel, k.configured);
        EXPECT_TRUE(logger.has(k.line)) << logger.dump();
        EXPECT_FALSE(logger.has("Clear the user model..."));
        EXPECT_NE(notice.find(k.notice), std::string::npos) << notice;
        EXPECT_EQ(readFile(core.userModelPath()), model);
        EXPECT_TRUE(exists(user + "/data/a.cro"));
        EXPECT_TRUE(exists(core.configFilePath()));
    }
}

TEST_F(Upgrade, OnlyAnotherReadableWorldModelClearsTheUserModel) {
    writeMixture("models/other.model", 3.0f);
    Configuration c;
    current(c, "1.3");
    c.worldModel = "models/other.model";
    std::string notice;
    EXPECT_FALSE(upgradeConfiguration(core, c, &notice)) << "the configuration itself is right";
    EXPECT_TRUE(logger.has("WARNING: The user model is cleared, since it was built on another world model"));
    EXPECT_TRUE(logger.has("Clear the user model..."));
    EXPECT_TRUE(userDataCleared());
    EXPECT_NE(notice.find("another world model than models/other.model"), std::string::npos) << notice;
}

TEST_F(Upgrade, AnUnreadableUserModelIsKeptAndSaidSo) {
    const std::string model = core.userModelPath();
    writeText(model, "trunc");
    Configuration c;
    current(c, "1.3");
    std::string notice;
    EXPECT_FALSE(upgradeConfiguration(core, c, &notice));
    EXPECT_TRUE(logger.has("ERROR: The user model '" + model + "' cannot be read, faces are not checked"));
    EXPECT_NE(notice.find("Your face model cannot be read"), std::string::npos) << notice;
    EXPECT_EQ(readFile(model), "trunc");
    EXPECT_FALSE(logger.has("Clear the user model..."));
}

TEST_F(Upgrade, MultiviewModelIsAFolder) {
    Configuration c;
    current(c, "1.3");
    c.detectorType = 2;
    c.detectorModel = "models/multiview";
    EXPECT_FALSE(upgradeConfiguration(core, c)) << "a multi-view model folder is kept";

    c.detectorModel = "models/gone";
    EXPECT_TRUE(upgradeConfiguration(core, c));
    EXPECT_EQ(c.detectorModel, "models/mct4.cascade");
    EXPECT_EQ(c.detectorType, 1) << "a cascade file is read by the frontal detector";
    EXPECT_TRUE(exists(core.userModelPath())) << "a detector model alone keeps the user model";
}

TEST_F(Upgrade, MissingReferenceUpgradesNothing) {
    ::unlink("Tarvelo.cfg.backup");
    Configuration c;
    current(c, "1.3");
    EXPECT_FALSE(upgradeConfiguration(core, c));
    EXPECT_EQ(c.version, "1.3");
    EXPECT_TRUE(exists(core.userModelPath()));

    reference("1.4");  // a newer reference is upgraded to once
    EXPECT_TRUE(upgradeConfiguration(core, c));
    EXPECT_EQ(c.version, "1.4");
    ASSERT_TRUE(core.createUserInfo("None", "None", 2000, true));
    EXPECT_FALSE(upgradeConfiguration(core, c)) << "and not again at the next start";
}

TEST_F(Upgrade, HiddenFilesKeepTheirFolders) {
    writeText(user + "/models/.keep", "");
    ClearUserModel(core);
    EXPECT_FALSE(exists(core.userModelPath())) << "plain files go all the same";
    EXPECT_TRUE(exists(user + "/models/.keep"));
    EXPECT_TRUE(exists(user)) << "the folders above stay";
    EXPECT_FALSE(exists(user + "/data"));
    EXPECT_FALSE(exists(core.configFilePath()));
    EXPECT_TRUE(exists(core.dataDir));

    removeFolderFiles(root + "/nothing-here");  // a missing folder is no error
}

TEST_F(Upgrade, WithoutIdentityRecordOnlyTheDataFolderFilesGo) {
    ::unlink(core.userInfoFilePath("").c_str());
    ClearUserModel(core);
    EXPECT_TRUE(exists(core.userModelPath().empty() ? user + "/models" : core.userModelPath()));
    EXPECT_FALSE(exists(core.configFilePath()));
    EXPECT_FALSE(exists(core.userInfoFilePath("access-")));
}

}  // namespace
