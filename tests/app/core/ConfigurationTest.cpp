// The configuration file: defaults, keys, units, clamping and the round trip.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/core/Configuration.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "tests/app/core/app_core_fixtures.h"

namespace {

class ConfigurationFile : public AppCoreTest {
protected:
    std::string path() const { return root + "/Tarvelo.cfg"; }
    // Loads a file of the given lines with a valid detector group appended.
    bool loadWith(Configuration& c, const std::string& text, const std::string& detector = "[FaceDetector]\nType=Frontal\n") {
        writeText(path(), text + "\n" + detector);
        return c.load(path(), &logger);
    }
};

TEST_F(ConfigurationFile, DefaultsInMemoryUnits) {
    Configuration c;
    EXPECT_EQ(c.version, "0.0");
    EXPECT_EQ(c.idleDelay, 600000u);
    EXPECT_FLOAT_EQ(c.maxDetectionConfidence, 0.2f);
    EXPECT_FLOAT_EQ(c.goodDetectionConfidence, 0.1f);
    EXPECT_FLOAT_EQ(c.badDetectionConfidence, 0.05f);
    EXPECT_FLOAT_EQ(c.maxVerificationConfidence, 1.0f);
    EXPECT_FLOAT_EQ(c.goodVerificationConfidence, 0.6f);
    EXPECT_FLOAT_EQ(c.badVerificationConfidence, 0.4f);
    EXPECT_FLOAT_EQ(c.adaptationThreshold, 0.2f);
    EXPECT_EQ(c.nextUserId, 5000);
    EXPECT_EQ(c.verificationIdleDelay, 300000u);
    EXPECT_EQ(c.worldModel, "models/world6-64x80-dctmod2-gmm.model");
    EXPECT_EQ(c.detectorType, 1);
    EXPECT_EQ(c.detectorModel, "models/mct4.cascade");
    EXPECT_EQ(c.detectorThreshold, 0.0f);
    EXPECT_FALSE(c.detectorNormalized);
    EXPECT_EQ(c.maxFaces, 1);
    EXPECT_EQ(c.cameraName, "");
    EXPECT_EQ(c.getFormat(), "320x240");
    ASSERT_NE(c.trackingSettings, nullptr);
    EXPECT_EQ(c.trackingSettings->width, 320);
    EXPECT_EQ(c.trackingSettings->height, 240);
}

// The capture graphs see the loaded thresholds, not the capture layer's own defaults.
TEST_F(ConfigurationFile, CaptureConfigurationCarriesTheLoadedThresholds) {
    ASSERT_TRUE(loadWith(core.config, "[Application]\nBadVerificationConfidence=0.55\nAdaptationThreshold=0.3\n"
                                      "GoodDetectionConfidence=0.03"));
    const CaptureConfiguration c = core.captureConfiguration();
    EXPECT_FLOAT_EQ(c.goodDetectionConfidence, 0.03f);
    EXPECT_FLOAT_EQ(c.badVerificationConfidence, 0.55f);
    EXPECT_FLOAT_EQ(c.adaptationThreshold, 0.3f);
    EXPECT_EQ(c.trackingSettings, core.config.trackingSettings);
}

TEST_F(ConfigurationFile, KeysReadByTheirRules) {
    struct Case {
        const char* lines;
        uint32_t idleDelay;
        float adaptation;
        float maxDetection;
    };
    const Case cases[] = {
        {"[Application]\nAdaptationThreshold=0.5\nBadVerificationConfidence=0.4", 600000, 0.4f, 0.2f},
        {"[Application]\nAdaptationThreshold=0.5", 600000, 0.4f, 0.2f},  // clamped to the default 0.4
        {"[Application]\nAdaptationThreshold=0.3", 600000, 0.3f, 0.2f},
        {"[Application]\nIdleDelay=", 600000, 0.2f, 0.2f},  // empty: not present
        {"[Application]\nIdleDelay=ten", 600000, 0.2f, 0.2f},  // not a number: the default stays
        {"[Application]\nIdleDelay=12xyz", 12000, 0.2f, 0.2f},
        // Delays are held to the parameters page's 1..10000 s.
        {"[Application]\nIdleDelay=0", 1000, 0.2f, 0.2f},
        {"[Application]\nIdleDelay=-5", 1000, 0.2f, 0.2f},
        {"[Application]\nIdleDelay=99999999", 10000000, 0.2f, 0.2f},
        {"[Application]\nIdleDelay=10000", 10000000, 0.2f, 0.2f},
        {"[Application]\nMaxDetectionConfidence=0.2567", 600000, 0.2f, 0.256f},
        {"[Application]\nMaxDetectionConfidence=1e300", 600000, 0.2f, 2147483.647f},
        {"[Application]\nMaxDetectionConfidence=nan", 600000, 0.2f, 0.2f},
        {"[Application]\nMaxDetectionConfidence=high", 600000, 0.2f, 0.2f},
    };
    for (const Case& k : cases) {
        Configuration c;
        ASSERT_TRUE(loadWith(c, k.lines)) << k.lines;
        EXPECT_EQ(c.idleDelay, k.idleDelay) << k.lines;
        EXPECT_FLOAT_EQ(c.adaptationThreshold, k.adaptation) << k.lines;
        EXPECT_FLOAT_EQ(c.maxDetectionConfidence, k.maxDetection) << k.lines;
    }
}

TEST_F(ConfigurationFile, UnreadableNumbersKeepTheirValueAndAreLogged) {
    Configuration c;
    c.nextUserId = 5003;
    ASSERT_TRUE(loadWith(c, "[Application]\nNextUserID=many\n[Verification]\nIdleDelay=five",
                         "[FaceDetector]\nType=Frontal\nThreshold=low\nmotion_quantity=x1\n"));
    EXPECT_EQ(c.nextUserId, 5003);
    EXPECT_EQ(c.verificationIdleDelay, 300000u);
    EXPECT_EQ(c.detectorThreshold, 0.0f);
    EXPECT_TRUE(logger.has("WARNING: The value 'many' of /Application/NextUserID in the configuration file isn't a "
                           "number, the default is kept"));
    EXPECT_TRUE(logger.has("WARNING: The value 'low' of /FaceDetector/Threshold in the configuration file isn't a "
                           "number, the default is kept"));
    EXPECT_TRUE(logger.has("WARNING: The value 'x1' of /FaceDetector/motion_quantity in the configuration file "
                           "isn't a number, the default is kept"));
}

TEST_F(ConfigurationFile, DetectorTypeDecidesTheLoad) {
    struct Case {
        const char* detector;
        bool ok;
        int type;
    };
    const Case cases[] = {
        {"[FaceDetector]\nType=Frontal\n", true, 1},
        {"[FaceDetector]\nType=Multiview\n", true, 2},
        {"[FaceDetector]\nType=frontal\n", false, 1},
        {"[FaceDetector]\nType=\n", false, 1},
        {"[FaceDetector]\nModel=x\n", false, 1},
    };
    for (const Case& k : cases) {
        Configuration c;
        EXPECT_EQ(loadWith(c, "[Application]\nVersion=1.3\n[Camera]\nName=Cam", k.detector), k.ok) << k.detector;
        EXPECT_EQ(c.detectorType, k.type);
        EXPECT_EQ(c.version, "1.3") << "keys before the type keep their new values";
        EXPECT_EQ(c.cameraName, "Cam");
    }
    Configuration missing;
    EXPECT_FALSE(missing.load(root + "/none.cfg"));
}

TEST_F(ConfigurationFile, FormatAndNormalizedTexts) {
    struct Case {
        const char* lines;
        int format;
        bool normalized;
    };
    const Case cases[] = {
        {"[Camera]\nFormat=640x480\n[X]", 2, false},
        {"[Camera]\nFormat=480x360\n[X]", 1, false},
        {"[Camera]\nFormat=800x600\n[X]", 0, false},
        {"[Camera]\nFormat=640X480\n[X]", 0, false},
        {"[X]", 0, false},
    };
    for (const Case& k : cases) {
        Configuration c;
        c.formatIndex = 2;
        ASSERT_TRUE(loadWith(c, k.lines)) << k.lines;
        EXPECT_EQ(c.formatIndex, k.format) << k.lines;
    }
    const std::pair<const char*, bool> normalized[] = {{"1", true}, {"7", true}, {"0", false}, {"abc", true}, {"1x", true}};
    for (auto& n : normalized) {
        Configuration c;
        c.detectorNormalized = true;
        ASSERT_TRUE(loadWith(c, "", std::string("[FaceDetector]\nType=Frontal\nNormalized=") + n.first + "\n"));
        EXPECT_EQ(c.detectorNormalized, n.second) << n.first << ": a text not wholly an integer changes nothing";
    }
    Configuration c;
    c.setFormat("1024x768");
    EXPECT_EQ(c.formatIndex, 3);
    EXPECT_EQ(c.getFormat(), "");
    EXPECT_EQ(c.getFormatWidth(), 0u);
    EXPECT_EQ(Configuration::formatWidth(1), 480u);
    EXPECT_EQ(Configuration::formatHeight(2), 480u);
}

TEST_F(ConfigurationFile, TrackingSettingsRebuiltOnlyForAnotherFaceCount) {
    Configuration two;
    ASSERT_TRUE(loadWith(two, "[Camera]\nFormat=640x480",
                         "[FaceDetector]\nType=Frontal\nMaxFaces=2\nmaxWsize=400\nscalefactor=0.25\n"));
    EXPECT_EQ(two.trackingSettings->max_faces, 2);
    EXPECT_EQ(two.trackingSettings->width, 640);
    EXPECT_EQ(two.trackingSettings->height, 480);
    EXPECT_EQ(two.trackingSettings->max_size.value, 400) << "keys applied after the rebuild";
    EXPECT_FLOAT_EQ(two.trackingSettings->scale_factor.value, 0.25f);

    Configuration one;
    vision::FaceTrackingSettings* before = one.trackingSettings;
    ASSERT_TRUE(loadWith(one, "[Camera]\nFormat=640x480", "[FaceDetector]\nType=Frontal\nMaxFaces=1\nminWsize=5000\n"));
    EXPECT_EQ(one.trackingSettings, before);
    EXPECT_EQ(one.trackingSettings->width, 320);
    EXPECT_EQ(one.trackingSettings->min_size.value, 5000) << "no bound is applied on loading";
}

TEST_F(ConfigurationFile, SaveAndLoadGiveTheSameRecord) {
    Configuration a;
    a.version = "1.3";
    a.idleDelay = 123000;
    a.maxDetectionConfidence = 0.256f;
    a.goodDetectionConfidence = 0.111f;
    a.badDetectionConfidence = 0.007f;
    a.maxVerificationConfidence = 0.999f;
    a.goodVerificationConfidence = 0.57f;
    a.badVerificationConfidence = 0.29f;
    a.adaptationThreshold = 0.29f;
    a.nextUserId = 5007;
    a.verificationIdleDelay = 45000;
    a.worldModel = "$HOME/models/w.model";  // no variable is expanded
    a.detectorType = 2;
    a.detectorModel = "models/multiview";
    a.detectorThreshold = 0.75f;
    a.detectorNormalized = true;
    a.maxFaces = 1;
    a.trackingSettings->motion.value = 1234;
    a.trackingSettings->correlation_threshold.value = 0.125f;
    a.cameraName = "USB Camera #2";
    a.formatIndex = 1;
    ASSERT_TRUE(a.save(path()));
    EXPECT_EQ(modeOf(path()), 0600u);
    std::string text = readFile(path());
    EXPECT_NE(text.find("MaxDetectionConfidence=0.256"), std::string::npos) << text;
    EXPECT_NE(text.find("GoodVerificationConfidence=0.57"), std::string::npos) << text;
    EXPECT_NE(text.find("IdleDelay=123"), std::string::npos) << text;
    EXPECT_NE(text.find("Type=Multiview"), std::string::npos) << text;
    EXPECT_LT(text.find("[FaceDetector]"), text.find("[Camera]")) << "the camera group is written last";

    Configuration b;
    ASSERT_TRUE(b.load(path()));
    EXPECT_EQ(b.version, a.version);
    EXPECT_EQ(b.idleDelay, a.idleDelay);
    EXPECT_FLOAT_EQ(b.maxDetectionConfidence, 0.256f);
    EXPECT_FLOAT_EQ(b.goodDetectionConfidence, 0.111f);
    EXPECT_FLOAT_EQ(b.badDetectionConfidence, 0.007f);
    EXPECT_FLOAT_EQ(b.maxVerificationConfidence, 0.999f);
    EXPECT_FLOAT_EQ(b.goodVerificationConfidence, 0.57f);
    EXPECT_FLOAT_EQ(b.badVerificationConfidence, 0.29f);
    EXPECT_FLOAT_EQ(b.adaptationThreshold, 0.29f);
    EXPECT_EQ(b.nextUserId, 5007);
    EXPECT_EQ(b.verificationIdleDelay, 45000u);
    EXPECT_EQ(b.worldModel, a.worldModel);
    EXPECT_EQ(b.detectorType, 2);
    EXPECT_EQ(b.detectorModel, a.detectorModel);
    EXPECT_FLOAT_EQ(b.detectorThreshold, 0.75f);
    EXPECT_TRUE(b.detectorNormalized);
    EXPECT_EQ(b.trackingSettings->motion.value, 1234);
    EXPECT_FLOAT_EQ(b.trackingSettings->correlation_threshold.value, 0.125f);
    EXPECT_EQ(b.cameraName, a.cameraName);
    EXPECT_EQ(b.formatIndex, 1);

    // Every whole number of thousandths survives the decimal text.
    for (int t = 0; t <= 1000; ++t) {
        Configuration c;
        c.maxVerificationConfidence = static_cast<float>(t / 1000.0);
        ASSERT_TRUE(c.save(path()));
        Configuration d;
        ASSERT_TRUE(d.load(path()));
        ASSERT_EQ(d.maxVerificationConfidence, c.maxVerificationConfidence) << t;
    }
}

TEST_F(ConfigurationFile, UnknownDetectorTypeFailsTheSaveAfterTheFirstGroups) {
    Configuration c;
    c.detectorType = 3;
    c.version = "9.9";
    c.formatIndex = 3;
    EXPECT_FALSE(c.save(path()));
    std::string text = readFile(path());
    EXPECT_NE(text.find("Version=9.9"), std::string::npos);
    EXPECT_NE(text.find("[Verification]"), std::string::npos);
    EXPECT_EQ(text.find("[FaceDetector]"), std::string::npos);
    EXPECT_EQ(text.find("[Camera]"), std::string::npos);

    Configuration other;
    other.formatIndex = 3;
    ASSERT_TRUE(other.save(path()));
    EXPECT_NE(readFile(path()).find("Format="), std::string::npos);
    Configuration back;
    ASSERT_TRUE(back.load(path()));
    EXPECT_EQ(back.formatIndex, 0);

    std::string readOnly = root + "/ro";
    ::mkdir(readOnly.c_str(), 0500);
    Configuration cannot;
    if (geteuid() != 0) {
        EXPECT_FALSE(cannot.save(readOnly + "/Tarvelo.cfg")) << "a file that cannot be written";
    }
}

}  // namespace
