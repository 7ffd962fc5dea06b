// Detection accuracy of the frontal detector over an annotated folder (the layout of
// ../shared/data/cmu-newtest: PGM images, boxes.txt and landmarks.txt).
//
//   detection_accuracy DIR [--cascade FILE] [--min-size N] [--every-size] [--step-x F] [--step-y F] [--raw] [--threshold T]
//                      [--fusion-capacity N] [--overflow best|groups] [--sweep FROM STEP COUNT]
//                      [--multiview DIR] [--detections FILE] [--ceiling]
//
// The detector is the frontal tracker's: its window steps, scale factor, brightness gate and fusion
// (overlap 0.9, activation 1.5), detector threshold 0; --every-size scans every window size instead
// of the tracker's multiples of the pattern width; --step-x and --step-y set the scan steps (the
// configuration's "stepXfactor" and "stepYfactor") in place of the tracker's defaults; --raw reports the raw windows, unfused;
// --fusion-capacity sets how many windows the fusion takes (the tracker's 100 by default);
// --overflow says what the detector does with more windows than that: let the fusion keep the most
// confident ones (best) or fuse each group of overlapping windows on its own (groups, the tracker's).
// Images are scanned from --min-size (default 19). --multiview DIR runs the multi-view tracker's
// detector over the model directory DIR instead (final fusion; suppressed patterns not counted).
// --detections FILE scores another detector's boxes (lines "image x y w h") by the same rule.
// --ceiling measures what the fusion can make of the cascade's raw windows: the faces on which two
// windows that it links fire, and its result when the windows are ranked by a judge that knows the
// marked faces (every window on a face above every other; then, above those, the windows that have a
// linked partner on the same face). No classifier of single windows ranks better than the first judge.
//
// Match rule: a detection matches a face when the detection's box centre lies inside the face's box
// and the ratio of the two box widths lies within [0.5, 2]; each face and each detection match at
// most once, best centre distance first. A detection that matches no face is a false positive.
// The table lists the detection rate against false positives as the detector threshold rises
// (--sweep), with the eye placement error of the matched faces; the last line gives the operating
// point of --threshold (default 0, the detector's default).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tools/facekit/FaceLists.h"
#include "tools/facekit/Matching.h"
#include "tools/facekit/Scan.h"

using namespace facekit;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: detection_accuracy DIR [--cascade FILE] [--min-size N] [--every-size] [--step-x F] [--step-y F] [--raw] [--threshold T] [--fusion-capacity N]\n"
                             "       [--sweep FROM STEP COUNT] [--multiview DIR] [--detections FILE] [--ceiling]\n");
        return 2;
    }
    std::string dir = argv[1], cascade = "models/mct4.cascade";
    ScanSettings settings;
    std::string multiview, given;
    bool ceiling = false;
    float sweep_from = -0.04f, sweep_step = 0.02f;
    int sweep_steps = 10;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--cascade" && i + 1 < argc) cascade = argv[++i];
        else if (a == "--min-size" && i + 1 < argc) settings.min_size = std::atoi(argv[++i]);
        else if (a == "--every-size") settings.force_multiple = false;
        else if (a == "--step-x" && i + 1 < argc) settings.step_x_factor = static_cast<float>(std::atof(argv[++i]));
        else if (a == "--step-y" && i + 1 < argc) settings.step_y_factor = static_cast<float>(std::atof(argv[++i]));
        else if (a == "--raw") settings.fuse = false;
        else if (a == "--multiview" && i + 1 < argc) multiview = argv[++i];
        else if (a == "--detections" && i + 1 < argc) given = argv[++i];
        else if (a == "--sweep" && i + 3 < argc) {
            sweep_from = static_cast<float>(std::atof(argv[++i]));
            sweep_step = static_cast<float>(std::atof(argv[++i]));
            sweep_steps = std::atoi(argv[++i]);
        }
        else if (a == "--overflow" && i + 1 < argc) {
            const std::string o = argv[++i];
            if (o == "best") settings.overflow = vision::FusionOverflow::MostConfident;
            else if (o == "groups") settings.overflow = vision::FusionOverflow::Groups;
            else { std::fprintf(stderr, "--overflow takes best or groups\n"); return 2; }
        }
        else if (a == "--fusion-capacity" && i + 1 < argc) settings.fusion_capacity = std::atoi(argv[++i]);
        else if (a == "--ceiling") ceiling = true;
        else if (a == "--threshold" && i + 1 < argc) settings.threshold = static_cast<float>(std::atof(argv[++i]));
        else { std::fprintf(stderr, "unknown argument %s\n", a.c_str()); return 2; }
    }
    std::map<std::string, std::vector<Window>> listed;
    if (!given.empty()) {
        std::ifstream in(given);
        if (!in) { std::fprintf(stderr, "cannot read %s\n", given.c_str()); return 1; }
        std::string name;
        Window w{0, 0, 0, 0, 0, 0};
        while (in >> name >> w.x >> w.y >> w.w >> w.h) listed[name].push_back(w);
        sweep_steps = 0;
    }
    const std::string model = !given.empty() ? given : multiview.empty() ? cascade : multiview + "/pyramid-cascade.model";
    if (FILE* f = std::fopen(model.c_str(), "rb")) std::fclose(f);
    else { std::fprintf(stderr, "cannot read %s\n", model.c_str()); return 1; }

    std::map<std::string, std::vector<MarkedFace>> truth = readMarkedFaces(dir);
    std::vector<std::string> images;
    for (const std::string& path : listPgm(dir)) images.push_back(path.substr(dir.size() + 1));
    if (images.empty()) { std::fprintf(stderr, "no images in %s\n", dir.c_str()); return 1; }
    int n_faces = 0;
    for (const auto& t : truth) n_faces += static_cast<int>(t.second.size());

    std::vector<GrayFrame> frames(images.size());
    for (size_t i = 0; i < images.size(); ++i)
        if (!loadGray(dir + "/" + images[i], &frames[i])) std::fprintf(stderr, "cannot read %s\n", images[i].c_str());

    // Scans every image at one detector threshold; counts matched faces and false positives, and
    // the eye placement of the matched detections as a fraction of the true eye distance.
    double where[4] = {0, 0, 0, 0};  // the marked eyes in the matched boxes, in pattern pixels (of 19)
    auto run = [&](float threshold, int* hits, int* fps, double* eye_error) {
        *hits = *fps = 0;
        for (double& v : where) v = 0;
        double eyes = 0;
        int n_eyes = 0;
        ScanSettings s = settings;
        s.threshold = threshold;
        for (size_t i = 0; i < images.size(); ++i) {
            if (frames[i].width == 0) continue;
            FrameCodes codes(frames[i]);
            std::vector<Window> dets;
            if (!given.empty()) dets = listed[images[i]];
            else if (multiview.empty()) dets = scanFrame(codes, cascade, s);
            else
                for (const ViewWindow& w : scanFrameMultiView(codes, multiview, s)) dets.push_back(w);
            const std::vector<MarkedFace>& faces = truth[images[i]];
            const std::vector<int> match = matchDetections(dets, faces);
            for (size_t k = 0; k < dets.size(); ++k) {
                if (match[k] < 0) { ++*fps; continue; }
                ++*hits;
                const Eyes& g = faces[match[k]].eyes;
                const double e = eyeError(dets[k], g);
                if (e < 0) continue;
                const double u = 19.0 / dets[k].w;
                where[0] += (g.left_x - dets[k].x) * u, where[1] += (g.left_y - dets[k].y) * u;
                where[2] += (g.right_x - dets[k].x) * u, where[3] += (g.right_y - dets[k].y) * u;
                eyes += e;
                ++n_eyes;
            }
        }
        *eye_error = n_eyes ? eyes / n_eyes : 0;
        for (double& v : where) v = n_eyes ? v / n_eyes : 0;
    };

    if (!given.empty()) std::printf("detections of %s\n", given.c_str());
    else std::printf("%s %s, %zu images, %d faces, min size %d, %s%s\n", multiview.empty() ? "cascade" : "multi-view",
                multiview.empty() ? cascade.c_str() : multiview.c_str(), images.size(), n_faces,
                settings.min_size, settings.force_multiple ? "tracker levels" : "every window size",
                settings.fuse ? "" : ", raw windows");
    std::printf("%10s %8s %6s %10s\n", "threshold", "rate%", "false", "eye error");
    for (int k = 0; k < sweep_steps; ++k) {
        const float t = sweep_from + k * sweep_step;
        int hits, fps;
        double eye;
        run(t, &hits, &fps, &eye);
        std::printf("%10.3f %8.1f %6d %10.3f\n", t, 100.0 * hits / n_faces, fps, eye);
    }
    if (ceiling && multiview.empty() && given.empty()) {
        int paired = 0, judged[2] = {0, 0}, judged_fps[2] = {0, 0};
        ScanSettings s = settings;
        s.fuse = false;
        for (size_t i = 0; i < images.size(); ++i) {
            if (frames[i].width == 0) continue;
            FrameCodes codes(frames[i]);
            const std::vector<Window> raw = scanFrame(codes, cascade, s);
            const std::vector<MarkedFace>& faces = truth[images[i]];
            // For each raw window: on a marked face, and with a linked partner on that face.
            std::vector<bool> on(raw.size(), false), linked(raw.size(), false);
            for (const MarkedFace& f : faces) {
                std::vector<size_t> mine;
                for (size_t a = 0; a < raw.size(); ++a)
                    if (matches(raw[a], f)) mine.push_back(a), on[a] = true;
                bool pair = false;
                for (size_t a = 0; a < mine.size(); ++a)
                    for (size_t b = a + 1; b < mine.size(); ++b)
                        if (windowOverlap(raw[mine[a]], raw[mine[b]]) > 0.9f) linked[mine[a]] = linked[mine[b]] = pair = true;
                paired += pair;
            }
            for (int judge = 0; judge < 2; ++judge) {
                std::vector<Window> ranked = raw;
                for (size_t a = 0; a < raw.size(); ++a) ranked[a].confidence += (on[a] ? 1.0f : 0.0f) + (judge && linked[a] ? 1.0f : 0.0f);
                const std::vector<Window> dets = fuseWindows(ranked, settings.threshold);
                for (int m : matchDetections(dets, faces)) (m < 0 ? judged_fps : judged)[judge]++;
            }
        }
        std::printf("ceiling: faces with a linked pair of raw windows %.1f%%; the fusion with windows on a face first "
                    "%.1f%% at %d false positives, with linked ones first %.1f%% at %d\n",
                    100.0 * paired / n_faces, 100.0 * judged[0] / n_faces, judged_fps[0], 100.0 * judged[1] / n_faces,
                    judged_fps[1]);
    }
    int hits, fps;
    double eye;
    run(settings.threshold, &hits, &fps, &eye);
    std::printf("marked eyes in the matched boxes (of 19, the tracker places them at 4.5, 5 and 14.5, 5): "
                "%.2f, %.2f and %.2f, %.2f\n", where[0], where[1], where[2], where[3]);
    std::printf("detection rate %.1f%% at %d false positives\n", 100.0 * hits / n_faces, fps);
    return 0;
}
