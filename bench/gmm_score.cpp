// Scoring cost of the verifiers' mixtures: per face, the face and its mirror
// (221 frames of 18 features each) against the user and the world model.
// Usage: gmm_score [data folder, unused: the features are synthetic] [gaussians ...]
#include "visionlib/DiagonalGMM.h"
#include "visionlib/Random.h"
#include "visionlib/Sequence.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace vision;

namespace {

const int FRAMES = 221;
const int FEATURES = 18;

double msPerFace(int n_gaussians, double* check) {
    DiagonalGMM world(FEATURES, n_gaussians), user(FEATURES, n_gaussians);
    real floor[FEATURES];
    for (auto& f : floor)
        f = 0.01f;
    for (DiagonalGMM* g : {&world, &user}) {
        g->setVarThreshold(floor);
        g->reset();
        g->startEmIteration();
    }
    // Frames drawn from the world model itself, so that each lies near a few
    // of its Gaussians and far from the rest, as features do.
    Sequence face(FRAMES, FEATURES), mirror(FRAMES, FEATURES);
    world.sample(&face);
    world.sample(&mirror);

    auto scoreFace = [&]() {
        double llr = 0;
        for (Sequence* s : {&face, &mirror}) {
            user.emForward(s);
            llr += user.log_probability;
            world.emForward(s);
            llr -= world.log_probability;
        }
        return llr;
    };
    *check = scoreFace();  // warm up
    int faces = 0;
    auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    do {
        scoreFace();
        faces++;
        elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    } while (elapsed < 500 || faces < 5);
    return elapsed / faces;
}

// One EM iteration of the user model over a store of ten faces (20 sequences).
double msPerEmIteration(int n_gaussians) {
    DiagonalGMM world(FEATURES, n_gaussians);
    real floor[FEATURES];
    for (auto& f : floor)
        f = 0.01f;
    world.setVarThreshold(floor);
    world.reset();
    world.startEmIteration();
    std::vector<Sequence*> faces;
    for (int i = 0; i < 20; i++) {
        faces.push_back(new Sequence(FRAMES, FEATURES));
        world.sample(faces.back());
    }
    auto start = std::chrono::steady_clock::now();
    int iterations = 0;
    double elapsed = 0;
    do {
        world.startEmIteration();
        for (Sequence* s : faces) {
            world.emForward(s);
            world.emAccumulate(s, 0);
        }
        iterations++;
        elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    } while (elapsed < 500 || iterations < 3);
    for (Sequence* s : faces)
        delete s;
    return elapsed / iterations;
}

}  // namespace

int main(int argc, char** argv) {
    Random::setSeed(1);
    std::vector<int> sizes;
    for (int i = 2; i < argc; i++)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {64, 128, 256, 512};
    double headline = 0;
    int headline_g = 0;
    for (int g : sizes) {
        double check = 0;
        double ms = msPerFace(g, &check);
        std::printf("gaussians %4d: %.3f ms per face (2 sequences x 2 models x %d frames x %d features) [%g]\n", g, ms,
                    FRAMES, FEATURES, check);
        std::printf("gaussians %4d: %.3f ms per EM pass over 20 sequences\n", g, msPerEmIteration(g));
        headline = ms;
        headline_g = g;
    }
    std::printf("GMM scoring: %.3f ms per face at %d gaussians\n", headline, headline_g);
    return 0;
}
