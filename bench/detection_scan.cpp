// Speed of the frontal detector's full scan (integral images, every level, cascade, fusion) on 320 x 240
// frames, one thread.
//
//   detection_scan DATA_DIR [CASCADE]
//
// Frames: the clips of DATA_DIR/video, enlarged 2x to 320 x 240. The cascade is CASCADE, else the shipped
// models/mct4.cascade, else a stand-in built here from DATA_DIR/faces19 and DATA_DIR/nonfaces19 (per
// location code histograms, a few stages of growing size, thresholds passing 99% of the faces).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "detection/TrackerDetectors.h"
#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"

using namespace vision;

namespace {

bool exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

std::vector<std::string> listDir(const std::string& dir, bool dirs) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name[0] == '.') continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) continue;
        if (dirs ? S_ISDIR(st.st_mode) : (S_ISREG(st.st_mode) && name.size() > 4 &&
                                         name.compare(name.size() - 4, 4, ".pgm") == 0))
            out.push_back(path);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

// Pixel-scale census code of a 19 x 19 patch (values 0 to 1), as the detector computes it at scale 1.
int patchCode(const float* p, int location) {
    const int x0 = location % 17, y0 = location / 17;
    float sum = 0;
    for (int dy = 0; dy < 3; dy++)
        for (int dx = 0; dx < 3; dx++) sum += p[(y0 + dy) * 19 + x0 + dx];
    const float mean = (float)((double)sum * 0.111111);
    int code = 0;
    for (int dy = 0; dy < 3; dy++)
        for (int dx = 0; dx < 3; dx++) code = (code << 1) | (p[(y0 + dy) * 19 + x0 + dx] > mean);
    return code;
}

std::vector<std::vector<float>> loadPatches(const std::string& dir) {
    std::vector<std::vector<float>> out;
    for (const std::string& f : listDir(dir, false)) {
        ImageGray img;
        if (!img.tryLoad(f.c_str()) || img.width != 19 || img.height != 19) continue;
        std::vector<float> p(361);
        for (int i = 0; i < 361; i++) p[i] = img.byte_pixels[i] / 255.0f;
        out.push_back(p);
    }
    return out;
}

bool buildStandIn(const std::string& data, const std::string& path) {
    const auto faces = loadPatches(data + "/faces19"), nonfaces = loadPatches(data + "/nonfaces19");
    if (faces.empty() || nonfaces.empty()) return false;
    std::vector<std::vector<float>> lut(289, std::vector<float>(512));
    std::vector<std::pair<float, int>> rank;
    for (int l = 0; l < 289; l++) {
        std::vector<double> hf(512, 1), hn(512, 1);
        for (auto& p : faces) hf[patchCode(p.data(), l)] += 1;
        for (auto& p : nonfaces) hn[patchCode(p.data(), l)] += 1;
        double sep = 0;
        for (int c = 0; c < 512; c++) {
            const double pf = hf[c] / (faces.size() + 512.0), pn = hn[c] / (nonfaces.size() + 512.0);
            lut[l][c] = (float)std::log(pf / pn);
            sep += std::fabs(pf - pn);
        }
        rank.push_back({(float)sep, l});
    }
    std::sort(rank.rbegin(), rank.rend());
    const int sizes[] = {4, 8, 16, 32, 64, 128};
    std::vector<int> alive(faces.size(), 1);
    DiskXFile f(path.c_str(), "w");
    int v = 19, n = 6;
    f.taggedWrite(&v, 4, 1, "WIDTH");
    f.taggedWrite(&v, 4, 1, "HEIGHT");
    f.taggedWrite(&n, 4, 1, "N_STAGES");
    std::vector<float> thresholds;
    int next = 0;
    for (int s = 0; s < n; s++) {
        std::vector<float> sums;
        std::vector<float> all(faces.size());
        for (size_t i = 0; i < faces.size(); i++) {
            float sum = 0;
            for (int j = 0; j < sizes[s]; j++) {
                const int l = rank[next + j].second;
                sum = sum + lut[l][patchCode(faces[i].data(), l)] * 1.0f;
            }
            all[i] = sum;
            if (alive[i]) sums.push_back(sum);
        }
        std::sort(sums.begin(), sums.end());
        const float t = sums.empty() ? 0 : sums[sums.size() / 100];
        for (size_t i = 0; i < faces.size(); i++)
            if (all[i] < t) alive[i] = 0;
        thresholds.push_back(t);
        next += sizes[s];
    }
    for (int s = 0; s < n; s++) {
        f.taggedWrite(&thresholds[s], 4, 1, "THRESHOLD");
        f.taggedWrite(&sizes[s], 4, 1, "N_TRAINERS");
    }
    next = 0;
    for (int s = 0; s < n; s++) {
        std::vector<float> w(sizes[s], 1.0f);
        f.taggedWrite(w.data(), 4, sizes[s], "WEIGHTS");
        for (int j = 0; j < sizes[s]; j++) {
            const int l = rank[next + j].second;
            f.taggedWrite(&l, 4, 1, "LOCATION");
            f.taggedWrite(lut[l].data(), 4, 512, "LUT");
        }
        next += sizes[s];
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA_DIR [CASCADE]\n", argv[0]);
        return 2;
    }
    const std::string data = argv[1];
    std::string cascade = argc > 2 ? argv[2] : std::string(TARVELO_MODELS_DIR) + "/mct4.cascade";
    if (argc <= 2 && !exists(cascade)) {
        cascade = "/tmp/detection_scan_standin.cascade";
        std::printf("no shipped cascade; building a stand-in from %s/faces19 and nonfaces19\n", data.c_str());
        if (!buildStandIn(data, cascade)) {
            std::fprintf(stderr, "no face patches under %s\n", data.c_str());
            return 1;
        }
    }
    std::printf("cascade: %s\n", cascade.c_str());

    // Frames: every clip's frames, enlarged 2x.
    const int W = 320, H = 240;
    std::vector<std::vector<float>> frames;
    for (const std::string& person : listDir(data + "/video", true))
        for (const std::string& clip : listDir(person, true))
            for (const std::string& f : listDir(clip, false)) {
                if (frames.size() >= 400) break;
                ImageGray img;
                if (!img.tryLoad(f.c_str())) continue;
                std::vector<float> fr(W * H);
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < W; x++) {
                        const int sx = std::min(img.width - 1, x * img.width / W);
                        const int sy = std::min(img.height - 1, y * img.height / H);
                        fr[y * W + x] = img.byte_pixels[sy * img.width + sx] / 255.0f;
                    }
                frames.push_back(fr);
            }
    if (frames.empty()) {
        std::fprintf(stderr, "no frames under %s/video\n", data.c_str());
        return 1;
    }

    // The frontal tracker's detector for its default settings (windows 38 to 240).
    Allocator owner;
    FaceTrackingSettings settings(1, W, H);
    const FrontalDetector built = buildFrontalDetector(&owner, cascade.c_str(), 0.0f, W, H, ScanRange(settings), false);
    MSPatternDetect& detector = *built.detector;
    ipSWmctMS& sw = *built.classifier;

    Sequence seq(1, W * H);
    long windows = 0, classified = 0, raw = 0, faces = 0;
    int weak_total = 0;
    for (int s = 0; s < sw.n_stages; s++) weak_total += sw.n_trainers[s];
    const int rounds = 3;
    double best = 1e30, total = 0;
    for (int r = 0; r < rounds; r++) {
        auto t0 = std::chrono::steady_clock::now();
        for (auto& fr : frames) {
            std::copy(fr.begin(), fr.end(), seq.frames[0]);
            detector.process(&seq);
            if (r == 0) {
                windows += detector.n_windows;
                classified += detector.n_classified;
                raw += detector.raw->count;
                faces += detector.n_patterns;
            }
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / frames.size();
        best = std::min(best, ms);
        total += ms;
    }
    const double n = (double)frames.size();
    std::printf("frames: %zu (%dx%d), %d stages, %d weak classifiers\n", frames.size(), W, H, sw.n_stages,
                weak_total);
    std::printf("windows per frame: %.0f, through the brightness/contrast gate: %.0f\n", windows / n,
                classified / n);
    std::printf("raw detections per frame: %.1f, reported faces per frame: %.2f\n", raw / n, faces / n);
    long rej = 0;
    for (int s = 0; s < sw.n_stages; s++) rej += sw.rejections[s];
    for (int s = 0; s < sw.n_stages; s++)
        std::printf("  stage %d (%d weak): %.1f%% of rejections\n", s, sw.n_trainers[s],
                    rej ? 100.0 * sw.rejections[s] / rej : 0.0);
    std::printf("mean over %d rounds: %.3f ms per frame\n", rounds, total / rounds);
    std::printf("scan 320x240: %.3f ms per frame\n", best);
    return 0;
}
