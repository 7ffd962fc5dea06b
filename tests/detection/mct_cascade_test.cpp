// Census codes and mask geometry, the cascade's stage and detector thresholds, the loader's checks, and the
// classifier's fast window path against the weak classifiers' own transforms.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "cascade_fixture.h"
#include "detection/MctLutClassifier.h"
#include "detection/ipIntegralImage.h"
#include "detection/ipMCT.h"
#include "detection/ipSWmctMS.h"
#include "detection_test_util.h"
#include "tests/visionlib/fatal.h"

using namespace vision;
using cascade_fixture::Cascade;
using cascade_fixture::Stage;
using cascade_fixture::TempDir;
using cascade_fixture::Weak;
using dtest::Frame;

namespace {

struct Integral {
    Frame frame;
    ipIntegralImage ii;
    Integral(int w, int h) : frame(w, h), ii(w, h, "gray", true) {}
    void update() { ii.process(&frame.seq); }
};

// Code of the mask at `location` for a window of `size` at (x, y).
int codeAt(Integral& in, int location, int size, int x, int y) {
    ipMCT mct(19, 19, location % 17, location / 17);
    mct.setImageSize(in.frame.width, in.frame.height);
    mct.setSize(size);
    mct.setXY(x, y);
    mct.process(in.ii.output);
    return mct.code();
}

Weak constantWeak(int location, float value, float weight) {
    Weak w;
    w.location = location;
    w.weight = weight;
    w.lut.fill(value);
    return w;
}

Cascade oneStage(float threshold, std::vector<Weak> weak) {
    Cascade c;
    Stage s;
    s.threshold = threshold;
    s.weak = std::move(weak);
    c.stages.push_back(s);
    return c;
}

// Three stages of 4, 9 and 25 weak classifiers with random locations, weights and tables.
Cascade randomCascade() {
    Cascade c;
    unsigned r = 17;
    auto rnd = [&r]() {
        r = r * 1103515245u + 12345u;
        return (float)((r >> 8) & 0xffff) / 65535.0f;
    };
    const int sizes[] = {4, 9, 25};
    const float thresholds[] = {-0.6f, -1.0f, -2.0f};
    for (int s = 0; s < 3; s++) {
        Stage st;
        st.threshold = thresholds[s];
        for (int j = 0; j < sizes[s]; j++) {
            Weak w;
            w.location = (int)(rnd() * 288.99f);
            w.weight = 0.2f + rnd();
            for (float& v : w.lut) v = rnd() * 2 - 1;
            st.weak.push_back(w);
        }
        c.stages.push_back(st);
    }
    return c;
}

// A noisy frame with some smooth structure, so that codes are not all noise.
void fillTexture(Integral& in, unsigned seed) {
    dtest::fillNoise(in.frame, seed, 0.05f, 0.95f);
    for (int y = 0; y < in.frame.height; y++)
        for (int x = 0; x < in.frame.width; x++)
            in.frame.at(x, y) = 0.5f * in.frame.at(x, y) + 0.25f * (1 + std::sin(x * 0.3f + y * 0.2f));
    in.update();
}

// A textured frame and the random cascade written beside it.
struct TexturedCascade {
    TempDir dir;
    Integral in;
    std::string path;
    TexturedCascade(int w, int h, unsigned texture) : in(w, h), path(dir.file("random.cascade")) {
        fillTexture(in, texture);
        cascade_fixture::write(path, randomCascade());
    }
};

}  // namespace

TEST(Mct, UniformZeroAndSingleCellBlocks) {
    Integral in(40, 40);
    for (int i = 0; i < 40 * 40; i++) in.frame.data()[i] = 0.5f;
    in.update();
    EXPECT_EQ(codeAt(in, 0, 19, 5, 5), 511);  // each cell exceeds the total x 0.111111, just under a ninth

    for (int i = 0; i < 40 * 40; i++) in.frame.data()[i] = 0;
    in.update();
    EXPECT_EQ(codeAt(in, 0, 19, 5, 5), 0);

    // One bright cell of the block at (5, 5): the top-left cell is bit 8, row-major down to bit 0.
    struct Case {
        int dx, dy, code;
    } cases[] = {{0, 0, 256}, {1, 0, 128}, {2, 0, 64}, {0, 1, 32}, {1, 1, 16},
                 {2, 1, 8},   {0, 2, 4},   {1, 2, 2},  {2, 2, 1}};
    for (const Case& c : cases) {
        for (int i = 0; i < 40 * 40; i++) in.frame.data()[i] = 0.2f;
        in.frame.at(5 + c.dx, 5 + c.dy) = 0.9f;
        in.update();
        EXPECT_EQ(codeAt(in, 0, 19, 5, 5), c.code) << c.dx << "," << c.dy;
    }
    // Two bright cells: top-left and bottom-right.
    in.frame.at(5, 5) = 0.9f;
    in.update();
    EXPECT_EQ(codeAt(in, 0, 19, 5, 5), 257);
}

TEST(Mct, MaskPlacementFollowsTheLocation) {
    // A 19-pixel window at (X, Y): LOCATION 0 covers columns X..X+2 and rows Y..Y+2, 16 starts at column
    // X + 16, 17 at row Y + 1.
    const int X = 7, Y = 4;
    struct Case {
        int location, bright_x, bright_y, code;
    } cases[] = {
        {0, X, Y, 256},      {0, X + 2, Y + 2, 1}, {0, X + 3, Y, 0},      {16, X + 16, Y, 256},
        {16, X + 15, Y, 0},  {16, X + 18, Y, 64},  {17, X, Y + 1, 256},   {17, X, Y, 0},
        {288, X + 18, Y + 18, 1},
    };
    Integral in(40, 40);
    for (const Case& c : cases) {
        for (int i = 0; i < 40 * 40; i++) in.frame.data()[i] = 0;
        in.frame.at(c.bright_x, c.bright_y) = 1.0f;
        in.update();
        EXPECT_EQ(codeAt(in, c.location, 19, X, Y), c.code) << "location " << c.location;
    }
}

TEST(Mct, CellCutsAndCornerFollowTheScale) {
    struct Case {
        int size, m, cut, cut2;
    } cases[] = {{19, 3, 1, 2}, {38, 6, 2, 4}, {50, 8, 3, 5}, {57, 9, 3, 6}};
    for (const Case& c : cases) {
        ipMCT mct(19, 19, 4, 2);
        mct.setSize(c.size);
        EXPECT_EQ(mct.m, c.m) << c.size;
        EXPECT_EQ(mct.cut, c.cut) << c.size;
        EXPECT_EQ(mct.cut2, c.cut2) << c.size;
    }

    // Window 38 and then 57 at the same position: the corner is taken at the new scale.
    Integral in(120, 120);
    dtest::fillNoise(in.frame, 5, 0, 1);
    in.update();
    ipMCT mct(19, 19, 4, 2);
    mct.setImageSize(120, 120);
    mct.setSize(38);
    mct.setXY(10, 20);
    mct.process(in.ii.output);
    EXPECT_EQ(mct.corner_x, 10 + 8 - 1);
    EXPECT_EQ(mct.corner_y, 20 + 4 - 1);
    mct.setSize(57);
    mct.setXY(10, 20);
    mct.process(in.ii.output);
    EXPECT_EQ(mct.corner_x, 10 + 12 - 1);
    EXPECT_EQ(mct.corner_y, 20 + 6 - 1);
    EXPECT_EQ(mct.code(), codeAt(in, 2 * 17 + 4, 57, 10, 20));
}

TEST(Mct, CodesMatchPixelSumsOnExactValues) {
    // Whole gray levels keep every integral-image sum exact, so the codes must equal those of the cells'
    // pixel sums.
    Integral in(90, 70);
    dtest::fillNoise(in.frame, 11, 0, 255);
    for (int i = 0; i < 90 * 70; i++) in.frame.data()[i] = std::floor(in.frame.data()[i]);
    in.update();
    for (int size : {19, 24, 38, 43, 50}) {
        ipMCT probe(19, 19, 0, 0);
        probe.setSize(size);
        const int at[4] = {0, probe.cut, probe.cut2, probe.m};
        for (int location : {0, 8, 16, 100, 144, 288}) {
            for (int wx = 1; wx + size < 89; wx += 7) {
                const int wy = 3;
                ipMCT ref(19, 19, location % 17, location / 17);
                ref.setSize(size);
                const int px = wx + ref.cornerDx() + 1, py = wy + ref.cornerDy() + 1;
                double cell[9], total = 0;
                for (int r = 0; r < 3; r++)
                    for (int c = 0; c < 3; c++) {
                        double s = 0;
                        for (int yy = at[r]; yy < at[r + 1]; yy++)
                            for (int xx = at[c]; xx < at[c + 1]; xx++) s += in.frame.at(px + xx, py + yy);
                        cell[r * 3 + c] = s;
                        total += s;
                    }
                const float mean = (float)(total * 0.111111);
                int code = 0;
                for (int k = 0; k < 9; k++) code = (code << 1) | (cell[k] > mean);
                EXPECT_EQ(codeAt(in, location, size, wx, wy), code) << size << " " << location << " " << wx;
            }
        }
    }
}

TEST(MctCascade, StageAndDetectorThresholdsIncludeTheirEnds) {
    TempDir dir;
    Integral in(60, 60);
    dtest::fillNoise(in.frame, 2, 0, 1);
    in.update();
    const std::string path = dir.file("c.cascade");
    // Two stages: 0.5 x 2 = 1 and then 1.5 x 2 = 3.
    auto build = [&](float t0, float t1) {
        Cascade c = oneStage(t0, {constantWeak(0, 0.5f, 2.0f)});
        Stage s;
        s.threshold = t1;
        s.weak = {constantWeak(100, 1.5f, 2.0f)};
        c.stages.push_back(s);
        cascade_fixture::write(path, c);
    };
    struct Case {
        float t0, t1, detector;
        bool accepted;
        int rejected_at;
    } cases[] = {
        {1.0f, 3.0f, 3.0f, true, -1},
        {std::nextafter(1.0f, 2.0f), 3.0f, 3.0f, false, 0},
        {1.0f, std::nextafter(3.0f, 4.0f), 3.0f, false, 1},
        {1.0f, 3.0f, std::nextafter(3.0f, 4.0f), false, 1},
    };
    for (const Case& c : cases) {
        build(c.t0, c.t1);
        ipSWmctMS sw(in.ii.sums(), 60, 60, 19, 19, path.c_str(), c.detector, false);
        sw.setSize(19, 19);
        sw.setX(10);
        sw.setY(10);
        sw.process(nullptr);
        EXPECT_EQ(sw.is_pattern, c.accepted);
        EXPECT_EQ(sw.confidence(), c.accepted ? 3.0f : -FLT_MAX);
        for (int s = 0; s < 2; s++) EXPECT_EQ(sw.rejections[s], s == c.rejected_at ? 1 : 0);
        EXPECT_EQ(sw.view, 0);
    }
}

TEST(MctCascade, StageSumsAddInFileOrderInSinglePrecision) {
    TempDir dir;
    Integral in(40, 40);
    dtest::fillNoise(in.frame, 4, 0, 1);
    in.update();
    const std::string path = dir.file("order.cascade");
    // (1e8 + 1) - 1e8 is 0 in single precision; any other order gives 1.
    cascade_fixture::write(path, oneStage(-1.0f, {constantWeak(0, 1e8f, 1.0f), constantWeak(1, 1.0f, 1.0f),
                                                  constantWeak(2, -1e8f, 1.0f)}));
    ipSWmctMS sw(in.ii.sums(), 40, 40, 19, 19, path.c_str(), -1.0f, false);
    sw.setSize(19, 19);
    sw.setX(5);
    sw.setY(5);
    sw.process(nullptr);
    EXPECT_TRUE(sw.is_pattern);
    EXPECT_EQ(sw.confidence(), 0.0f);
}

TEST(MctCascade, WindowDecisionsMatchTheWeakClassifiers) {
    const int W = 110, H = 90;
    TexturedCascade t(W, H, 9);
    ipSWmctMS sw(t.in.ii.sums(), W, H, 19, 19, t.path.c_str(), -3.0f, false);

    int accepted = 0, rejected = 0;
    for (int size : {19, 24, 38, 43, 57, 61}) {
        sw.setSize(size, size);
        for (int y = 1; y + size + 1 < H; y += 3)
            for (int x = 1; x + size + 1 < W; x += 2) {
                sw.setX(x);
                sw.setY(y);
                sw.process(nullptr);
                // The same decision, one weak classifier's census transform at a time.
                bool is_pattern = true;
                float sum = 0;
                for (int s = 0; s < sw.n_stages && is_pattern; s++) {
                    sum = 0;
                    for (int j = 0; j < sw.n_trainers[s]; j++) {
                        MctLutClassifier* t = sw.trainers[s][j];
                        t->mct->setSize(size);
                        t->mct->setXY(x, y);
                        t->forward(sw.input);
                        sum = sum + t->outputs->frames[0][0] * sw.weights[s][j];
                    }
                    if (sum < sw.thresholds[s]) is_pattern = false;
                }
                if (is_pattern && sum < -3.0f) is_pattern = false;
                ASSERT_EQ(sw.is_pattern, is_pattern) << size << " " << x << "," << y;
                if (is_pattern) {
                    ASSERT_EQ(sw.confidence(), sum);
                    accepted++;
                } else {
                    rejected++;
                }
            }
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(rejected, 100);
}

// A row handed over at once (in lanes of neighbouring or gathered windows where the processor allows it,
// with or without a code image) gets the decisions, confidences to the bit, rejections and final state of
// the same windows one by one: every grid step, gaps in the row, windows reaching past any edge, rows of
// one window, cells of unequal sizes (24 wide), and a code image set up again over a changed frame.
TEST(MctCascade, RowsDecideAsWindowByWindow) {
    const int W = 130, H = 100;
    TexturedCascade t(W, H, 5);
    ipSWmctMS rows(t.in.ii.sums(), W, H, 19, 19, t.path.c_str(), -3.0f, false);
    ipSWmctMS single(t.in.ii.sums(), W, H, 19, 19, t.path.c_str(), -3.0f, false);
    single.setBoolOption("batch rows", false);

    unsigned r = 3;
    int accepted = 0, decided = 0;
    std::vector<int> xs;
    std::vector<ipSubWindow::Decision> got(W + 8), want(W + 8);
    for (int size : {19, 24, 38, 57, 76}) {
        rows.setSize(size, size);
        single.setSize(size, size);
        for (int step : {1, 2, 3, 4, 5, 8})
            for (int pass = 0; pass < 3; pass++) {
                // Pass 0: a grid too sparse for a code image; 1: a code image; 2: one over another frame.
                fillTexture(t.in, pass == 2 ? 6 : 5);
                rows.beginScan(pass == 0 ? 1000 : 1, pass == 0 ? 1000 : 1);
                for (int y = 0; y + size <= H + 2; y += 7) {
                    // The grid from the left edge to past the right one, a window in three or four missing.
                    xs.clear();
                    for (int x = 0; x + size <= W + 2; x += step) {
                        r = r * 1103515245u + 12345u;
                        if ((r >> 16) % 4 != 0 || step == 8) xs.push_back(x);
                    }
                    for (int len : {(int)xs.size(), 1}) {
                        SCOPED_TRACE(testing::Message() << size << " step " << step << " pass " << pass
                                                        << " row " << y << " of " << len);
                        rows.processRow(nullptr, y, xs.data(), len, got.data());
                        single.setY(y);
                        for (int i = 0; i < len; i++) {
                            single.setX(xs[i]);
                            single.process(nullptr);
                            want[i] = {single.is_pattern, single.confidence(), single.view};
                        }
                        for (int i = 0; i < len; i++) {
                            ASSERT_EQ(got[i].is_pattern, want[i].is_pattern) << "x " << xs[i];
                            ASSERT_EQ(std::memcmp(&got[i].confidence, &want[i].confidence, 4), 0)
                                << "x " << xs[i];
                            ASSERT_EQ(got[i].view, want[i].view);
                            accepted += got[i].is_pattern;
                        }
                        decided += len;
                        for (int s = 0; s < rows.n_stages; s++)
                            ASSERT_EQ(rows.rejections[s], single.rejections[s]);
                        ASSERT_EQ(rows.x, single.x);
                        ASSERT_EQ(rows.is_pattern, single.is_pattern);
                        ASSERT_EQ(rows.confidence(), single.confidence());
                    }
                }
            }
    }
    EXPECT_GT(accepted, 200);
    EXPECT_GT(decided - accepted, 200);
}

TEST(MctCascade, WindowsReachingOutsideTheImageAreRejected) {
    TempDir dir;
    Integral in(40, 40);
    dtest::fillNoise(in.frame, 4, 0, 1);
    in.update();
    const std::string path = dir.file("c.cascade");
    cascade_fixture::write(path, oneStage(-1.0f, {constantWeak(0, 1.0f, 1.0f), constantWeak(288, 1.0f, 1.0f)}));
    ipSWmctMS sw(in.ii.sums(), 40, 40, 19, 19, path.c_str(), -1.0f, false);
    sw.setSize(19, 19);
    struct Case {
        int x, y;
        bool inside;
    } cases[] = {{1, 1, true}, {0, 5, false}, {5, 0, false}, {21, 21, true}, {22, 5, false}, {5, 22, false}};
    for (const Case& c : cases) {
        sw.setX(c.x);
        sw.setY(c.y);
        sw.process(nullptr);
        EXPECT_EQ(sw.is_pattern, c.inside) << c.x << "," << c.y;
    }
}

TEST(MctCascade, StatPrintsPercentagesAndCopesWithNoRejections) {
    TempDir dir;
    Integral in(40, 40);
    in.update();
    const std::string path = dir.file("c.cascade");
    Cascade c = oneStage(0.5f, {constantWeak(0, 1.0f, 1.0f)});
    c.stages.push_back(oneStage(2.0f, {constantWeak(1, 1.0f, 1.0f)}).stages[0]);
    cascade_fixture::write(path, c);
    ipSWmctMS sw(in.ii.sums(), 40, 40, 19, 19, path.c_str(), 0.0f, false);
    {
        dtest::CaptureMessages log;
        sw.stat();
        EXPECT_EQ(log.printed(),
                  "    rejections per stages:\n      + stage 0: 0 \t 0.00 %\n      + stage 1: 0 \t 0.00 %\n\n");
    }
    sw.setSize(19, 19);
    sw.setX(5);
    sw.setY(5);
    sw.process(nullptr);  // fails stage 1
    dtest::CaptureMessages log;
    sw.stat();
    EXPECT_EQ(log.printed(),
              "    rejections per stages:\n      + stage 0: 0 \t 0.00 %\n      + stage 1: 1 \t 100.00 %\n\n");
}

TEST(MctCascade, LoaderRefusesBrokenFiles) {
    TempDir dir;
    Integral in(40, 40);
    in.update();
    const std::string path = dir.file("bad.cascade");
    auto good = [] { return oneStage(0.0f, {constantWeak(0, 1.0f, 1.0f), constantWeak(5, 1.0f, 1.0f)}); };
    auto load = [&] { ipSWmctMS sw(in.ii.sums(), 40, 40, 19, 19, path.c_str(), 0.0f, false); };

    struct Case {
        const char* what;
        std::function<void(Cascade&)> spoil;
        std::string text;
    } cases[] = {
        {"width 24", [](Cascade& c) { c.width = 24; }, "ipSWmctMS: model wrong size"},
        {"height 20", [](Cascade& c) { c.height = 20; }, "ipSWmctMS: model wrong size"},
        {"no stage", [](Cascade& c) { c.stages.clear(); },
         "ipSWmctMS: wrong number of stages (0) in model " + path},
        {"empty stage", [](Cascade& c) { c.stages[0].weak.clear(); },
         "ipSWmctMS: wrong number of weak classifiers (0) in stage 0 of model " + path},
        {"location 289", [](Cascade& c) { c.stages[0].weak[1].location = 289; },
         "MctLutClassifier: location 289 is outside the pattern (0..288)."},
        {"location -1", [](Cascade& c) { c.stages[0].weak[0].location = -1; },
         "MctLutClassifier: location -1 is outside the pattern (0..288)."},
        {"table NaN", [](Cascade& c) { c.stages[0].weak[1].lut[7] = std::numeric_limits<float>::quiet_NaN(); },
         "MctLutClassifier: entry 7 of the look-up table is not a number."},
        {"threshold inf", [](Cascade& c) { c.stages[0].threshold = INFINITY; },
         "ipSWmctMS: the threshold of stage 0 in model " + path + " is not a number"},
        {"weight NaN", [](Cascade& c) { c.stages[0].weak[1].weight = NAN; },
         "ipSWmctMS: weight 1 of stage 0 in model " + path + " is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cascade cascade = good();
        c.spoil(cascade);
        cascade_fixture::write(path, cascade);
        EXPECT_FATAL(load(), c.text);
    }

    // A file cut inside the last table.
    cascade_fixture::write(path, good());
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);
    EXPECT_FATAL(load(), "XFile: tag <LUT> has a corrupted size!");

    // The limits: a file at a limit loads, one beyond it is refused naming the limit (before anything
    // is read or allocated for what it counts).
    const std::string tooManyWeak = "ipSWmctMS: model " + path + " has more than the limit of 2048 weak classifiers";
    struct Limit {
        const char* what;
        std::vector<int> stages;  // weak classifiers per stage
        std::string refusal;      // empty: it loads
    } limits[] = {
        {"64 stages", std::vector<int>(64, 1), ""},
        {"65 stages", std::vector<int>(65, 1), "ipSWmctMS: model " + path + " has 65 stages, more than the limit of 64"},
        {"2,048 weak classifiers in one stage", {2048}, ""},
        {"2,048 over two stages", {2000, 48}, ""},
        {"2,049 in one stage", {2049}, tooManyWeak},
        {"2,049 over two stages", {2000, 49}, tooManyWeak},
    };
    for (const Limit& l : limits) {
        SCOPED_TRACE(l.what);
        Cascade c;
        for (int n : l.stages) c.stages.push_back(oneStage(0.0f, std::vector<Weak>(n, constantWeak(0, 1.0f, 1.0f))).stages[0]);
        cascade_fixture::write(path, c);
        if (l.refusal.empty()) {
            ipSWmctMS sw(in.ii.sums(), 40, 40, 19, 19, path.c_str(), 0.0f, false);
            EXPECT_EQ(sw.n_stages, (int)l.stages.size());
        } else {
            EXPECT_FATAL(load(), l.refusal);
        }
    }

    const std::string missing = dir.file("missing.cascade");
    EXPECT_FATAL(ipSWmctMS(in.ii.sums(), 40, 40, 19, 19, missing.c_str(), 0.0f, false),
                 "DiskXFile: cannot open <" + missing + "> in mode <r>. Sorry.");

    // The good file loads: locations become mask positions (location mod 17, location div 17).
    Cascade ok = good();
    ok.stages[0].weak[1].location = 17 * 3 + 16;
    cascade_fixture::write(path, ok);
    ipSWmctMS sw(in.ii.sums(), 40, 40, 19, 19, path.c_str(), 0.0f, false);
    EXPECT_EQ(sw.n_stages, 1);
    EXPECT_EQ(sw.n_trainers[0], 2);
    EXPECT_EQ(sw.mcts[0][1]->x_mask, 16);
    EXPECT_EQ(sw.mcts[0][1]->y_mask, 3);
    EXPECT_EQ(sw.trainers[0][1]->location, 67);
}

TEST(MctCascade, NonSquarePatternIsFatal) {
    EXPECT_FATAL(ipMCT(19, 20, 0, 0), "ipMCT: not designed for width_pattern != height_pattern");
}
