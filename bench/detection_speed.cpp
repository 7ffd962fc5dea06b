// Time per frame of the frontal face tracker (or, with --multiview, the multi-view tracker) on one
// thread at 320x240 and 640x480.
//
//   detection_speed DIR --cascade FILE | --multiview MODEL_DIR [--frames N] [--step-x F] [--step-y F] [--threshold T]
//
// Frames are the .pgm files under DIR (searched recursively, e.g. ../shared/data/video): the first
// N/clips frames of every folder, clip by clip in name order (N 600 by default), scaled to each size with the library's ipScale_yx. Each size runs twice:
// every frame scanned (modulo 1, so the motion gate never skips a frame) and with the default gating
// (modulo 50, the default motion quantity for the width). The time covers the whole entry point:
// gray conversion, motion count, scan, fusion and averaging. The last line is the scanned 320x240
// figure. --step-x and --step-y set the tracker's scan steps ("stepXfactor", "stepYfactor" of the
// configuration) in place of their defaults, --threshold the detector's threshold ("Threshold", 0).
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "detection/FaceTrackerAPI.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "tools/facekit/Scan.h"
#include "visionlib/Image.h"
#include "visionlib/ipScale_yx.h"

using namespace vision;

namespace {

// What the command line sets of the tracker: its scan steps (0: the defaults) and the detector's threshold.
struct TrackerChoice {
    float step_x = 0, step_y = 0, threshold = 0;
};

// The .pgm files of every folder under dir, one list per folder, in name order.
void collect(const std::string& dir, std::vector<std::vector<std::string>>* out) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> here;
    for (const std::string& n : names) {
        const std::string path = dir + "/" + n;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pgm") == 0)
            here.push_back(path);
        else
            collect(path, out);
    }
    if (!here.empty())
        out->push_back(here);
}


// Frames as packed BGR rows of width x 3 bytes, the tracker's plain entry format.
std::vector<std::vector<unsigned char>> scaled(const std::vector<ImageGray*>& frames, int w, int h) {
    std::vector<std::vector<unsigned char>> out;
    for (ImageGray* f : frames) {
        ipScale_yx scale(f->width, f->height, "gray", w, h);
        scale.process(f);
        std::vector<unsigned char> bgr((size_t)w * h * 3);
        const real* v = scale.output->frames[0];
        for (int i = 0; i < w * h; i++) {
            int g = (int)(v[i] + 0.5f);
            g = g < 0 ? 0 : g > 255 ? 255 : g;
            bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = (unsigned char)g;
        }
        out.push_back(std::move(bgr));
    }
    return out;
}

// The model is a frontal cascade, or a multi-view model directory when multiView (normalisation off,
// as the program's "Normalized" 0 gives it).
double run(const std::vector<std::vector<unsigned char>>& frames, int w, int h, const char* model, bool multiView,
           const TrackerChoice& choice, bool everyFrame, int* withFaces) {
    FaceTrackingSettings settings(1, w, h);
    if (everyFrame)
        settings.modulo_detection.value = 1;
    facekit::setScanSteps(settings, choice.step_x, choice.step_y);
    std::unique_ptr<FaceTrackerAPI> made;
    if (multiView)
        made.reset(new FaceTrackerAPI_MCTMSMFMV_1(model, choice.threshold, false, &settings, false));
    else
        made.reset(new FaceTrackerAPI_MCTMSMFF_2(model, choice.threshold, &settings, false));
    FaceTrackerAPI& tracker = *made;
    // One untimed frame so that first-touch page faults do not count.
    tracker.processImageBGR(frames[0].data());
    double total = 0;
    *withFaces = 0;
    for (const std::vector<unsigned char>& f : frames) {
        const auto t0 = std::chrono::steady_clock::now();
        tracker.processImageBGR(f.data());
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        *withFaces += tracker.n_faces > 0;
    }
    return total / frames.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR --cascade FILE | --multiview MODEL_DIR [--frames N] [--step-x F] [--step-y F] [--threshold T]\n", argv[0]);
        return 2;
    }
    std::string cascade, multiView;
    size_t maxFrames = 600;
    TrackerChoice choice;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--cascade") cascade = argv[i + 1];
        else if (a == "--multiview") multiView = argv[i + 1];
        else if (a == "--frames") maxFrames = (size_t)std::atol(argv[i + 1]);
        else if (a == "--step-x") choice.step_x = (float)std::atof(argv[i + 1]);
        else if (a == "--step-y") choice.step_y = (float)std::atof(argv[i + 1]);
        else if (a == "--threshold") choice.threshold = (float)std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (cascade.empty() == multiView.empty() || maxFrames == 0) {
        std::fprintf(stderr, "usage: %s DIR --cascade FILE | --multiview MODEL_DIR [--frames N] [--step-x F] [--step-y F] [--threshold T]\n", argv[0]);
        return 2;
    }
    std::vector<std::vector<std::string>> clips;
    collect(argv[1], &clips);
    // The first frames of every clip, in order, so that the motion gate sees the clips' own motion.
    std::vector<std::string> picked;
    const size_t perClip = clips.empty() ? 0 : (maxFrames + clips.size() - 1) / clips.size();
    for (const std::vector<std::string>& clip : clips)
        for (size_t i = 0; i < clip.size() && i < perClip; i++) picked.push_back(clip[i]);
    std::vector<ImageGray*> frames;
    for (const std::string& p : picked) {
        ImageGray* img = new ImageGray();
        if (img->tryLoad(p.c_str()))
            frames.push_back(img);
        else
            delete img;
    }
    if (frames.empty()) {
        std::fprintf(stderr, "no .pgm frames under %s\n", argv[1]);
        return 1;
    }
    const bool mv = !multiView.empty();
    const char* model = mv ? multiView.c_str() : cascade.c_str();
    std::printf("# %zu frames from %s (the first %zu of each of %zu clips), %s %s, one thread\n", frames.size(),
                argv[1], perClip, clips.size(), mv ? "multi-view directory" : "cascade", model);
    double scanned320 = 0;
    for (const int w : {320, 640}) {
        const int h = w * 3 / 4;
        const std::vector<std::vector<unsigned char>> bgr = scaled(frames, w, h);
        int faces = 0;
        const double all = run(bgr, w, h, model, mv, choice, true, &faces);
        std::printf("%dx%d every frame scanned: %.3f ms per frame (face reported in %d of %zu)\n", w, h, all, faces,
                    bgr.size());
        const double gated = run(bgr, w, h, model, mv, choice, false, &faces);
        FaceTrackingSettings defaults(1, w, h);
        std::printf("%dx%d default gating (modulo %d, motion %d): %.3f ms per frame (face reported in %d of %zu)\n", w,
                    h, defaults.modulo_detection.value, defaults.motion.value, gated, faces, bgr.size());
        if (w == 320)
            scanned320 = all;
    }
    for (ImageGray* f : frames) delete f;
    std::printf("scanned 320x240: %.3f ms per frame\n", scanned320);
    return 0;
}
