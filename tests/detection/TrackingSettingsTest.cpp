#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "detect_helpers.h"
#include "detection/DetectorRound.h"
#include "detection/settings/FaceTrackingSettings.h"

using namespace vision;

TEST(FaceTrackingSettings, DefaultsAndBoundsFollowTheFrame) {
    FaceTrackingSettings s(4, 320, 240);
    EXPECT_EQ(s.n_pixels, 76800);
    EXPECT_EQ(s.min_size.max, 240);
    EXPECT_EQ(s.max_size.max, 240);
    EXPECT_EQ(s.min_size.value, 38);
    EXPECT_EQ(s.max_size.value, 240);
    EXPECT_EQ(s.motion.max, 19200);
    EXPECT_EQ(s.motion.value, 1000);
    EXPECT_FLOAT_EQ(s.step_x_factor.value, 0.0625f);
    EXPECT_FLOAT_EQ(s.step_y_factor.value, 0.125f);
    EXPECT_FLOAT_EQ(s.scale_factor.value, 0.125f);
    EXPECT_EQ(s.averager_length.value, 6);
    EXPECT_FLOAT_EQ(s.correlation_threshold.value, 0.05f);
    EXPECT_EQ(s.modulo_detection.value, 50);
    EXPECT_EQ(s.pixel_sensitivity.value, 30);
    EXPECT_EQ(s.max_distance.value, 900);
    EXPECT_EQ(s.max_delta_width.value, 40);
    EXPECT_STREQ(s.motion.name, "motion");
    EXPECT_STREQ(s.motion.help, "don't run the detector if not enough motion");

    struct Case {
        int width, height, motion;
    } widths[] = {{240, 180, 100}, {288, 100, 100}, {480, 360, 100000}, {576, 432, 100000}, {640, 480, 1000}, {160, 120, 1000}};
    for (const Case& c : widths) EXPECT_EQ(FaceTrackingSettings(1, c.width, c.height).motion.value, c.motion) << c.width;
}

TEST(FaceTrackingSettings, MaxFacesStaysWithinTheSample) {
    struct Case {
        int given, kept;
    } cases[] = {{-3, 1}, {0, 1}, {1, 1}, {4, 4}, {5, 4}, {1000, 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(FaceTrackingSettings(c.given, 320, 240).max_faces, c.kept);
        FaceTrackingSettings from(1, 0, 0);
        from.max_faces = c.given;
        FaceTrackingSettings to(2, 320, 240);
        to.copyFrom(from);
        EXPECT_EQ(to.max_faces, c.kept);
        to.setMaxFaces(c.given);
        EXPECT_EQ(to.max_faces, c.kept);
    }
}

TEST(FaceTrackingSettings, CopyFromLimitsToThisFrame) {
    // Settings as the program makes them: for no particular frame, values from the configuration.
    struct Case {
        const char* what;
        void (*set)(FaceTrackingSettings&);
        void (*check)(const FaceTrackingSettings&);
    } cases[] = {
        {"min size above the height", [](FaceTrackingSettings& f) { f.min_size.value = 500; f.max_size.value = 500; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.min_size.value, 240); EXPECT_EQ(s.max_size.value, 240); }},
        {"step below its minimum is kept", [](FaceTrackingSettings& f) { f.step_x_factor.value = 0.01f; },
         [](const FaceTrackingSettings& s) { EXPECT_FLOAT_EQ(s.step_x_factor.value, 0.01f); }},
        {"zero scale factor", [](FaceTrackingSettings& f) { f.scale_factor.value = 0; },
         [](const FaceTrackingSettings& s) { EXPECT_FLOAT_EQ(s.scale_factor.value, 0.125f); }},
        {"every value held to its maximum", [](FaceTrackingSettings& f) {
             f.scale_factor.value = 1e30f; f.step_x_factor.value = 7; f.step_y_factor.value = NAN;
             f.averager_length.value = 90; f.modulo_detection.value = 2000000000; f.pixel_sensitivity.value = 101;
             f.max_distance.value = 1 << 30; f.max_delta_width.value = 201; f.correlation_threshold.value = INFINITY; },
         [](const FaceTrackingSettings& s) {
             EXPECT_FLOAT_EQ(s.scale_factor.value, 0.5f); EXPECT_FLOAT_EQ(s.step_x_factor.value, 0.5f);
             EXPECT_FLOAT_EQ(s.step_y_factor.value, 0.5f); EXPECT_EQ(s.averager_length.value, 8);
             EXPECT_EQ(s.modulo_detection.value, 200); EXPECT_EQ(s.pixel_sensitivity.value, 100);
             EXPECT_EQ(s.max_distance.value, 6000); EXPECT_EQ(s.max_delta_width.value, 200);
             EXPECT_FLOAT_EQ(s.correlation_threshold.value, 1.0f); }},
        {"zero averager length", [](FaceTrackingSettings& f) { f.averager_length.value = 0; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.averager_length.value, 1); }},
        {"zero modulo", [](FaceTrackingSettings& f) { f.modulo_detection.value = 0; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.modulo_detection.value, 1); }},
        {"negative modulo", [](FaceTrackingSettings& f) { f.modulo_detection.value = -7; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.modulo_detection.value, 1); }},
        {"min above max", [](FaceTrackingSettings& f) { f.min_size.value = 120; f.max_size.value = 60; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.min_size.value, 60); EXPECT_EQ(s.max_size.value, 60); }},
        {"max below the model size means no limit", [](FaceTrackingSettings& f) { f.min_size.value = 38; f.max_size.value = 0; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.min_size.value, 38); EXPECT_EQ(s.max_size.value, 0); }},
        {"motion above n_pixels/4", [](FaceTrackingSettings& f) { f.motion.value = 50000; },
         [](const FaceTrackingSettings& s) { EXPECT_EQ(s.motion.value, 19200); }},
        {"unchecked values", [](FaceTrackingSettings& f) {
             f.pixel_sensitivity.value = 0; f.max_distance.value = 7; f.max_delta_width.value = 0;
             f.correlation_threshold.value = 0; f.averager_length.value = 8; f.modulo_detection.value = 1; },
         [](const FaceTrackingSettings& s) {
             EXPECT_EQ(s.pixel_sensitivity.value, 0); EXPECT_EQ(s.max_distance.value, 7);
             EXPECT_EQ(s.max_delta_width.value, 0); EXPECT_FLOAT_EQ(s.correlation_threshold.value, 0);
             EXPECT_EQ(s.averager_length.value, 8); EXPECT_EQ(s.modulo_detection.value, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FaceTrackingSettings from(1, 0, 0);
        c.set(from);
        FaceTrackingSettings to(4, 320, 240);
        to.copyFrom(from);
        c.check(to);
        EXPECT_EQ(to.width, 320);
        EXPECT_EQ(to.n_pixels, 76800);
    }
}

TEST(DetectorRound, HoldsValuesBeyondAnIntToItsRange) {
    struct Case {
        float value;
        int rounded;
    } cases[] = {{2.49f, 2}, {2.5f, 3}, {0, 0}, {1e30f, 2147483520}, {INFINITY, 2147483520}, {NAN, 0}, {-1e30f, INT_MIN}};
    for (const Case& c : cases) EXPECT_EQ(detectorRound(c.value), c.rounded) << c.value;
}

TEST(FaceTrackingSettings, CopyFromMotionRules) {
    struct Case {
        int width, height, given, kept;
    } cases[] = {
        {240, 180, 5000, 100}, {288, 216, 7, 100}, {480, 360, 10, 100000}, {576, 432, 0, 100000},
        {320, 240, 5000, 5000}, {320, 240, 50000, 19200}, {320, 240, 0, 0}, {160, 120, 4800, 4800}, {160, 120, 4801, 4800},
    };
    for (const Case& c : cases) {
        FaceTrackingSettings from(1, 0, 0);
        from.motion.value = c.given;
        FaceTrackingSettings to(1, c.width, c.height);
        to.copyFrom(from);
        EXPECT_EQ(to.motion.value, c.kept) << c.width << " " << c.given;
    }
}

TEST(FaceTrackingSettings, PrintsEachParameter) {
    CapturedMessages out;
    FaceTrackingSettings(1, 320, 240).print();
    EXPECT_EQ(out.printed.find("Face tracking parameter:\n   name = min size\n   type = int\n   min = 19\n   max = 240\n"
                               "   value = 38\n   help = \"minimum size of faces\"\nFace tracking parameter:\n"),
              0u);
    EXPECT_NE(out.printed.find("   name = step X factor\n   type = real\n   min = 0.0625\n   max = 0.5\n   value = 0.0625\n"),
              std::string::npos);
    // Correlation threshold comes last.
    EXPECT_GT(out.printed.find("correlation threshold"), out.printed.find("max delta width"));
}
