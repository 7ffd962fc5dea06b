// Runs the frontal face tracker over a folder of PGM frames and reports, per frame, the faces it
// gives (box, eyes, score) and at the end the mean time per frame.
//
//   detect_frames <frames folder> <cascade file> [threshold] [detection modulo]
//
// Frames are taken in name order; they must all have the size of the first one. The tracker sees
// each frame as the detection filter hands it over: packed BGR rows padded to 4 bytes.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "detection/FaceTrackerAPI.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "visionlib/Image.h"
#include "visionlib/filter/RgbFrame.h"

using namespace vision;

static std::vector<std::string> pgmFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pgm") == 0) names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <frames folder> <cascade file> [threshold] [detection modulo]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const char* cascade = argv[2];
    const float threshold = argc > 3 ? (float)std::strtod(argv[3], nullptr) : 0.0f;
    const int modulo = argc > 4 ? std::atoi(argv[4]) : 0;

    if (FILE* f = std::fopen(cascade, "rb")) {
        std::fclose(f);
    } else {
        std::fprintf(stderr, "cannot read the cascade file %s\n", cascade);
        return 1;
    }
    const std::vector<std::string> names = pgmFiles(folder);
    if (names.empty()) {
        std::fprintf(stderr, "no .pgm frames in %s\n", folder.c_str());
        return 1;
    }

    ImageGray first;
    std::string why;
    if (!first.tryLoad((folder + "/" + names[0]).c_str(), &why)) {
        std::fprintf(stderr, "%s: %s\n", names[0].c_str(), why.c_str());
        return 1;
    }
    const int width = first.width, height = first.height;
    FaceTrackingSettings settings(4, width, height);
    if (modulo > 0) settings.modulo_detection.value = modulo;
    FaceTrackerAPI_MCTMSMFF_2 tracker(cascade, threshold, &settings, false);

    RgbFrame frame(nullptr, width, height, RgbFrame::RGB24, true);
    std::vector<unsigned char> bgr(frame.frameSize(), 0);
    frame.data = bgr.data();

    std::printf("# %zu frames of %dx%d from %s, cascade %s, threshold %g, detection modulo %d\n", names.size(), width,
                height, folder.c_str(), cascade, (double)threshold, settings.modulo_detection.value);
    double totalMs = 0;
    int frames = 0, withFaces = 0;
    for (const std::string& name : names) {
        ImageGray img;
        if (!img.tryLoad((folder + "/" + name).c_str(), &why) || img.width != width || img.height != height) {
            std::printf("%s skipped: %s\n", name.c_str(), why.empty() ? "other size" : why.c_str());
            continue;
        }
        RgbFrame::RowIterator rows = frame.rows(0);
        for (int y = 0; y < height; y++) {
            unsigned char* row = rows.next();
            for (int x = 0; x < width; x++) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = img.byte_pixels[y * width + x];
        }
        const auto t0 = std::chrono::steady_clock::now();
        tracker.processImageBGR(frame.data, frame.rowSize());
        const auto t1 = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        totalMs += ms;
        frames++;
        if (tracker.n_faces > 0) withFaces++;
        std::printf("%s %.3f ms faces %d", name.c_str(), ms, tracker.n_faces);
        for (int i = 0; i < tracker.n_faces; i++) {
            const FaceInfo& f = *tracker.faces[i];
            std::printf(" | box %d %d %dx%d eyes (%d,%d) (%d,%d) score %g", f.bbx_x, f.bbx_y, f.bbx_width,
                        f.bbx_height, f.left_eye_x, f.left_eye_y, f.right_eye_x, f.right_eye_y, (double)f.score);
        }
        std::printf("\n");
    }
    std::printf("# frames with faces: %d of %d\n", withFaces, frames);
    std::printf("mean ms per frame: %.3f\n", frames ? totalMs / frames : 0.0);
    return 0;
}
