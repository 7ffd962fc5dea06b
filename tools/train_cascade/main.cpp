// Trains the frontal MCT cascade (19 x 19 patterns, 512-entry tables over 289 mask locations).
//
//   train_cascade --data DIR --out FILE [--seed N] [--stages N] [--negatives N] [--threads N] [--quick]
//
// Faces: DIR/faces19 and their mirror images, shifted and rescaled by a pixel or so. Non-faces:
// DIR/nonfaces19 for the first stage, then windows of the face-free scenes in DIR/negatives that the
// real scanner passes through the stages trained so far (same steps, scales and brightness gate).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/train_cascade/Boosting.h"
#include "tools/train_cascade/CascadeFile.h"
#include "tools/train_cascade/FrameCodes.h"
#include "tools/train_cascade/Scan.h"

using namespace cascade_training;

namespace {

struct Options {
    std::string data, out;
    unsigned seed = 19;
    int max_stages = 24;
    int negatives = 24000;
    int threads = 4;
    bool quick = false;
};

// A 19 x 19 sample placed in a 23 x 23 frame (edges repeated), resampled with a shift and a scale
// about its centre, then coded as the detector codes a 19-pixel window at (2, 2).
void addPatch(const GrayFrame& patch, float dx, float dy, float scale, SampleSet* set) {
    GrayFrame f;
    f.width = f.height = 23;
    f.pixels.resize(23 * 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 23; ++x) {
            float sx = (x - 11.0f - dx) / scale + 9.0f, sy = (y - 11.0f - dy) / scale + 9.0f;
            sx = std::max(0.0f, std::min(18.0f, sx));
            sy = std::max(0.0f, std::min(18.0f, sy));
            int x0 = std::min(17, static_cast<int>(sx)), y0 = std::min(17, static_cast<int>(sy));
            float ax = sx - x0, ay = sy - y0;
            float v = (1 - ay) * ((1 - ax) * patch.at(x0, y0) + ax * patch.at(x0 + 1, y0)) +
                      ay * ((1 - ax) * patch.at(x0, y0 + 1) + ax * patch.at(x0 + 1, y0 + 1));
            f.pixels[y * 23 + x] = static_cast<unsigned char>(std::lround(v));
        }
    FrameCodes codes(f);
    uint16_t row[kLocations];
    codes.codes(2, 2, 19, row);
    set->add(row);
}

SampleSet loadFaces(const std::string& dir, bool quick) {
    SampleSet set;
    std::vector<std::string> files = listPgm(dir);
    if (quick && files.size() > 300) files.resize(300);
    struct Variant { float dx, dy, scale; };
    const Variant variants[] = {{0, 0, 1}, {1, 0, 1}, {-1, 0, 1}, {0, 1, 1}, {0, -1, 1}, {0, 0, 0.92f}, {0, 0, 1.08f}};
    for (const std::string& path : files) {
        GrayFrame face;
        if (!loadPgm(path, &face) || face.width != 19 || face.height != 19) continue;
        for (const GrayFrame& f : {face, mirrored(face)})
            for (const Variant& v : variants) addPatch(f, v.dx, v.dy, v.scale, &set);
    }
    return set;
}

SampleSet loadPatches(const std::string& dir, bool quick) {
    SampleSet set;
    std::vector<std::string> files = listPgm(dir);
    if (quick && files.size() > 300) files.resize(300);
    for (const std::string& path : files) {
        GrayFrame patch;
        if (loadPgm(path, &patch) && patch.width == 19 && patch.height == 19) addPatch(patch, 0, 0, 1, &set);
    }
    return set;
}

// Windows of the scenes that the cascade in `cascade_path` accepts, at most `per_scene` of each,
// chosen at random; the scenes are scanned as they are and mirrored.
SampleSet bootstrap(const std::vector<GrayFrame>& scenes, const std::string& cascade_path, int wanted,
                    const Options& opt, unsigned stage_seed, long* found_total) {
    std::vector<std::vector<uint16_t>> per_scene(scenes.size());
    std::atomic<size_t> next{0};
    std::atomic<long> found{0};
    const int cap = std::max(4, static_cast<int>(std::ceil(2.0 * wanted / (2 * scenes.size()))));
    auto work = [&]() {
        for (size_t i; (i = next++) < scenes.size();) {
            std::mt19937 rng(stage_seed * 7919u + static_cast<unsigned>(i));
            for (int flip = 0; flip < 2; ++flip) {
                FrameCodes frame(flip ? mirrored(scenes[i]) : scenes[i]);
                ScanSettings s;
                s.force_multiple = false;  // every window size, not only the tracker's levels
                s.fuse = false;
                s.threshold = -3.4028235e38f;
                s.capacity = 2000000;
                std::vector<Window> windows = scanFrame(frame, cascade_path, s);
                found += static_cast<long>(windows.size());
                std::shuffle(windows.begin(), windows.end(), rng);
                if (static_cast<int>(windows.size()) > cap) windows.resize(cap);
                uint16_t row[kLocations];
                for (const Window& w : windows) {
                    frame.codes(w.x, w.y, w.w, row);
                    per_scene[i].insert(per_scene[i].end(), row, row + kLocations);
                }
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < opt.threads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    SampleSet set;
    for (const auto& rows : per_scene) set.codes.insert(set.codes.end(), rows.begin(), rows.end());
    // Keep `wanted` of them, spread over the scenes.
    if (set.size() > wanted) {
        std::vector<int> order(set.size());
        for (int i = 0; i < set.size(); ++i) order[i] = i;
        std::mt19937 rng(stage_seed);
        std::shuffle(order.begin(), order.end(), rng);
        order.resize(wanted);
        std::sort(order.begin(), order.end());
        SampleSet kept;
        for (int i : order) kept.add(set.row(i));
        set = std::move(kept);
    }
    *found_total = found;
    return set;
}

SampleSet passing(const SampleSet& set, const std::vector<Stage>& cascade) {
    SampleSet out;
    for (int i = 0; i < set.size(); ++i) {
        bool ok = true;
        for (const Stage& s : cascade)
            if (s.score(set.row(i)) < s.threshold) { ok = false; break; }
        if (ok) out.add(set.row(i));
    }
    return out;
}

StageGoal goalFor(int stage) {
    static const StageGoal goals[] = {
        {2, 4, 0.999, 0.50},    {4, 10, 0.999, 0.40},   {8, 20, 0.999, 0.35},   {12, 30, 0.999, 0.35},
        {16, 45, 0.9985, 0.35}, {20, 60, 0.9985, 0.35}, {25, 80, 0.9985, 0.35}, {30, 100, 0.9985, 0.35},
    };
    const int n = sizeof(goals) / sizeof(goals[0]);
    if (stage < n) return goals[stage];
    return {40, 150, 0.998, 0.4};
}

// Scales and shifts the last stage so that its sum is 0 where the stage's threshold was and a
// typical training face scores about 0.15: the detector's default threshold 0 is then the point
// the stage was trained for, and scores fall within the detection gauge's range.
void calibrateLastStage(std::vector<Stage>* cascade, const SampleSet& faces) {
    Stage& last = cascade->back();
    std::vector<float> scores;
    SampleSet kept = passing(faces, std::vector<Stage>(cascade->begin(), cascade->end() - 1));
    for (int i = 0; i < kept.size(); ++i) scores.push_back(last.score(kept.row(i)));
    std::sort(scores.begin(), scores.end());
    const float median = scores.empty() ? last.threshold + 1 : scores[scores.size() / 2];
    const float a = 0.15f / std::max(1e-3f, median - last.threshold);
    for (float& v : last.weak[0].lut) v -= last.threshold;
    for (float& w : last.weights) w *= a;
    last.threshold = 0;
    std::printf("calibration: median stage sum %.4f, scale %.5f\n", median, a);
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) { std::fprintf(stderr, "missing value for %s\n", a.c_str()); std::exit(2); }
            return argv[++i];
        };
        if (a == "--data") opt.data = next();
        else if (a == "--out") opt.out = next();
        else if (a == "--seed") opt.seed = static_cast<unsigned>(std::atoi(next()));
        else if (a == "--stages") opt.max_stages = std::atoi(next());
        else if (a == "--negatives") opt.negatives = std::atoi(next());
        else if (a == "--threads") opt.threads = std::max(1, std::atoi(next()));
        else if (a == "--quick") opt.quick = true;
        else { std::fprintf(stderr, "unknown argument %s\n", a.c_str()); return 2; }
    }
    if (opt.data.empty() || opt.out.empty()) {
        std::fprintf(stderr, "usage: train_cascade --data DIR --out FILE [--seed N] [--stages N] "
                             "[--negatives N] [--threads N] [--quick]\n");
        return 2;
    }
    SampleSet faces = loadFaces(opt.data + "/faces19", opt.quick);
    SampleSet patches = loadPatches(opt.data + "/nonfaces19", opt.quick);
    std::vector<GrayFrame> scenes;
    std::vector<std::string> scene_files = listPgm(opt.data + "/negatives");
    if (opt.quick && scene_files.size() > 20) scene_files.resize(20);
    for (const std::string& path : scene_files) {
        GrayFrame f;
        if (loadPgm(path, &f)) scenes.push_back(std::move(f));
    }
    std::printf("faces %d, non-face patches %d, scenes %zu\n", faces.size(), patches.size(), scenes.size());
    if (faces.size() == 0 || scenes.empty()) {
        std::fprintf(stderr, "no training data under %s\n", opt.data.c_str());
        return 1;
    }

    std::vector<Stage> cascade;
    const std::string work = opt.out + ".partial";
    for (int k = 0; k < opt.max_stages; ++k) {
        writeCascade(work, cascade.empty() ? acceptAllCascade() : cascade);
        long found = 0;
        SampleSet neg = bootstrap(scenes, work, opt.negatives, opt, opt.seed + 101u * k, &found);
        if (k == 0) neg.codes.insert(neg.codes.end(), patches.codes.begin(), patches.codes.end());
        else {
            SampleSet hard = passing(patches, cascade);
            neg.codes.insert(neg.codes.end(), hard.codes.begin(), hard.codes.end());
        }
        SampleSet pos = passing(faces, cascade);
        std::printf("stage %d: %d faces, %d non-faces (%ld scene windows pass)\n", k, pos.size(), neg.size(), found);
        std::fflush(stdout);
        if (neg.size() < (opt.quick ? 50 : 500)) break;
        StageReport rep;
        cascade.push_back(trainStage(pos, neg, goalFor(k), &rep));
        std::printf("  %d weak classifiers, threshold %.4f, hit %.5f, false %.4f\n", rep.n_weak,
                    cascade.back().threshold, rep.hit_rate, rep.false_rate);
        std::fflush(stdout);
    }
    std::remove(work.c_str());
    if (cascade.empty()) return 1;
    calibrateLastStage(&cascade, faces);
    writeCascade(opt.out, cascade);
    int weak = 0;
    for (const Stage& s : cascade) weak += static_cast<int>(s.weak.size());
    std::printf("wrote %s: %zu stages, %d weak classifiers\n", opt.out.c_str(), cascade.size(), weak);
    return 0;
}
