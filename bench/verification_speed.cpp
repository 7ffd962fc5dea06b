// Time to score one face (cut-out, features, user and world mixtures) and to enroll a user model.
//
//   verification_speed <data folder> [world model | number of Gaussians (default 512)]
//
// Faces come from <data>/umist; without a world model file a mixture of the given size is placed on
// their features. The last line is the headline: milliseconds to score one face.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/PrivateFile.h"
#include "verification/UserInfo.h"
#include "visionlib/DiagonalGMM.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryDataSet.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"

using namespace vision;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> listImages(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name[0] == '.')
                continue;
            std::string path = dir + "/" + name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".pgm")
                out.push_back(path);
            else if (e->d_type == DT_DIR)
                for (const std::string& p : listImages(path))
                    out.push_back(p);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A mixture of G Gaussians centred on feature frames of the faces, with the frames' overall variances.
void writeWorldModel(const std::string& path, FaceData* faces, int G) {
    FaceVerif_GmmDCTmod2 helper(0);
    helper.computefeatures(faces);
    MemoryDataSet* f = helper.features;
    const int D = 18;
    std::vector<double> sum(D), sq(D);
    long frames = 0;
    for (int e = 0; e < f->n_real_examples; e++)
        for (int t = 0; t < f->inputs_array[e]->n_frames; t++, frames++)
            for (int j = 0; j < D; j++) {
                double x = f->inputs_array[e]->frames[t][j];
                sum[j] += x;
                sq[j] += x * x;
            }
    FaceVerif_GmmDCTmod2 world(D, G, 0);
    DiagonalGMM* gmm = world.gmm;
    for (int g = 0; g < G; g++) {
        gmm->log_weights[g] = (real)std::log(1.0 / G);
        Sequence* s = f->inputs_array[(g * 7) % f->n_real_examples];
        for (int j = 0; j < D; j++) {
            gmm->means[g][j] = s->frames[(g * 13) % s->n_frames][j];
            double m = sum[j] / frames;
            gmm->var[g][j] = (real)(sq[j] / frames - m * m);
        }
    }
    writePrivateFile(path.c_str(), [&](XFile* x) { world.saveXFile(x); });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <data folder> [world model | number of Gaussians]\n", argv[0]);
        return 2;
    }
    std::vector<std::string> images = listImages(std::string(argv[1]) + "/umist");
    if (images.size() < 20) {
        fprintf(stderr, "no UMIST faces under %s/umist\n", argv[1]);
        return 2;
    }
    const int n = images.size() < 200 ? (int)images.size() : 200;
    ImageGray first(images[0].c_str());
    const int W = first.width, H = first.height;
    UserInfo identity(5000, "bench", "None", "None", 2000, 'M');
    // UMIST crops are faces already; the eyes lie about 40% down, a third of the width apart.
    FaceInfo face;
    face.left_eye_x = W * 3 / 10;
    face.right_eye_x = W * 7 / 10;
    face.left_eye_y = face.right_eye_y = H * 2 / 5;

    std::string worldPath, madeDir;
    int G = 512;
    if (argc > 2 && std::atoi(argv[2]) <= 0) {
        worldPath = argv[2];
    } else {
        if (argc > 2)
            G = std::atoi(argv[2]);
        char tmpl[] = "/tmp/verification-bench-XXXXXX";
        madeDir = mkdtemp(tmpl);
        worldPath = madeDir + "/world.model";
        FrontalFaceData faces(&identity, W, H, 20, "", false, false, 0, false);
        for (int i = 0; i < 20; i++) {
            ImageGray img(images[i * images.size() / 20].c_str());
            faces.addFaceData(&img, &face, nullptr);
        }
        writeWorldModel(worldPath, &faces, G);
    }
    FaceVerif_GmmDCTmod2 world(worldPath.c_str(), 0);
    printf("world model: %s, %d Gaussians\n", worldPath.c_str(), world.gmm->n_gaussians);

    FrontalFaceData enrolment(&identity, W, H, 10, "", false, false, 0, false);
    for (int i = 0; i < 10; i++) {
        ImageGray img(images[i].c_str());
        enrolment.addFaceData(&img, &face, nullptr);
    }
    FaceVerif_MapGmmDCTmod2 user(&world, 0);
    auto t0 = Clock::now();
    user.enroll(&enrolment);
    printf("enrollment of 10 faces: %.1f ms\n", ms(Clock::now() - t0));

    // As the verification filter does it: a store of one face, filled, scored and emptied per frame.
    FrontalFaceData store(&identity, W, H, 1, "", false, false, 0, false);
    std::vector<ImageGray*> frames;
    for (int i = 0; i < n; i++)
        frames.push_back(new ImageGray(images[i].c_str()));
    real score = 0;
    store.addFaceData(frames[0], &face, nullptr);  // the first call builds the DCT tables
    user.test(&store, &score);
    store.removeFaceData(0);
    double worst = 0, total = 0;
    for (int i = 0; i < n; i++) {
        auto s = Clock::now();
        store.addFaceData(frames[i], &face, nullptr);
        user.test(&store, &score);
        store.removeFaceData(0);
        double t = ms(Clock::now() - s);
        total += t;
        worst = t > worst ? t : worst;
    }
    // The same in camera frames, the face pasted in with its eyes 4 pixels apart in height, so that the
    // cut-out levels them by rotating the whole frame.
    for (int size : {320, 640}) {
        const int fw = size, fh = size * 3 / 4;
        Sequence big(1, fw * fh);
        for (int i = 0; i < fw * fh; i++)
            big.frames[0][i] = (real)((i * 7) % 256);
        const int ox = (fw - W) / 2, oy = (fh - H) / 2;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                big.frames[0][(oy + y) * fw + ox + x] = frames[0]->real_pixels[y * W + x];
        FaceInfo tilted;
        tilted.left_eye_x = ox + face.left_eye_x;
        tilted.left_eye_y = oy + face.left_eye_y;
        tilted.right_eye_x = ox + face.right_eye_x;
        tilted.right_eye_y = oy + face.right_eye_y + 4;
        FrontalFaceData camera(&identity, fw, fh, 1, "", false, false, 0, false);
        auto s = Clock::now();
        const int rounds = 50;
        for (int i = 0; i < rounds; i++) {
            camera.addFaceData(&big, &tilted, nullptr);
            user.test(&camera, &score);
            camera.removeFaceData(0);
        }
        printf("%dx%d frame, tilted face: %.2f ms per face\n", fw, fh, ms(Clock::now() - s) / rounds);
    }
    for (ImageGray* f : frames)
        delete f;
    if (!madeDir.empty()) {
        remove(worldPath.c_str());
        rmdir(madeDir.c_str());
    }
    printf("faces scored: %d, worst %.2f ms\n", n, worst);
    printf("score_ms_per_face %.2f\n", total / n);
    return 0;
}
