// Detection accuracy of the frontal detector over an annotated folder (the layout of
// ../shared/data/cmu-newtest: PGM images, boxes.txt and landmarks.txt).
//
//   detection_accuracy DIR [--cascade FILE] [--min-size N] [--every-size] [--raw] [--threshold T] [--fusion-capacity N]
//
// The detector is the frontal tracker's: its window steps, scale factor, brightness gate and fusion
// (overlap 0.9, activation 1.5), detector threshold 0; --every-size scans every window size instead
// of the tracker's multiples of the pattern width; --raw reports the raw windows, unfused. Images are scanned from --min-size (default 19).
//
// Match rule: a detection matches a face when the detection's box centre lies inside the face's box
// and the ratio of the two box widths lies within [0.5, 2]; each face and each detection match at
// most once, best centre distance first. A detection that matches no face is a false positive.
// The table lists the detection rate against false positives as the threshold on the fused
// detections' confidence rises; the last line gives the detector's default operating point.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/train_cascade/FrameCodes.h"
#include "tools/train_cascade/Scan.h"

using namespace cascade_training;

namespace {

struct Face {
    float x, y, w, h;
    float eyes[4];  // left x, y, right x, y
};

struct Detection {
    Window box;
    int image;
    bool matched = false;
    int face = -1;
};

std::map<std::string, std::vector<Face>> readTruth(const std::string& dir) {
    std::map<std::string, std::vector<Face>> truth;
    std::ifstream boxes(dir + "/boxes.txt"), marks(dir + "/landmarks.txt");
    std::string bl, ml;
    while (std::getline(boxes, bl) && std::getline(marks, ml)) {
        std::istringstream b(bl), m(ml);
        std::string name, name2;
        Face f;
        b >> name >> f.x >> f.y >> f.w >> f.h;
        m >> name2 >> f.eyes[0] >> f.eyes[1] >> f.eyes[2] >> f.eyes[3];
        if (!b || !m || name != name2) continue;
        truth[name].push_back(f);
    }
    return truth;
}

// Greedy matching of one image's detections (above `threshold`) to its faces.
void match(std::vector<Detection*>& dets, const std::vector<Face>& faces) {
    struct Pair { float d; Detection* det; int face; };
    std::vector<Pair> pairs;
    for (Detection* d : dets)
        for (int f = 0; f < static_cast<int>(faces.size()); ++f) {
            const Face& g = faces[f];
            float cx = d->box.x + d->box.w * 0.5f, cy = d->box.y + d->box.h * 0.5f;
            float ratio = d->box.w / g.w;
            if (cx < g.x || cx > g.x + g.w || cy < g.y || cy > g.y + g.h || ratio < 0.5f || ratio > 2.0f) continue;
            pairs.push_back({std::hypot(cx - (g.x + g.w * 0.5f), cy - (g.y + g.h * 0.5f)), d, f});
        }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.d < b.d; });
    std::vector<bool> used(faces.size(), false);
    for (const Pair& p : pairs)
        if (!p.det->matched && !used[p.face]) p.det->matched = true, p.det->face = p.face, used[p.face] = true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: detection_accuracy DIR [--cascade FILE] [--min-size N] [--every-size] [--raw] [--threshold T] [--fusion-capacity N]\n");
        return 2;
    }
    std::string dir = argv[1], cascade = "models/mct4.cascade";
    ScanSettings settings;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--cascade" && i + 1 < argc) cascade = argv[++i];
        else if (a == "--min-size" && i + 1 < argc) settings.min_size = std::atoi(argv[++i]);
        else if (a == "--every-size") settings.force_multiple = false;
        else if (a == "--raw") settings.fuse = false;
        else if (a == "--fusion-capacity" && i + 1 < argc) settings.fusion_capacity = std::atoi(argv[++i]);
        else if (a == "--threshold" && i + 1 < argc) settings.threshold = static_cast<float>(std::atof(argv[++i]));
        else { std::fprintf(stderr, "unknown argument %s\n", a.c_str()); return 2; }
    }
    if (FILE* f = std::fopen(cascade.c_str(), "rb")) std::fclose(f);
    else { std::fprintf(stderr, "cannot read cascade %s\n", cascade.c_str()); return 1; }

    std::map<std::string, std::vector<Face>> truth = readTruth(dir);
    std::vector<std::string> images;
    for (const std::string& path : listPgm(dir)) images.push_back(path.substr(dir.size() + 1));
    if (images.empty()) { std::fprintf(stderr, "no images in %s\n", dir.c_str()); return 1; }
    int n_faces = 0;
    for (const auto& t : truth) n_faces += static_cast<int>(t.second.size());

    std::vector<std::vector<Detection>> per_image(images.size());
    double eye_error = 0;
    int eye_count = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        GrayFrame frame;
        if (!loadPgm(dir + "/" + images[i], &frame)) { std::fprintf(stderr, "cannot read %s\n", images[i].c_str()); continue; }
        FrameCodes codes(frame);
        for (const Window& w : scanFrame(codes, cascade, settings)) per_image[i].push_back({w, static_cast<int>(i)});
        // Eye placement of matched detections, as a fraction of the true eye distance.
        std::vector<Detection*> all;
        for (Detection& d : per_image[i]) all.push_back(&d);
        const std::vector<Face>& faces = truth[images[i]];
        match(all, faces);
        for (Detection* d : all) {
            if (!d->matched) continue;
            const Face& g = faces[d->face];
            const double b = d->box.w / 19.0;
            double lx = d->box.x + 4.5 * b, rx = d->box.x + 14.5 * b, ey = d->box.y + 5 * b;
            double dist = std::hypot(g.eyes[2] - g.eyes[0], g.eyes[3] - g.eyes[1]);
            if (dist <= 0) continue;
            eye_error += (std::hypot(lx - g.eyes[0], ey - g.eyes[1]) + std::hypot(rx - g.eyes[2], ey - g.eyes[3])) /
                         (2 * dist);
            ++eye_count;
        }
    }

    // Rate against false positives as the confidence threshold rises.
    std::vector<float> levels;
    for (const auto& dets : per_image)
        for (const Detection& d : dets) levels.push_back(d.box.confidence);
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    std::printf("cascade %s, %zu images, %d faces, min size %d, %s\n", cascade.c_str(), images.size(), n_faces,
                settings.min_size, settings.force_multiple ? "tracker levels" : "every window size");
    std::printf("%10s %8s %6s\n", "threshold", "rate%", "false");
    auto evaluate = [&](float threshold, int* hits, int* fps) {
        *hits = *fps = 0;
        for (size_t i = 0; i < images.size(); ++i) {
            std::vector<Detection*> kept;
            for (Detection& d : per_image[i]) {
                d.matched = false;
                if (d.box.confidence >= threshold) kept.push_back(&d);
            }
            match(kept, truth[images[i]]);
            for (Detection* d : kept) (d->matched ? *hits : *fps) += 1;
        }
    };
    int last_fp = -1;
    for (size_t k = 0; k < levels.size(); k += std::max<size_t>(1, levels.size() / 40)) {
        int hits, fps;
        evaluate(levels[k], &hits, &fps);
        if (fps == last_fp) continue;
        last_fp = fps;
        std::printf("%10.4f %8.1f %6d\n", levels[k], 100.0 * hits / n_faces, fps);
    }
    if (eye_count) std::printf("mean eye placement error: %.3f of the eye distance (%d faces)\n", eye_error / eye_count, eye_count);
    int hits, fps;
    evaluate(settings.threshold, &hits, &fps);
    std::printf("detection rate %.1f%% at %d false positives\n", 100.0 * hits / n_faces, fps);
    return 0;
}
