// Overlap ratios, the fusion's worked examples, activation and suppression, capacity, views, and the mergers.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "detection/PatternFusion.h"
#include "detection/PatternMerger.h"

using namespace vision;

namespace {

// Patterns built from (x, y, size, confidence[, view]) and handed to a fusion as pointers.
struct Input {
    std::vector<Pattern> store;
    std::vector<Pattern*> ptrs;
    explicit Input(std::initializer_list<std::vector<float>> rows) : store(rows.size()) {
        int i = 0;
        for (const auto& r : rows) {
            Pattern& p = store[i++];
            p.x = (int)r[0];
            p.y = (int)r[1];
            p.w = p.h = (int)r[2];
            p.confidence = r[3];
            p.view = r.size() > 4 ? (int)r[4] : 0;
            p.scale = p.w / 19.0f;
        }
        for (auto& p : store) ptrs.push_back(&p);
    }
    Pattern** data() { return ptrs.data(); }
    int size() const { return (int)ptrs.size(); }
};

}  // namespace

TEST(Overlap, RatioOfTheLargerBoxAndTouchingBoxes) {
    struct Case {
        int ax, ay, as, bx, by, bs;  // two squares
        float ratio;
        bool a_smaller;
    } cases[] = {
        {0, 0, 20, 5, 0, 20, 0.75f, false},    // a quarter of the width apart
        {0, 0, 20, 20, 0, 20, 0.0f, false},    // touching
        {0, 0, 20, 21, 0, 20, 0.0f, false},    // apart
        {0, 0, 10, 0, 0, 20, 0.25f, true},     // inside: 100 / 400
        {0, 0, 20, 10, 10, 10, 0.25f, false},
        {0, 0, 10, 30, 30, 20, 0.0f, false},   // smaller but not meeting
    };
    for (const Case& c : cases) {
        Input in({{(float)c.ax, (float)c.ay, (float)c.as, 0}, {(float)c.bx, (float)c.by, (float)c.bs, 0}});
        const Pattern &a = in.store[0], &b = in.store[1];
        EXPECT_FLOAT_EQ(patternOverlap(a, b), c.ratio);
        EXPECT_FLOAT_EQ(patternOverlap(b, a), c.ratio);
        EXPECT_EQ(patternIsSmaller(a, b), c.a_smaller);
    }
}

TEST(Fusion, QuarterOffsetLinksUnderPoint6NotUnderPoint9) {
    meanRectPatternMerger merger;
    ViewPatternFusion fusion(&merger, 0, 100);
    Input in({{0, 0, 20, 2.0f}, {5, 0, 20, 1.0f}});

    fusion.setParameters(0.6f, 0.0f, true, 1.5f);
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    ASSERT_EQ(fusion.count, 1);
    EXPECT_EQ(fusion.output[0]->x, 2);  // (10 + 15) / 2 - 10, truncated
    EXPECT_EQ(fusion.output[0]->activation, 2.0f);

    fusion.setParameters(0.9f, 0.0f, true, 1.5f);
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    ASSERT_EQ(fusion.count, 2);
    for (int i = 0; i < 2; i++) EXPECT_EQ(fusion.output[i]->activation, 1.0f);
}

TEST(Fusion, ChainOfThreeWorkedExamples) {
    // A (0, 0), B (6, 0), C (12, 0), 20 x 20: A-B and B-C overlap by 0.7, A-C by 0.4.
    struct Case {
        float ca, cb, cc;
        int x;
        float confidence, activation;
    } cases[] = {
        {3, 2, 1, 9, 1.5f, 2},  // A strongest: the mean of B and C; A is part of no result
        {2, 3, 1, 6, 2.0f, 3},  // B strongest: the mean of all three
    };
    for (const Case& c : cases) {
        meanRectPatternMerger merger;
        ViewPatternFusion fusion(&merger, 0, 100);
        fusion.setParameters(0.6f, 0.0f, true, 1.5f);
        Input in({{0, 0, 20, c.ca}, {6, 0, 20, c.cb}, {12, 0, 20, c.cc}});
        ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
        ASSERT_EQ(fusion.count, 1);
        const Pattern& p = *fusion.output[0];
        EXPECT_EQ(p.x, c.x);
        EXPECT_EQ(p.y, 0);
        EXPECT_EQ(p.w, 20);
        EXPECT_EQ(p.h, 20);
        EXPECT_FLOAT_EQ(p.confidence, c.confidence);
        EXPECT_EQ(p.activation, c.activation);
        // The input is only read.
        EXPECT_EQ(in.store[0].x, 0);
        EXPECT_EQ(in.store[0].activation, 0.0f);
    }
}

TEST(Fusion, MutualOverlapsMergeDisjointWindowsStaySingle) {
    meanRectPatternMerger merger;
    ViewPatternFusion fusion(&merger, 0, 100);
    fusion.setParameters(0.6f, 0.0f, true, 1.5f);
    Input in({{100, 100, 40, 1.0f}, {102, 101, 40, 3.0f}, {101, 103, 40, 2.0f}, {0, 0, 30, 5.0f}, {200, 0, 30, 4.0f}});
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    ASSERT_EQ(fusion.count, 3);
    EXPECT_EQ(fusion.output[0]->activation, 3.0f);  // sorted by activation
    EXPECT_FLOAT_EQ(fusion.output[0]->confidence, 2.0f);
    EXPECT_EQ(fusion.output[0]->x, 101);
    EXPECT_EQ(fusion.output[0]->y, 101);
    EXPECT_EQ(fusion.output[1]->activation, 1.0f);
    EXPECT_EQ(fusion.output[2]->activation, 1.0f);

    // Without activations the output is sorted by confidence and every activation is 1.
    fusion.setParameters(0.6f, 0.0f, false, 1.5f);
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    ASSERT_EQ(fusion.count, 3);
    EXPECT_FLOAT_EQ(fusion.output[0]->confidence, 5.0f);
    EXPECT_FLOAT_EQ(fusion.output[2]->confidence, 2.0f);
    for (int i = 0; i < 3; i++) EXPECT_EQ(fusion.output[i]->activation, 1.0f);
}

TEST(Fusion, NoOverlapAnywhereGivesEveryPatternWithActivationOne) {
    meanRectPatternMerger merger;
    ViewPatternFusion fusion(&merger, -1, 100);
    fusion.setParameters(0.6f, 0.0f, true, 1.5f);
    Input in({{0, 0, 20, 1.0f, 0}, {50, 0, 20, 2.0f, 3}, {100, 0, 20, 3.0f, 7}});
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    ASSERT_EQ(fusion.count, 3);
    std::vector<int> xs;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(fusion.output[i]->activation, 1.0f);
        xs.push_back(fusion.output[i]->x);
    }
    std::sort(xs.begin(), xs.end());
    EXPECT_EQ(xs, (std::vector<int>{0, 50, 100}));
}

TEST(Fusion, SuppressionZeroesTheWeakerOfOverlappingResults) {
    // Two clusters whose fused boxes still overlap by more than 1% (but less than the link overlap): the
    // less confident result ends with activation 0; on equal confidence the larger one does.
    struct Case {
        float c_small, c_large;
        bool large_suppressed;
    } cases[] = {{3.0f, 1.0f, true}, {1.0f, 3.0f, false}, {2.0f, 2.0f, true}};
    for (const Case& c : cases) {
        meanRectPatternMerger merger;
        ViewPatternFusion fusion(&merger, 0, 100);
        fusion.setParameters(0.9f, 0.0f, true, 1.5f);
        // Each cluster: two windows one pixel apart; the clusters overlap partly.
        Input in({{0, 0, 40, c.c_small}, {1, 0, 40, c.c_small}, {30, 0, 60, c.c_large}, {31, 0, 60, c.c_large}});
        ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
        ASSERT_EQ(fusion.count, 2);
        const Pattern* large = fusion.output[0]->w == 60 ? fusion.output[0] : fusion.output[1];
        const Pattern* small = fusion.output[0]->w == 60 ? fusion.output[1] : fusion.output[0];
        EXPECT_EQ(large->activation, c.large_suppressed ? 0.0f : 2.0f);
        EXPECT_EQ(small->activation, c.large_suppressed ? 2.0f : 0.0f);
        EXPECT_EQ(fusion.output[1]->activation, 0.0f);  // sorted by activation
    }
}

TEST(Fusion, CapacityZeroAndMinimumConfidence) {
    meanRectPatternMerger merger;
    ViewPatternFusion fusion(&merger, 0, 100);
    fusion.setParameters(0.6f, 0.0f, true, 1.5f);

    // 101 disjoint windows into room for 100: the 100 most confident are fused, the weakest is left out.
    std::vector<Pattern> many(101);
    std::vector<Pattern*> ptrs;
    for (int i = 0; i < 101; i++) {
        many[i].x = (i % 20) * 30;
        many[i].y = (i / 20) * 30;
        many[i].w = many[i].h = 20;
        many[i].confidence = 1000.0f - i;
        ptrs.push_back(&many[i]);
    }
    ASSERT_TRUE(fusion.fuse(101, ptrs.data()));
    ASSERT_EQ(fusion.count, 100);
    for (int i = 0; i < 100; i++) EXPECT_GT(fusion.output[i]->confidence, 900.0f);
    // Unsorted input too: the weakest is still the one left out.
    std::reverse(ptrs.begin(), ptrs.end());
    ASSERT_TRUE(fusion.fuse(101, ptrs.data()));
    ASSERT_EQ(fusion.count, 100);
    for (int i = 0; i < 100; i++) EXPECT_GT(fusion.output[i]->confidence, 900.0f);

    // Nothing to fuse: refused, and nothing of the previous call is reported.
    EXPECT_FALSE(fusion.fuse(0, ptrs.data()));
    EXPECT_EQ(fusion.count, 0);

    // Patterns below the minimum confidence are ignored; none left is an empty success.
    fusion.setParameters(0.6f, 2.5f, true, 1.5f);
    Input in({{0, 0, 20, 2.0f}, {50, 0, 20, 3.0f}, {100, 0, 20, 2.5f}});
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    EXPECT_EQ(fusion.count, 2);
    fusion.setParameters(0.6f, 10.0f, true, 1.5f);
    EXPECT_TRUE(fusion.fuse(in.size(), in.data()));
    EXPECT_EQ(fusion.count, 0);
}

TEST(Fusion, ViewsAreFusedSeparatelyAndConcatenated) {
    meanRectPatternMerger merger;
    MultiViewPatternFusion fusion(&merger, 3, 2);
    fusion.setParameters(0.6f, 0.0f, true, 1.5f);
    EXPECT_FLOAT_EQ(fusion.fusions[2]->overlap, 0.6f);
    // Views 0 and 2 each have two overlapping windows at the same place; view 5 is beyond the fusion.
    // Five patterns in all exceed each view fusion's room of 2, yet each view holds only its own two.
    Input in({{0, 0, 20, 1.0f, 2}, {1, 0, 20, 2.0f, 0}, {0, 0, 20, 3.0f, 0}, {2, 0, 20, 4.0f, 2},
              {100, 0, 20, 9.0f, 5}});
    ASSERT_TRUE(fusion.fuse(in.size(), in.data()));
    ASSERT_EQ(fusion.count, 2);
    EXPECT_EQ(fusion.output[0]->view, 0);
    EXPECT_EQ(fusion.output[0]->activation, 2.0f);
    EXPECT_FLOAT_EQ(fusion.output[0]->confidence, 2.5f);
    EXPECT_EQ(fusion.output[1]->view, 2);
    EXPECT_EQ(fusion.output[1]->x, 1);

    // A list of accepted views.
    int views[] = {2, 5};
    ViewPatternFusion some(&merger, 2, views, 10);
    some.setParameters(0.6f, 0.0f, true, 1.5f);
    ASSERT_TRUE(some.fuse(in.size(), in.data()));
    ASSERT_EQ(some.count, 2);  // the fused view 2 pair and the view 5 window

    EXPECT_TRUE(fusion.fuse(0, in.data()));
    EXPECT_EQ(fusion.count, 0);
}

TEST(Mergers, MeanTruncatesAndMaxKeepsTheBest) {
    Input in({{10, 10, 21, 1.0f, 1}, {11, 12, 22, 2.0f, 2}, {13, 11, 20, 1.5f, 2}});
    meanRectPatternMerger mean;
    mean.reset();
    for (auto* p : in.ptrs) mean.add(*p);
    Pattern out;
    out.activation = 7;
    ASSERT_TRUE(mean.merge(out));
    EXPECT_EQ(mean.count, 3);
    // centres 20.5, 22, 23 -> 21.8333; mean w 21; x = 21.8333 - 10.5 = 11.33 -> 11
    EXPECT_EQ(out.x, 11);
    EXPECT_EQ(out.w, 21);
    EXPECT_EQ(out.h, 21);
    EXPECT_EQ(out.y, 11);  // centres 20.5, 23, 21 -> 21.5 - 10.5 = 11
    EXPECT_EQ(out.view, 1);  // 5 / 3 truncated
    EXPECT_FLOAT_EQ(out.confidence, 1.5f);
    EXPECT_EQ(out.activation, 7.0f);  // not written
    EXPECT_FLOAT_EQ(mean.max_confidence, 2.0f);

    maxRectPatternMerger best;
    best.reset();
    for (auto* p : in.ptrs) best.add(*p);
    ASSERT_TRUE(best.merge(out));
    EXPECT_EQ(out.x, 11);
    EXPECT_EQ(out.y, 12);
    EXPECT_FLOAT_EQ(out.confidence, 2.0f);
    EXPECT_EQ(best.count, 3);
    // The first pattern after a reset is always taken, whatever its confidence.
    best.reset();
    Input low({{1, 2, 19, -5000.0f}});
    best.add(*low.ptrs[0]);
    best.merge(out);
    EXPECT_EQ(out.x, 1);
}
