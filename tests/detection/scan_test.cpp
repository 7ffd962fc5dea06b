// Integral images, the scanner's levels and window grid, the brightness/contrast test and the detector's
// output rules, driven through a recording stub classifier.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "detection/PatternDetect.h"
#include "detection/PatternMerger.h"
#include "detection/ipIntegralImage.h"
#include "detection_test_util.h"
#include "tests/visionlib/fatal.h"

using namespace vision;
using dtest::Frame;
using dtest::RecordingClassifier;

namespace {

// The frontal tracker's settings on a 320 x 240 frame, with bounds that let every noisy window through.
struct Rig {
    Frame frame{320, 240};
    ipIntegralImage ii{320, 240, "gray", true};
    RecordingClassifier sw{320, 240};
    meanRectPatternMerger merger;
    ViewPatternFusion fusion{&merger, 0, 100};
    MSPatternDetect* detector = nullptr;

    explicit Rig(int min_size = 38, int max_size = 240, real mean_min = 0, real mean_max = 1, real stdv_min = 0,
                 real stdv_max = 1, bool with_fusion = true) {
        dtest::fillNoise(frame, 7, 0.1f, 0.9f);
        fusion.setParameters(0.9f, 0.0f, true, 1.5f);
        detector = new MSPatternDetect(&sw, with_fusion ? &fusion : nullptr, &ii, 320, 240, 19, 19, min_size,
                                       max_size, 0.0625f, 0.125f, 0.125f, mean_min, mean_max, stdv_min, stdv_max,
                                       nullptr, 0, 1.0f, 1000, false);
        detector->setBoolOption("force sw multiple mw", true);
        detector->init();
    }
    ~Rig() { delete detector; }
    std::vector<int> levelWidths() const {
        std::vector<int> w;
        for (int i = 0; i < detector->n_levels; i++) w.push_back(detector->scanners[i]->window_width);
        return w;
    }
};

}  // namespace

TEST(IntegralImage, SumsAndSquaresMatchBruteForce) {
    Frame f(13, 7);
    dtest::fillNoise(f, 3, 0.0f, 1.0f);
    ipIntegralImage ii(13, 7, "gray", true);
    ii.process(&f.seq);
    ASSERT_EQ(ii.output->n_frames, 2);
    for (int y = 0; y < 7; y++)
        for (int x = 0; x < 13; x++) {
            double s = 0, q = 0;
            for (int j = 0; j <= y; j++)
                for (int i = 0; i <= x; i++) {
                    s += f.at(i, j);
                    q += (double)f.at(i, j) * f.at(i, j);
                }
            EXPECT_NEAR(ii.sums()[y * 13 + x], s, 1e-4) << x << "," << y;
            EXPECT_NEAR(ii.sumsOfSquares()[y * 13 + x], q, 1e-4) << x << "," << y;
        }

    ipIntegralImage plain(13, 7, "gray", false);
    plain.process(&f.seq);
    EXPECT_EQ(plain.output->n_frames, 1);
    EXPECT_EQ(plain.sums()[13 * 7 - 1], ii.sums()[13 * 7 - 1]);
}

TEST(IntegralImage, OtherCodingsLeaveTheOutputAlone) {
    Frame f(4, 2);
    dtest::fillNoise(f, 1, 0, 1);
    ipIntegralImage ii(4, 2, "float", true);
    dtest::CaptureMessages log;
    ii.process(&f.seq);
    EXPECT_EQ(ii.sums()[7], 0.0f);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "ipIntegralImage::process() not implemented for float format");
}

TEST(MultiScaleScan, DefaultLevelsAndWindowGridAt320x240) {
    Rig rig;
    EXPECT_EQ(rig.detector->sw_min, 38);
    EXPECT_EQ(rig.detector->sw_max, 240);  // 240 / 19 < 320 / 19 in real division
    EXPECT_EQ(rig.levelWidths(), (std::vector<int>{38, 57, 76, 95, 114, 133, 152, 171, 209}));
    EXPECT_EQ(rig.detector->scanners[0]->step_x, 2);
    EXPECT_EQ(rig.detector->scanners[0]->step_y, 5);
    EXPECT_EQ(rig.detector->scanners[8]->step_x, 13);
    EXPECT_EQ(rig.detector->scanners[8]->step_y, 26);

    rig.detector->process(&rig.frame.seq);
    EXPECT_EQ(rig.detector->n_windows, 9202);
    EXPECT_EQ(rig.detector->n_classified, 9202);
    EXPECT_EQ(rig.sw.per_size[38], 5600);
    EXPECT_EQ(rig.sw.per_size[209], 18);

    // The 38-pixel level: x = 2, 4, ..., 280 and y = 2, 7, ..., 197; no window touches the last two
    // columns or rows, nor the first two.
    std::set<int> xs, ys;
    for (auto& w : rig.sw.windows) {
        EXPECT_GE(w.x, 2);
        EXPECT_GE(w.y, 2);
        EXPECT_LE(w.x + w.size, 320 - 1);
        EXPECT_LE(w.y + w.size, 240 - 1);
        if (w.size == 38) {
            xs.insert(w.x);
            ys.insert(w.y);
        }
    }
    EXPECT_EQ(xs.size(), 140u);
    EXPECT_EQ(*xs.rbegin(), 280);
    EXPECT_EQ(ys.size(), 40u);
    EXPECT_EQ(*ys.rbegin(), 197);

    // Every frame scans the same windows again.
    rig.sw.windows.clear();
    rig.detector->process(&rig.frame.seq);
    EXPECT_EQ(rig.sw.windows.size(), 9202u);
}

TEST(MultiScaleScan, MaxSizeBelowThePatternMeansNoLimit) {
    Rig rig(38, 10);
    EXPECT_EQ(rig.detector->sw_max, 240);
    EXPECT_EQ(rig.detector->n_levels, 9);
}

TEST(MultiScaleScan, ConstructionAndInitFailuresAreFatal) {
    ipIntegralImage ii(320, 240, "gray", true);
    RecordingClassifier sw(320, 240);
    auto make = [&](ipSubWindow* c, ipIntegralImage* i, int min_size, real scale_factor) {
        MSPatternDetect d(c, nullptr, i, 320, 240, 19, 19, min_size, 240, 0.0625f, 0.125f, scale_factor, 0, 1, 0,
                          1, nullptr, 0, 1.0f, 1000, false);
        d.init();
    };
    EXPECT_FATAL(make(nullptr, &ii, 38, 0.125f), "PatternDetect::PatternDetect() ip_sw is NULL.");
    EXPECT_FATAL(make(&sw, nullptr, 38, 0.125f), "PatternDetect::PatternDetect() ip_ii is NULL.");
    EXPECT_FATAL(make(&sw, &ii, 38, 0.0f), "scale factor (0) must be positive!");
    EXPECT_FATAL(make(&sw, &ii, 250, 0.125f), "sw_max (240) must be >= to sw_min (250)!");
    EXPECT_FATAL(
        {
            MSPatternDetect d(&sw, nullptr, &ii, 320, 240, 19, 19, 38, 240, 0.0625f, 0.125f, 0.125f, 0, 1, 0, 1,
                              nullptr, 0, 1.0f, 1000, false);
            Frame f(320, 240);
            d.process(&f.seq);
        },
        "PatternDetect::process -> do init() first.");
}

TEST(MultiScaleScan, MeanAndContrastBoundsIncludeTheirEnds) {
    // A checkerboard of 0.25 / 0.75: every 38 x 38 window has mean 0.5 and standard deviation 0.25, exactly.
    struct Case {
        real mean_max, stdv_min, stdv_max;
        bool passes;
    } cases[] = {{0.5f, 0.0f, 1.0f, true},    {0.4999f, 0.0f, 1.0f, false}, {1.0f, 0.25f, 0.25f, true},
                 {1.0f, 0.2501f, 1.0f, false}, {1.0f, 0.0f, 0.2499f, false}};
    for (const Case& c : cases) {
        Rig rig(38, 38, 0.0f, c.mean_max, c.stdv_min, c.stdv_max);
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) rig.frame.at(x, y) = ((x + y) & 1) ? 0.75f : 0.25f;
        rig.detector->process(&rig.frame.seq);
        EXPECT_EQ(rig.detector->n_windows, 5600);
        EXPECT_EQ(rig.detector->n_classified, c.passes ? 5600 : 0) << c.mean_max << " " << c.stdv_min;
        EXPECT_EQ(rig.detector->n_mean_rejected + rig.detector->n_stdv_rejected, c.passes ? 0 : 5600);
    }
}

TEST(MultiScaleScan, SingleDetectionBypassesFusionSeveralAreFusedAndFiltered) {
    Rig rig;
    rig.sw.accept = [](int x, int y, int s) { return s == 38 && x == 100 && y == 52; };
    rig.detector->process(&rig.frame.seq);
    ASSERT_EQ(rig.detector->n_patterns, 1);
    const Pattern* p = rig.detector->patterns[0];
    EXPECT_EQ(p->x, 100);
    EXPECT_EQ(p->y, 52);
    EXPECT_EQ(p->w, 38);
    EXPECT_FLOAT_EQ(p->scale, 2.0f);
    EXPECT_EQ(p->activation, 0.0f);  // unfused, though the minimum activation is 1.5

    // Three neighbours of one face, the middle one strongest, merge (activation 3); a lone window elsewhere
    // stays at activation 1 and is dropped.
    rig.sw.accept = [](int x, int y, int s) {
        return s == 38 && ((y == 52 && (x == 100 || x == 102 || x == 104)) || (x == 250 && y == 182));
    };
    rig.sw.score = [](int x, int, int) { return x == 102 ? 2.0f : 1.0f + x / 1000.0f; };
    rig.detector->process(&rig.frame.seq);
    ASSERT_EQ(rig.detector->n_patterns, 1);
    p = rig.detector->patterns[0];
    EXPECT_EQ(p->x, 102);
    EXPECT_EQ(p->y, 52);
    EXPECT_EQ(p->activation, 3.0f);
}

TEST(MultiScaleScan, NoFusionOutputsTheRawWindows) {
    Rig rig(38, 240, 0, 1, 0, 1, false);
    rig.sw.accept = [](int x, int y, int s) { return s == 57 && y == 2 && x < 20; };
    rig.detector->process(&rig.frame.seq);
    ASSERT_EQ(rig.detector->n_patterns, 5);  // x = 2, 6, 10, 14, 18
    EXPECT_EQ(rig.detector->patterns[4]->x, 18);
    EXPECT_FLOAT_EQ(rig.detector->patterns[4]->scale, 3.0f);
}

TEST(MultiScaleScan, RegionsOfInterestAreUsedPerFrame) {
    Rig rig;
    int rois[] = {40, 30, 60, 60, 150, 100, 120, 120};
    rig.detector->setROIs(2, rois);
    // Regions are given afresh on every frame, so many frames never overflow the scanners' room.
    for (int i = 0; i < 300; i++) {
        rig.sw.windows.clear();
        rig.detector->process(&rig.frame.seq);
    }
    for (auto& w : rig.sw.windows) {
        const bool in_first = w.x >= 40 && w.y >= 30 && w.x + w.size < 40 + 60 && w.y + w.size < 30 + 60;
        const bool in_second = w.x >= 150 && w.y >= 100 && w.x + w.size < 270 && w.y + w.size < 220;
        EXPECT_TRUE(in_first || in_second) << w.x << "," << w.y << " " << w.size;
    }
    // Levels wider than both regions are skipped: the second region (120 x 120) allows up to 114.
    EXPECT_EQ(rig.sw.per_size.count(133), 0u);
    EXPECT_GT(rig.sw.per_size[114], 0);
    EXPECT_GT(rig.sw.per_size[38], 0);

    // A region reaching past the frame is cut at the frame's own scanning limit.
    int wide[] = {200, 150, 500, 500};
    rig.detector->setROIs(1, wide);
    rig.sw.windows.clear();
    rig.detector->process(&rig.frame.seq);
    ASSERT_FALSE(rig.sw.windows.empty());
    for (auto& w : rig.sw.windows) {
        EXPECT_LE(w.x + w.size, 319);
        EXPECT_LE(w.y + w.size, 239);
    }
}

TEST(PatternList, FullListWarnsAndDropsNonPositiveCapacityOnlyCounts) {
    dtest::CaptureMessages log;
    PatternList list(19, 19, 1000);
    // Once per frame (until the list is cleared), however many windows are dropped.
    for (int frame = 0; frame < 2; frame++) {
        list.clear();
        for (int i = 0; i < 1500; i++) list.add(i, 0, 38, 38, 1.0f, 0);
        EXPECT_EQ(list.count, 1000);
        EXPECT_EQ(list.patterns[999].x, 999);
        ASSERT_EQ(log.warnings.size(), frame + 1u);
        EXPECT_EQ(log.warnings[frame], "The maximum of patterns (1000) is reached.\n");
    }

    PatternList counting(19, 19, 0);
    EXPECT_EQ(log.warnings.back(), "max_patterns (0) is not positive. All patterns will be counted but not stored.");
    for (int i = 0; i < 5; i++) counting.add(i, 0, 19, 19, 1.0f, 0);
    EXPECT_EQ(counting.count, 5);
    EXPECT_EQ(counting.stored(), 0);
}

TEST(PatternList, NewPatternHoldsThePatternSizeAndPrints) {
    Pattern p(19, 21);
    EXPECT_EQ(p.w, 19);
    EXPECT_EQ(p.h, 21);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.confidence, 0.0f);
    p.x = 3;
    p.confidence = 1.25f;
    dtest::CaptureMessages log;
    p.print();
    EXPECT_EQ(log.printed(), "x=3 y=0 w=19 h=21 scale=0.000 view=0 confidence=1.250 activation=0.000\n");
    p.reset();
    EXPECT_EQ(p.w, 0);
}

TEST(MultiScaleScan, MoreDetectionsThanTheFusionHoldsStillReportThisFrame) {
    Rig rig;
    // Frame 1: one face of three windows on the right.
    rig.sw.accept = [](int x, int y, int s) { return s == 38 && y == 102 && (x == 250 || x == 252 || x == 254); };
    rig.sw.score = [](int x, int, int) { return x == 252 ? 2.0f : 1.0f; };
    rig.detector->process(&rig.frame.seq);
    ASSERT_EQ(rig.detector->n_patterns, 1);
    EXPECT_EQ(rig.detector->patterns[0]->x, 252);

    // Frame 2: 110 windows along one row on the left, more than the fusion's room of 100. The result is
    // about them, never the previous frame's face.
    rig.sw.accept = [](int x, int y, int s) { return s == 38 && y == 52 && x >= 60 && x < 280; };
    rig.sw.score = [](int x, int, int) { return 2.0f - std::abs(x - 170) / 200.0f; };
    rig.detector->process(&rig.frame.seq);
    EXPECT_EQ(rig.detector->raw->count, 110);
    ASSERT_GE(rig.detector->n_patterns, 1);
    for (int i = 0; i < rig.detector->n_patterns; i++) {
        const Pattern* p = rig.detector->patterns[i];
        EXPECT_GE(p->x, 60);
        EXPECT_LT(p->x, 280);
        EXPECT_EQ(p->y, 52);
        EXPECT_GE(p->activation, 1.5f);
    }
}

TEST(MultiScaleScan, ManyFacesBeyondTheFusionsRoomAreFusedGroupByGroup) {
    // Twelve faces of ten neighbouring windows each (120 windows; the tracker's fusion holds 100), apart
    // from one another and each weaker than the one before. Fused group by group they come out as a
    // fusion with room for all of them gives them; the fusion alone keeps the ten strongest faces.
    auto face = [](int x, int y) { return ((x - 2) / 90) + 3 * ((y - 2) / 50); };
    auto run = [&](int capacity, FusionOverflow overflow) {
        Frame frame{320, 240};
        dtest::fillNoise(frame, 7, 0.1f, 0.9f);
        ipIntegralImage ii{320, 240, "gray", true};
        RecordingClassifier sw{320, 240};
        sw.accept = [](int x, int y, int s) { return s == 38 && (y - 2) % 50 == 0 && y <= 152 && x < 260 && (x - 2) % 90 < 20; };
        sw.score = [&](int x, int y, int) { return 3.0f - 0.1f * face(x, y) - std::abs((x - 2) % 90 - 10) / 1000.0f; };
        meanRectPatternMerger merger;
        ViewPatternFusion fusion{&merger, 0, capacity};
        fusion.setParameters(0.9f, 0.0f, true, 1.5f);
        MSPatternDetect detector(&sw, &fusion, &ii, 320, 240, 19, 19, 38, 38, 0.0625f, 0.125f, 0.125f, 0, 1, 0, 1,
                                 nullptr, 0, 1.0f, 1000, false);
        detector.setBoolOption("force sw multiple mw", true);
        detector.init();
        detector.overflow = overflow;
        detector.process(&frame.seq);
        EXPECT_EQ(detector.raw->count, 120);
        std::set<std::vector<int>> found;
        std::set<int> faces;
        for (int i = 0; i < detector.n_patterns; i++) {
            const Pattern* p = detector.patterns[i];
            found.insert({p->x, p->y, p->w, (int)p->activation});
            faces.insert(face(p->x, p->y));
        }
        return std::make_pair(found, faces);
    };
    const auto all = run(1000, FusionOverflow::MostConfident);
    ASSERT_EQ(all.second.size(), 12u);
    const auto groups = run(100, FusionOverflow::Groups);
    EXPECT_EQ(groups.first, all.first);
    const auto strongest = run(100, FusionOverflow::MostConfident);
    EXPECT_EQ(strongest.second.size(), 10u);
    EXPECT_EQ(strongest.second.count(10) + strongest.second.count(11), 0u);
}
