// Trains the world model of face verification: EM on the verifier's features of faces cut as the
// running system cuts them (frontal detector box, eyes from the box, 64x80 store crop).
//
//   train_world_model --cascade FILE --out FILE [--data DIR] [--sets umist,cmu-newtest]
//                     [--gaussians G] [--iterations N] [--seed S] [--floor F] [--limit N] [--min-share S]
//                     [--scales 1,0.5] [--pictures N] [--webcam-eyes 18,36] [--min-source-eyes E] [--verbose]
//
// --sets names folders of DIR: lfw, utkface and webfaces are pictures with known eyes, brought to a
// webcam's size and sharpness before they are cut (eyes --webcam-eyes pixels apart in the camera's
// frame, 320x240 or, every second picture, 160x120 doubled; at most --pictures of each set, webfaces only
// where its eyes are at least E (12) pixels apart); a folder with boxes.txt is read as an annotated
// set, any other as one sub-folder of images per person, whose best detection counts when it is at
// least S (0.4) of the image width, at each of the --scales (1 alone by default). --limit keeps at most
// N images per person and N annotated faces.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "tools/facekit/FaceCrops.h"
#include "visionlib/DiagonalGMM.h"

using namespace facekit;

static void usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s --cascade FILE --out FILE [--data DIR] [--sets umist,cmu-newtest] [--gaussians G]\n"
                 "       [--iterations N] [--seed S] [--floor F] [--limit N] [--min-share S] [--scales LIST]\n"
                 "       [--pictures N] [--webcam-eyes MIN,MAX] [--min-source-eyes E] [--verbose]\n",
                 self);
}

int main(int argc, char** argv) {
    std::string data = "../shared/data", cascade, out, sets = "umist,cmu-newtest";
    TrainOptions options;
    int limit = 0;
    float minShare = 0.4f;
    std::vector<float> scales = {1.0f};
    WebcamFaces webcam;
    float minSourceEyes = 12;
    auto pair = [](const char* text, float* a, float* b) { return std::sscanf(text, "%f,%f", a, b) == 2; };
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                usage(argv[0]);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--data") data = value();
        else if (a == "--cascade") cascade = value();
        else if (a == "--out") out = value();
        else if (a == "--sets") sets = value();
        else if (a == "--gaussians") options.gaussians = std::atoi(value());
        else if (a == "--iterations") options.maxIterations = std::atoi(value());
        else if (a == "--seed") options.seed = (unsigned)std::strtoul(value(), nullptr, 10);
        else if (a == "--floor") options.floorFactor = (float)std::atof(value());
        else if (a == "--limit") limit = std::atoi(value());
        else if (a == "--min-share") minShare = (float)std::atof(value());
        else if (a == "--scales") {
            scales.clear();
            std::istringstream in(value());
            std::string v;
            while (std::getline(in, v, ',')) scales.push_back((float)std::atof(v.c_str()));
        }
        else if (a == "--pictures") webcam.limit = std::atoi(value());
        else if (a == "--min-source-eyes") minSourceEyes = (float)std::atof(value());
        else if (a == "--webcam-eyes") {
            if (!pair(value(), &webcam.min_eyes, &webcam.max_eyes)) {
                usage(argv[0]);
                return 2;
            }
        }
        else if (a == "--verbose") options.verbose = true;
        else {
            usage(argv[0]);
            return 2;
        }
    }
    if (cascade.empty() || out.empty() || options.gaussians < 1 || options.maxIterations < 1) {
        usage(argv[0]);
        return 2;
    }
    const auto t0 = std::chrono::steady_clock::now();
    FeatureSet features;
    std::istringstream list(sets);
    std::string set;
    while (std::getline(list, set, ',')) {
        const std::string dir = data + "/" + set;
        struct stat st;
        if (::stat(dir.c_str(), &st) != 0) {
            std::fprintf(stderr, "no folder %s\n", dir.c_str());
            return 1;
        }
        const bool annotated = ::stat((dir + "/boxes.txt").c_str(), &st) == 0;
        int n;
        if (set == "lfw" || set == "utkface" || set == "webfaces") {
            WebcamFaces o = webcam;
            if (set == "webfaces") o.min_source_eyes = minSourceEyes;
            n = collectWebcamFaces(set == "lfw" ? lfwFaces(dir)
                                   : set == "utkface" ? utkFaces(dir) : readWebFaces(dir),
                                   cascade, &features, o);
        } else {
            n = annotated ? collectAnnotated(dir, cascade, &features, limit)
                          : collectPeople(dir, cascade, &features, limit, minShare, scales);
        }
        std::printf("%s: %d faces\n", set.c_str(), n);
    }
    if (features.faces() == 0) {
        std::fprintf(stderr, "no faces found\n");
        return 1;
    }
    vision::MemoryDataSet* dataSet = features.dataSet();
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("%d faces, %d examples of 221 frames (face and mirror), cut in %.1f s\n", features.faces(),
                features.examples(), std::chrono::duration<double>(t1 - t0).count());
    std::unique_ptr<vision::FaceVerif_GmmDCTmod2> world = trainWorldModel(dataSet, options);
    const auto t2 = std::chrono::steady_clock::now();
    const double likelihood = meanFrameLogLikelihood(world->gmm, dataSet);
    saveWorldModel(world.get(), out);
    std::printf("%d Gaussians, seed %u, floor %g: EM in %.1f s, mean frame log-likelihood %.4f\n",
                options.gaussians, options.seed, (double)options.floorFactor,
                std::chrono::duration<double>(t2 - t1).count(), likelihood);
    std::printf("wrote %s\n", out.c_str());
    return 0;
}
