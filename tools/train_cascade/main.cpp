// Trains the frontal MCT cascade (19 x 19 patterns, 512-entry tables over 289 mask locations).
//
//   train_cascade --data DIR --out FILE [--seed N] [--stages N] [--negatives N] [--threads N]
//                 [--jitters N] [--hit-rate R] [--quick] [--view V ...]
//                 [--harvest-cascade FILE [--harvest-threshold T] [--harvest FOLDER ...] [--turned FOLDER ...]]
//                 [--resume FILE] [--eye-faces SET ...] [--eye-every N] [--faces19-by-eyes]
//                 [--scale-jitter MIN MAX] [--turn-jitter DEGREES] [--shift-jitter F] [--soft P] [--scenes FOLDER ...] [--no-patches]
//                 [--stage-caps F] [--scene-scales S,S...] [--last-stage N HIT] [--misplaced N]
//
// Faces of the views asked for (default view 0, frontal; see Views.h): DIR/faces19 and their mirror
// images, jittered (views 1..4 turned within the image plane with ipRotate first). Non-faces:
// DIR/nonfaces19 for the first stage, then windows of the face-free scenes in DIR/negatives that the
// real scanner passes through the stages trained so far (same steps, scales and brightness gate).
// With --harvest-cascade, faces that a first cascade finds in the --harvest folders (clips or
// people, one person per folder) join the faces of views 0..4, cut where the detector reports them;
// views 5..8 come from the --turned folders (people turning from profile to frontal, DIR/umist).
// --eye-faces adds the pictures of DIR/webfaces, DIR/lfw or DIR/utkface to views 0..4, each placed in
// the window by its eyes with the tracker's geometry (every --eye-every-th picture); --faces19-by-eyes
// moves faces19 to that geometry too; --soft P shows that share of their variants at half the
// picture's sharpness (shrunk by half and enlarged back), as a webcam frame doubled by the scaler. --scenes takes the non-face scenes from the folders named
// (default negatives); --no-patches leaves nonfaces19 out.
// --stage-caps lets every stage grow to F times its usual number of weak classifiers before it must
// stop: varied faces need larger early stages to reject as many non-faces. --scene-scales lists the
// sizes of the scene variants (each also in four quarter turns and mirrored; default 1,1.5): more
// sizes give the later stages enough non-faces to bootstrap from.
// --last-stage gives the last stage exactly N weak classifiers and the hit rate HIT: its sum is the
// confidence by which the fusion's suppression ranks overlapping detections.
// --misplaced N adds to the last stage's non-faces N misplaced windows of each --eye-faces picture
// (shifted by a fifth to two fifths of the face, or of another size) that the stages before pass: the
// fusion's suppression keeps the most confident of overlapping windows, so the confidence must rank
// a well-placed window of a face above a misplaced window of the same face.
// --resume continues the (uncalibrated) stages of a partial cascade up to --stages, then calibrates.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/facekit/FaceLists.h"
#include "tools/facekit/FrameCodes.h"
#include "tools/facekit/Images.h"
#include "tools/facekit/Scan.h"
#include "tools/train_cascade/Boosting.h"
#include "tools/train_cascade/CascadeFile.h"
#include "tools/train_cascade/EyeFaces.h"
#include "tools/train_cascade/Views.h"

using namespace cascade_training;
using namespace facekit;

namespace {

struct Options {
    std::string data, out;
    unsigned seed = 19;
    int max_stages = 16;
    int negatives = 16000;
    int threads = 4;
    int jitters = 8;
    double hit_rate = 0.9995;
    bool quick = false;
    std::string harvest_cascade;
    float harvest_threshold = 0;
    std::vector<std::string> harvest;
    std::vector<std::string> turned;
    std::vector<int> views;
    std::string resume;
    std::vector<std::string> eye_sets;                // pictures placed by their eyes
    int eye_every = 1;                                // every n-th of them
    bool faces19_by_eyes = false;                     // faces19 moved to the tracker's eye geometry
    std::vector<std::string> scene_folders;           // default: negatives
    bool patches = true;                              // nonfaces19 in the first stage
    double stage_caps = 1;                            // factor on each stage's largest size
    std::vector<float> scene_scales{1.0f, 1.5f};      // sizes of the scene variants
    // The last stage's size and hit rate when set: its sum is the detections' confidence, which the
    // fusion's suppression ranks, so a larger last stage that rejects little grades them finely.
    int last_weak = 0;
    double last_hit = 0.999;
    int misplaced = 0;  // misplaced windows per face for the last stage
    EyeJitter jitter;
};

// Where the eyes of faces19 lie, measured as the centroids of the dark blobs of the mean face:
// (4.59, 3.95) and (14.12, 3.88). The tracker puts them at (4.5, 5) and (14.5, 5): faces19 is scaled
// by 10 / 9.53 about its centre and moved down by 1.36 (across by 0.13) to put its eyes there.
constexpr float kFaces19Scale = 1.05f, kFaces19Dx = 0.13f, kFaces19Dy = 1.36f;

// A 19 x 19 sample placed in a 23 x 23 frame (edges repeated), resampled with a shift, a scale and a
// turn about its centre, then coded as the detector codes a 19-pixel window at (2, 2).
void addPatch(const GrayFrame& patch, float dx, float dy, float scale, float degrees, SampleSet* set) {
    const float c = std::cos(degrees * 3.14159265f / 180), sn = std::sin(degrees * 3.14159265f / 180);
    GrayFrame f;
    f.width = f.height = 23;
    f.pixels.resize(23 * 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 23; ++x) {
            const float u = (x - 11.0f - dx) / scale, v = (y - 11.0f - dy) / scale;
            f.pixels[y * 23 + x] = bilinear(patch, c * u + sn * v + 9.0f, -sn * u + c * v + 9.0f);
        }
    FrameCodes codes(f);
    uint16_t row[kLocations];
    codes.codes(2, 2, 19, row);
    set->add(row);
}

// Each face (turned within the image plane by `degrees`) and its mirror image, as they are and in
// `jitters` random variants: shifted up to 1.2
// pixels, scaled by 0.9 to 1.1 and turned by up to 12 degrees, so that a face still fires the
// neighbouring windows and sizes that the fusion needs.
SampleSet loadFaces(const std::string& dir, bool quick, float degrees, int jitters, unsigned seed, const Options& opt) {
    SampleSet set;
    std::vector<std::string> files = listPgm(dir);
    if (quick && files.size() > 300) files.resize(300);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> shift(-1.2f, 1.2f), scale(0.9f, 1.1f), turn(-12.0f, 12.0f);
    const EyeJitter& j = opt.jitter;
    std::uniform_real_distribution<float> eyeShift(-j.shift * 19, j.shift * 19),
        logScale(std::log(j.min_scale), std::log(j.max_scale)), eyeTurn(-j.degrees, j.degrees);
    for (const std::string& path : files) {
        GrayFrame face;
        if (!loadGray(path, &face) || face.width != 19 || face.height != 19) continue;
        if (degrees != 0) face = turnedPatch(face, degrees);
        for (const GrayFrame& f : {face, mirrored(face)}) {
            if (!opt.faces19_by_eyes) {
                addPatch(f, 0, 0, 1, 0, &set);
                for (int k = 0; k < jitters; ++k) {
                    const float dx = shift(rng), dy = shift(rng), sc = scale(rng), deg = turn(rng);
                    addPatch(f, dx, dy, sc, deg, &set);
                }
                continue;
            }
            // The mirror image keeps the eye row; its eye midpoint moves to the other side of the centre.
            const float bx = (&f == &face ? 1 : -1) * kFaces19Dx;
            addPatch(f, bx, kFaces19Dy, kFaces19Scale, 0, &set);
            for (int k = 0; k < jitters; ++k) {
                const float sc = std::exp(logScale(rng)), dx = eyeShift(rng), dy = eyeShift(rng), deg = eyeTurn(rng);
                addPatch(f, bx * sc + dx, kFaces19Dy * sc + dy, kFaces19Scale * sc, deg, &set);
            }
        }
    }
    return set;
}

SampleSet loadPatches(const std::string& dir, bool quick) {
    SampleSet set;
    std::vector<std::string> files = listPgm(dir);
    if (quick && files.size() > 300) files.resize(300);
    for (const std::string& path : files) {
        GrayFrame patch;
        if (loadGray(path, &patch) && patch.width == 19 && patch.height == 19) addPatch(patch, 0, 0, 1, 0, &set);
    }
    return set;
}

// A scene turned by k quarter turns, mirrored or not, and resized by one of `scales` (bilinear): more
// non-face windows of the same kind of content for the later stages.
GrayFrame sceneVariant(const GrayFrame& scene, int variant, const std::vector<float>& scales) {
    const int turns = variant % 4;
    const bool flip = (variant / 4) % 2;
    const float scale = scales[static_cast<size_t>(variant / 8) % scales.size()];
    GrayFrame f = flip ? mirrored(scene) : scene;
    for (int t = 0; t < turns; ++t) {
        GrayFrame r;
        r.width = f.height;
        r.height = f.width;
        r.pixels.resize(f.pixels.size());
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) r.pixels[static_cast<size_t>(y) * r.width + x] = f.at(y, f.height - 1 - x);
        f = std::move(r);
    }
    if (scale == 1.0f) return f;
    GrayFrame big;
    big.width = static_cast<int>(f.width * scale);
    big.height = static_cast<int>(f.height * scale);
    big.pixels.resize(static_cast<size_t>(big.width) * big.height);
    for (int y = 0; y < big.height; ++y)
        for (int x = 0; x < big.width; ++x) {
            big.pixels[static_cast<size_t>(y) * big.width + x] = bilinear(f, x / scale, y / scale);
        }
    return big;
}


// Windows of the scene variants that the cascade in `cascade_path` accepts. Variants are visited in
// a random order, at most `cap` windows (chosen at random) taken from each, until `wanted` are found.
SampleSet bootstrap(const std::vector<GrayFrame>& scenes, const std::string& cascade_path, int wanted,
                    const Options& opt, unsigned stage_seed, long* found_total) {
    const size_t variants = 8 * opt.scene_scales.size();
    const size_t n = scenes.size() * variants;
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::mt19937 shuffler(stage_seed);
    std::shuffle(order.begin(), order.end(), shuffler);
    const int cap = std::max(4, wanted / 64);
    std::vector<std::vector<uint16_t>> rows(n);
    std::atomic<size_t> next{0};
    std::atomic<long> found{0}, taken{0};
    auto work = [&]() {
        for (size_t k; (k = next++) < n && taken < wanted;) {
            const size_t v = order[k];
            std::mt19937 rng(stage_seed * 7919u + static_cast<unsigned>(v));
            FrameCodes frame(sceneVariant(scenes[v / variants], static_cast<int>(v % variants), opt.scene_scales));
            ScanSettings s;
            s.fuse = false;
            s.threshold = -3.4028235e38f;
            s.capacity = 400000;  // above the windows of the largest scene variant at the tracker's levels
            std::vector<Window> windows = scanFrame(frame, cascade_path, s);
            found += static_cast<long>(windows.size());
            std::shuffle(windows.begin(), windows.end(), rng);
            if (static_cast<int>(windows.size()) > cap) windows.resize(cap);
            uint16_t row[kLocations];
            for (const Window& w : windows) {
                frame.codes(w.x, w.y, w.w, row);
                rows[k].insert(rows[k].end(), row, row + kLocations);
            }
            taken += static_cast<long>(windows.size());
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < opt.threads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    SampleSet set;
    for (const auto& r : rows) set.codes.insert(set.codes.end(), r.begin(), r.end());
    if (set.size() > wanted) set.codes.resize(static_cast<size_t>(wanted) * kLocations);
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

StageGoal goalFor(int stage, const Options& opt) {
    static const int sizes[][2] = {{2, 4}, {4, 10}, {6, 20}, {10, 30}, {14, 45}, {18, 60}, {24, 80}, {30, 100}};
    const int n = sizeof(sizes) / sizeof(sizes[0]);
    const auto cap = [&](int size) { return static_cast<int>(std::lround(size * opt.stage_caps)); };
    if (stage < n) return {sizes[stage][0], cap(sizes[stage][1]), opt.hit_rate, stage == 0 ? 0.5 : 0.4};
    return {36, cap(150), opt.hit_rate, 0.45};
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

std::vector<facekit::EyeFace> eyeFaces(const std::string& data, const std::string& name) {
    if (name == "webfaces") return facekit::readWebFaces(data + "/webfaces");
    if (name == "lfw") return facekit::lfwFaces(data + "/lfw");
    if (name == "utkface") return facekit::utkFaces(data + "/utkface");
    std::fprintf(stderr, "unknown face set %s (webfaces, lfw, utkface)\n", name.c_str());
    std::exit(2);
}

// The pictures of one eye-placed set that the options take.
std::vector<facekit::EyeFace> eyeFacesUsed(const std::string& name, const Options& opt) {
    std::vector<facekit::EyeFace> list = eyeFaces(opt.data, name);
    if (opt.eye_every > 1) {
        std::vector<facekit::EyeFace> some;
        for (size_t i = 0; i < list.size(); i += opt.eye_every) some.push_back(list[i]);
        list.swap(some);
    }
    if (opt.quick && list.size() > 300) list.resize(300);
    return list;
}

}  // namespace

int usage(int status) {
    std::fprintf(status ? stderr : stdout, "usage: train_cascade --data DIR --out FILE [--seed N] [--stages N] "
                             "[--negatives N] [--threads N] [--jitters N] [--hit-rate R] [--quick]\n"
                             "       [--view V ...] [--harvest-cascade FILE [--harvest-threshold T] [--harvest FOLDER ...]\n"
                             "        [--turned FOLDER ...]] [--resume FILE]\n"
                             "       [--eye-faces webfaces|lfw|utkface ...] [--eye-every N] [--faces19-by-eyes] [--scale-jitter MIN MAX] [--turn-jitter DEGREES] [--shift-jitter F] [--soft P]\n"
                             "       [--scenes FOLDER ...] [--no-patches] [--stage-caps F] [--scene-scales S,S...] [--last-stage N HIT] [--misplaced N]\n");
    return status;
}

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
        else if (a == "--jitters") opt.jitters = std::atoi(next());
        else if (a == "--hit-rate") opt.hit_rate = std::atof(next());
        else if (a == "--quick") opt.quick = true;
        else if (a == "--harvest-cascade") opt.harvest_cascade = next();
        else if (a == "--harvest") opt.harvest.push_back(next());
        else if (a == "--turned") opt.turned.push_back(next());
        else if (a == "--view") opt.views.push_back(std::atoi(next()));
        else if (a == "--resume") opt.resume = next();
        else if (a == "--help") return usage(0);
        else if (a == "--eye-faces") opt.eye_sets.push_back(next());
        else if (a == "--eye-every") opt.eye_every = std::max(1, std::atoi(next()));
        else if (a == "--faces19-by-eyes") opt.faces19_by_eyes = true;
        else if (a == "--scenes") opt.scene_folders.push_back(next());
        else if (a == "--no-patches") opt.patches = false;
        else if (a == "--last-stage") {
            opt.last_weak = std::max(1, std::atoi(next()));
            opt.last_hit = std::atof(next());
        }
        else if (a == "--misplaced") opt.misplaced = std::max(0, std::atoi(next()));
        else if (a == "--stage-caps") opt.stage_caps = std::max(1.0, std::atof(next()));
        else if (a == "--scene-scales") {
            opt.scene_scales.clear();
            for (const char* v = next(); *v;) {
                char* end = nullptr;
                const float scale = std::strtof(v, &end);
                if (end == v) break;
                opt.scene_scales.push_back(std::max(0.25f, scale));
                v = *end == ',' ? end + 1 : end;
            }
            if (opt.scene_scales.empty()) { std::fprintf(stderr, "--scene-scales needs a list such as 1,1.5\n"); return 2; }
        }
        else if (a == "--turn-jitter") opt.jitter.degrees = static_cast<float>(std::atof(next()));
        else if (a == "--shift-jitter") opt.jitter.shift = std::max(0.0f, static_cast<float>(std::atof(next())));
        else if (a == "--soft") opt.jitter.soft = static_cast<float>(std::atof(next()));
        else if (a == "--scale-jitter") {
            opt.jitter.min_scale = static_cast<float>(std::atof(next()));
            opt.jitter.max_scale = static_cast<float>(std::atof(next()));
        }
        else if (a == "--harvest-threshold") opt.harvest_threshold = static_cast<float>(std::atof(next()));
        else { std::fprintf(stderr, "unknown argument %s\n", a.c_str()); return 2; }
    }
    if (opt.data.empty() || opt.out.empty()) return usage(2);
    if (opt.views.empty()) opt.views.push_back(0);
    SampleSet faces;
    std::vector<PersonFrames> people, turning;
    if (!opt.harvest_cascade.empty()) {
        for (const std::string& f : opt.harvest) people.push_back(findFaces(f, opt.harvest_cascade, opt.harvest_threshold));
        for (const std::string& f : opt.turned) turning.push_back(findFaces(f, opt.harvest_cascade, opt.harvest_threshold));
    }
    std::mt19937 rng(opt.seed + 1);
    std::vector<std::vector<facekit::EyeFace>> eye_lists;  // one per --eye-faces set, read once
    for (const std::string& name : opt.eye_sets) eye_lists.push_back(eyeFacesUsed(name, opt));
    for (int view : opt.views) {
        const float degrees = viewDegrees(view);
        const int before = faces.size();
        if (view <= 4) {
            SampleSet f = loadFaces(opt.data + "/faces19", opt.quick, degrees, opt.jitters, opt.seed + view, opt);
            faces.codes.insert(faces.codes.end(), f.codes.begin(), f.codes.end());
            for (const PersonFrames& p : people) addBoxes(p, degrees, opt.jitters, rng, &faces);
            for (size_t k = 0; k < eye_lists.size(); ++k) {
                const int used = addEyeFaces(eye_lists[k], degrees, opt.jitters, opt.jitter, opt.seed + 31u * view, opt.threads, &faces);
                std::printf("  %s: %d of %zu faces placed by their eyes\n", opt.eye_sets[k].c_str(), used, eye_lists[k].size());
            }
        } else {
            for (const PersonFrames& p : turning) addTurned(p, degrees, opt.jitters, rng, &faces);
        }
        std::printf("view %d: %d face windows\n", view, faces.size() - before);
    }
    SampleSet misplaced;
    for (size_t k = 0; k < eye_lists.size() && opt.misplaced > 0; ++k) {
        const int used = addMisplacedFaces(eye_lists[k], opt.misplaced, opt.seed + 57u, opt.threads, &misplaced);
        std::printf("  %s: misplaced windows of %d faces\n", opt.eye_sets[k].c_str(), used);
    }
    SampleSet patches;
    if (opt.patches) patches = loadPatches(opt.data + "/nonfaces19", opt.quick);
    std::vector<GrayFrame> scenes;
    std::vector<std::string> scene_files;
    if (opt.scene_folders.empty()) opt.scene_folders.push_back("negatives");
    for (const std::string& folder : opt.scene_folders)
        for (const std::string& path : listImages(opt.data + "/" + folder)) scene_files.push_back(path);
    if (opt.quick && scene_files.size() > 20) scene_files.resize(20);
    for (const std::string& path : scene_files) {
        GrayFrame f;
        if (loadGray(path, &f)) scenes.push_back(std::move(f));
    }
    std::printf("faces %d, non-face patches %d, scenes %zu\n", faces.size(), patches.size(), scenes.size());
    std::fflush(stdout);
    if (faces.size() == 0 || scenes.empty()) {
        std::fprintf(stderr, "no training data under %s\n", opt.data.c_str());
        return 1;
    }

    std::vector<Stage> cascade;
    if (!opt.resume.empty()) cascade = readCascade(opt.resume);
    const std::string work = opt.out + ".partial";
    for (int k = static_cast<int>(cascade.size()); k < opt.max_stages; ++k) {
        writeCascade(work, cascade.empty() ? acceptAllCascade() : cascade);
        long found = 0;
        SampleSet neg = bootstrap(scenes, work, opt.negatives, opt, opt.seed + 101u * k, &found);
        if (k == 0) neg.codes.insert(neg.codes.end(), patches.codes.begin(), patches.codes.end());
        else {
            SampleSet hard = passing(patches, cascade);
            neg.codes.insert(neg.codes.end(), hard.codes.begin(), hard.codes.end());
        }
        if (k == opt.max_stages - 1 && misplaced.size() > 0) {
            const SampleSet near = passing(misplaced, cascade);
            std::printf("stage %d: %d of %d misplaced face windows pass\n", k, near.size(), misplaced.size());
            neg.codes.insert(neg.codes.end(), near.codes.begin(), near.codes.end());
        }
        SampleSet pos = passing(faces, cascade);
        std::printf("stage %d: %d faces, %d non-faces (%ld scene windows pass)\n", k, pos.size(), neg.size(), found);
        std::fflush(stdout);
        if (neg.size() < (opt.quick ? 50 : 500)) break;
        StageReport rep;
        StageGoal goal = goalFor(k, opt);
        if (opt.last_weak > 0 && k == opt.max_stages - 1) goal = {opt.last_weak, opt.last_weak, opt.last_hit, 1.0};
        cascade.push_back(trainStage(pos, neg, goal, &rep));
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
