// End to end: a cascade made from a 19 x 19 template finds that template, planted at a known place and
// scale, in a noisy frame, through the frontal tracker's detector and fusion settings.
#include <gtest/gtest.h>

#include <cmath>

#include "cascade_fixture.h"
#include "detection/PatternDetect.h"
#include "detection/PatternMerger.h"
#include "detection/ipSWmctMS.h"
#include "detection_test_util.h"

using namespace vision;

namespace {

// A face-like template: light oval, dark eyes and mouth, gentle shading.
std::vector<float> faceTemplate() {
    std::vector<float> t(19 * 19);
    for (int y = 0; y < 19; y++)
        for (int x = 0; x < 19; x++) {
            float v = 0.55f + 0.12f * std::sin(0.9f * x + 0.3f) * std::cos(0.7f * y) + 0.01f * x;
            const float ex = (x - 5.5f) * (x - 5.5f), ex2 = (x - 12.5f) * (x - 12.5f), ey = (y - 7) * (y - 7);
            if (ex + 2 * ey < 5 || ex2 + 2 * ey < 5) v = 0.15f + 0.02f * y;
            if (y >= 13 && y <= 14 && x >= 6 && x <= 12) v = 0.25f + 0.01f * x;
            if ((x - 9) * (x - 9) + (y - 9.5f) * (y - 9.5f) > 90) v = 0.35f + 0.015f * y;
            t[y * 19 + x] = v;
        }
    return t;
}

}  // namespace

TEST(TemplateCascade, FindsThePlantedTemplateAtItsPositionAndScale) {
    cascade_fixture::TempDir dir;
    const std::vector<float> tmpl = faceTemplate();
    const std::string path = dir.file("template.cascade");
    cascade_fixture::write(path, cascade_fixture::templateCascade(tmpl.data(), 0.85f));

    struct Case {
        int scale, x, y;  // on the scanning grid of the level 19 x scale
    } cases[] = {{2, 100, 62}, {3, 118, 72}, {4, 207, 112}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scale);
        dtest::Frame frame(320, 240);
        dtest::fillNoise(frame, 21 + c.scale, 0.1f, 0.9f);
        for (int y = 0; y < 19 * c.scale; y++)
            for (int x = 0; x < 19 * c.scale; x++)
                frame.at(c.x + x, c.y + y) = tmpl[(y / c.scale) * 19 + x / c.scale];

        ipIntegralImage ii(320, 240, "gray", true);
        ipSWmctMS sw(ii.sums(), 320, 240, 19, 19, path.c_str(), 0.0f, false);
        meanRectPatternMerger merger;
        ViewPatternFusion fusion(&merger, 0, 100);
        fusion.setParameters(0.9f, 0.0f, true, 1.5f);
        MSPatternDetect detector(&sw, &fusion, &ii, 320, 240, 19, 19, 38, 240, 0.0625f, 0.125f, 0.125f, 0.041f,
                                 0.89f, 0.0204354f, 0.382121f, nullptr, 0, 1.0f, 1000, false);
        detector.setBoolOption("force sw multiple mw", true);
        detector.init();
        detector.process(&frame.seq);

        ASSERT_GE(detector.raw->count, 1);
        ASSERT_EQ(detector.n_patterns, 1);
        const Pattern& p = *detector.patterns[0];
        EXPECT_NEAR(p.x, c.x, c.scale);
        EXPECT_NEAR(p.y, c.y, c.scale);
        EXPECT_NEAR(p.w, 19 * c.scale, 2);
        EXPECT_GT(p.confidence, 0.85f * 289);
    }
}
