#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "VerifTestUtil.h"
#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/PrivateFile.h"
#include "verification/UserInfo.h"
#include "visionlib/DiagonalGMM.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryDataSet.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/ipDCTmod2.h"
#include "visionlib/ipHistoEqual.h"
#include "visionlib/ipNormBestFitLinear.h"
#include "visionlib/ipSmoothGaussian3.h"

using namespace vision;
using namespace verif_test;

namespace {

const int W = 160, H = 120, G = 4, D = 18;


// Writes a model file record by record, so that tests can break any part of it.
struct ModelWriter {
    int n_gaussians = G, n_inputs = D;
    const char* gaussiansTag = "n_gaussians";
    const char* inputsTag = "n_inputs";
    std::vector<float> params;
    void write(const std::string& path) const {
        DiskXFile file(path.c_str(), "w");
        file.taggedWrite(&n_gaussians, 4, 1, gaussiansTag);
        file.taggedWrite(&n_inputs, 4, 1, inputsTag);
        file.taggedWrite(params.data(), 4, (int)params.size(), "PARAMS");
    }
};

// Stores of synthetic faces, and a world model of four Gaussians placed on their features.
class VerifierTest : public ::testing::Test {
protected:
    VerifierTest() : identity(5000, "jdoe", "John", "Doe", 1970, 'M') {
        face.left_eye_x = 60;
        face.left_eye_y = 50;
        face.right_eye_x = 93;
        face.right_eye_y = 50;
        worldPath = tmp / "world.model";
        FrontalFaceData faces(&identity, W, H, 6, "", false, false, 0, false);
        for (int i = 0; i < 6; i++)
            addFace(&faces, 10 + i);
        FaceVerif_GmmDCTmod2 helper(0);
        EXPECT_TRUE(helper.computefeatures(&faces));
        // Means on frames of different faces, variances those of all the frames, equal weights.
        double sum[D] = {0}, squares[D] = {0};
        long frames = 0;
        for (int e = 0; e < helper.features->n_real_examples; e++) {
            Sequence* s = helper.features->inputs_array[e];
            for (int t = 0; t < s->n_frames; t++, frames++)
                for (int j = 0; j < D; j++) {
                    sum[j] += s->frames[t][j];
                    squares[j] += (double)s->frames[t][j] * s->frames[t][j];
                }
        }
        world.params.assign(G, (float)std::log(1.0 / G));
        for (int g = 0; g < G; g++) {
            Sequence* s = helper.features->inputs_array[(3 * g) % helper.features->n_real_examples];
            for (int j = 0; j < D; j++)
                world.params.push_back(s->frames[(37 * g + 11) % s->n_frames][j]);
            for (int j = 0; j < D; j++) {
                double m = sum[j] / frames;
                world.params.push_back((float)(squares[j] / frames - m * m));
            }
        }
        world.write(worldPath);
    }
    void addFace(FaceData* store, int seed) {
        Sequence frame(1, W * H);
        fillFrame(&frame, W, H, seed);
        store->addFaceData(&frame, &face, nullptr);
    }
    TempDir tmp;
    UserInfo identity;
    FaceInfo face;
    ModelWriter world;
    std::string worldPath;
};

// Mean frame log-likelihood of a crop's features under the mixture of a model file, computed here from
// the image operators and the file's parameters in double precision.
double independentMeanLogLikelihood(const ImageGray* crop, const std::vector<float>& params, int n_gaussians) {
    ipNormBestFitLinear norm(64, 80, "gray");
    ipHistoEqual equal(64, 80, "gray");
    ipSmoothGaussian3 smooth(64, 80, "gray", (real)0.125);
    ipDCTmod2 dct(64, 80, "gray", 15, 8, 4, 1, 3);
    Sequence image(1, 64 * 80);
    std::memcpy(image.frames[0], crop->real_pixels, sizeof(real) * 64 * 80);
    norm.process(&image);
    equal.process(norm.output);
    smooth.process(equal.output);
    for (int k = 0; k < 64 * 80; k++)
        image.frames[0][k] = (real)(int)smooth.output->frames[0][k];
    dct.process(&image);
    EXPECT_EQ(dct.output->n_frames, 221);
    double total = 0;
    for (int t = 0; t < dct.output->n_frames; t++) {
        const real* x = dct.output->frames[t];
        double best = -INFINITY;
        std::vector<double> terms;
        for (int g = 0; g < n_gaussians; g++) {
            const float* mean = &params[n_gaussians + g * 2 * D];
            const float* var = mean + D;
            double l = params[g] - 0.5 * D * std::log(2 * M_PI);
            for (int j = 0; j < D; j++)
                l -= 0.5 * std::log((double)var[j]) + 0.5 * (x[j] - mean[j]) * (x[j] - mean[j]) / var[j];
            terms.push_back(l);
            best = std::max(best, l);
        }
        double s = 0;
        for (double l : terms)
            s += std::exp(l - best);
        total += best + std::log(s);
    }
    return total / dct.output->n_frames;
}

std::vector<float> modelParams(const std::string& path, int n_gaussians) {
    std::string bytes = readFile(path);
    std::vector<float> params(n_gaussians * (2 * D + 1));
    std::memcpy(params.data(), bytes.data() + 27 + 24 + 18, params.size() * 4);
    return params;
}

}  // namespace

TEST_F(VerifierTest, ModelFilesSaveAndLoadByteForByte) {
    FaceVerif_GmmDCTmod2 verifier(worldPath.c_str());
    ASSERT_NE(verifier.gmm, nullptr);
    EXPECT_EQ(verifier.gmm->n_gaussians, G);
    EXPECT_EQ(verifier.gmm->n_inputs, D);
    std::string again = tmp / "again.model";
    writePrivateFile(again.c_str(), [&](XFile* f) { verifier.saveXFile(f); });
    EXPECT_EQ(readFile(again).size(), (size_t)(69 + 148 * G));
    EXPECT_EQ(readFile(again), readFile(worldPath));
    EXPECT_EQ(fileMode(again), 0600);

    FaceVerif_MapGmmDCTmod2 user(again.c_str(), &verifier);
    std::string userCopy = tmp / "user.model";
    writePrivateFile(userCopy.c_str(), [&](XFile* f) { user.saveXFile(f); });
    EXPECT_EQ(readFile(userCopy), readFile(worldPath));
}

TEST_F(VerifierTest, BrokenModelsAreRefusedWhenTheyLoad) {
    struct Case {
        const char* what;
        ModelWriter model;
        bool asUser;
        const char* message;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, bool asUser, const char* message, auto change) {
        Case c{what, world, asUser, message};
        change(c.model);
        cases.push_back(c);
    };
    add("second tag of another length", false, "XFile: sorry, the tag <n_inputs> cannot be read!",
        [](ModelWriter& m) { m.inputsTag = "n_input"; });
    add("no gaussians", false, "incorrect number of gaussians \\(0\\)", [](ModelWriter& m) {
        m.n_gaussians = 0;
        m.params.clear();
    });
    add("other feature size", false, "incorrect number of inputs \\(17 instead of 18\\)", [](ModelWriter& m) {
        m.n_inputs = 17;
        m.params.resize(G * (2 * 17 + 1));
    });
    add("weight not finite", false, "the weight of gaussian 1 is not finite",
        [](ModelWriter& m) { m.params[1] = NAN; });
    add("variance of 0", false, "a variance of gaussian 0 is not above 0",
        [](ModelWriter& m) { m.params[G + D + 5] = 0; });
    add("negative variance", false, "a variance of gaussian 2 is not above 0",
        [](ModelWriter& m) { m.params[G + 2 * 2 * D + D] = -1; });
    add("parameters cut short", false, "PARAMS", [](ModelWriter& m) { m.params.resize(10); });
    add("user model of other gaussian count", true,
        "FaceVerif_MapGmmDCTmod2::loadXFile\\(\\) incorrect number of gaussians\\.", [](ModelWriter& m) {
            m.n_gaussians = G + 1;
            m.params.resize((G + 1) * (2 * D + 1), 1.0f);
        });
    add("user model of other feature size", true,
        "FaceVerif_MapGmmDCTmod2::loadXFile\\(\\) incorrect number of inputs\\.", [](ModelWriter& m) {
            m.n_inputs = D - 1;
            m.params.resize(G * (2 * D - 1), 1.0f);
        });
    add("user weight not finite", true, "FaceVerif_MapGmmDCTmod2::loadXFile\\(\\) the weight of gaussian 0",
        [](ModelWriter& m) { m.params[0] = INFINITY; });

    FaceVerif_GmmDCTmod2 worldVerifier(worldPath.c_str());
    for (const Case& c : cases) {
        std::string path = tmp / "broken.model";
        c.model.write(path);
        if (c.asUser)
            EXPECT_FATAL(FaceVerif_MapGmmDCTmod2(path.c_str(), &worldVerifier), c.message) << c.what;
        else
            EXPECT_FATAL(FaceVerif_GmmDCTmod2(path.c_str()), c.message) << c.what;
        // Inside the library's recoverable scope the same fault is a failure the caller sees.
        std::string why;
        CapturedMessages quiet;
        bool loaded = runRecoverable(
            [&] {
                if (c.asUser)
                    FaceVerif_MapGmmDCTmod2 user(path.c_str(), &worldVerifier);
                else
                    FaceVerif_GmmDCTmod2 verifier(path.c_str());
            },
            &why);
        EXPECT_FALSE(loaded) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST_F(VerifierTest, GaussianCountIsBoundedBeforeTheParametersAreRead) {
    struct Case {
        int n_gaussians;
        bool loads;
    } cases[] = {{MAX_VERIFIER_GAUSSIANS, true}, {MAX_VERIFIER_GAUSSIANS + 1, false}};
    for (const Case& c : cases) {
        ModelWriter m = world;
        m.n_gaussians = c.n_gaussians;
        m.params.assign((size_t)c.n_gaussians * (2 * D + 1), 1.0f);
        const std::string path = tmp / "large.model";
        m.write(path);
        if (c.loads) {
            FaceVerif_GmmDCTmod2 verifier(path.c_str());
            EXPECT_EQ(verifier.gmm->n_gaussians, c.n_gaussians);
        } else {
            EXPECT_FATAL(FaceVerif_GmmDCTmod2(path.c_str()),
                         "the model has 2049 gaussians, more than the limit of 2048");
        }
    }
}

TEST_F(VerifierTest, AOneFaceStoreScoresUserMinusWorldMeanFrameLogLikelihood) {
    FaceVerif_GmmDCTmod2 worldVerifier(worldPath.c_str());
    FrontalFaceData enrolment(&identity, W, H, 10, "", false, false, 0, false);
    for (int i = 0; i < 3; i++)
        addFace(&enrolment, 20 + i);
    FaceVerif_MapGmmDCTmod2 enrolled(&worldVerifier);
    ASSERT_TRUE(enrolled.enroll(&enrolment));
    std::string userPath = tmp / "jdoe.face.model";
    writePrivateFile(userPath.c_str(), [&](XFile* f) { enrolled.saveXFile(f); });
    EXPECT_EQ(readFile(userPath).size(), (size_t)(69 + 148 * G));
    EXPECT_NE(modelParams(userPath, G), world.params) << "the adaptation moved nothing";

    FaceVerif_MapGmmDCTmod2 user(userPath.c_str(), &worldVerifier);
    FrontalFaceData probe(&identity, W, H, 1, "", false, false, 0, false);
    addFace(&probe, 21);
    real score = 12345;
    ASSERT_TRUE(user.test(&probe, &score));
    const double u = independentMeanLogLikelihood(probe.getImage(0), modelParams(userPath, G), G);
    const double w = independentMeanLogLikelihood(probe.getImage(0), world.params, G);
    // Both means pass through 6 significant digits of text.
    EXPECT_NEAR(score, u - w, 1e-5 * (std::fabs(u) + std::fabs(w)) + 1e-4);
    EXPECT_GT(score, 0) << "an enrolled face explains the user model better than the world model";

    // The operator is kept between scorings and the result does not change.
    ipDCTmod2* kept = user.dctmod2;
    real again = 0;
    ASSERT_TRUE(user.test(&probe, &again));
    EXPECT_EQ(user.dctmod2, kept);
    EXPECT_EQ(again, score);

    // The world verifier alone scores the world mean frame log-likelihood.
    real worldScore = 0;
    ASSERT_TRUE(worldVerifier.test(&probe, &worldScore));
    EXPECT_NEAR(worldScore, w, 1e-5 * std::fabs(w) + 1e-4);
}

TEST_F(VerifierTest, EveryFaceOfAStoreIsScoredByItsOwnFeatures) {
    FaceVerif_GmmDCTmod2 worldVerifier(worldPath.c_str());
    FaceVerif_MapGmmDCTmod2 user(&worldVerifier);
    FrontalFaceData enrolment(&identity, W, H, 10, "", false, false, 0, false);
    addFace(&enrolment, 30);
    ASSERT_TRUE(user.enroll(&enrolment));

    FrontalFaceData two(&identity, W, H, 2, "", false, false, 0, false);
    addFace(&two, 31);
    addFace(&two, 32);
    real scores[2];
    ASSERT_TRUE(user.test(&two, scores));
    for (int i = 0; i < 2; i++) {
        FrontalFaceData one(&identity, W, H, 1, "", false, false, 0, false);
        addFace(&one, 31 + i);
        real alone = 0;
        ASSERT_TRUE(user.test(&one, &alone));
        EXPECT_EQ(scores[i], alone) << "face " << i;
    }
    EXPECT_NE(scores[0], scores[1]);
}

TEST_F(VerifierTest, EnrollingTwiceOnOneStoreGivesTheSameModelFile) {
    FaceVerif_GmmDCTmod2 worldVerifier(worldPath.c_str());
    FrontalFaceData store(&identity, W, H, 10, "", false, false, 0, false);
    for (int i = 0; i < 4; i++)
        addFace(&store, 40 + i);
    FaceVerif_MapGmmDCTmod2 first(&worldVerifier);
    FaceVerif_MapGmmDCTmod2 second(&worldVerifier);
    ASSERT_TRUE(first.enroll(&store));
    ASSERT_TRUE(second.enroll(&store));
    std::string a = tmp / "a.model", b = tmp / "b.model", c = tmp / "c.model";
    writePrivateFile(a.c_str(), [&](XFile* f) { first.saveXFile(f); });
    writePrivateFile(b.c_str(), [&](XFile* f) { second.saveXFile(f); });
    // Each enrollment starts again from the world model, also on a verifier that was enrolled before.
    ASSERT_TRUE(first.enroll(&store));
    writePrivateFile(c.c_str(), [&](XFile* f) { first.saveXFile(f); });
    EXPECT_EQ(readFile(a), readFile(b));
    EXPECT_EQ(readFile(a), readFile(c));
}

TEST_F(VerifierTest, AnEmptyStoreLeavesModelAndScoresAlone) {
    FaceVerif_GmmDCTmod2 worldVerifier(worldPath.c_str());
    FaceVerif_MapGmmDCTmod2 user(&worldVerifier);
    FrontalFaceData empty(&identity, W, H, 1, "", false, false, 0, false);
    real score = 7;
    EXPECT_FALSE(user.enroll(&empty));
    EXPECT_FALSE(user.test(&empty, &score));
    EXPECT_FALSE(worldVerifier.test(&empty, &score));
    EXPECT_EQ(score, 7);
    std::string path = tmp / "untouched.model";
    writePrivateFile(path.c_str(), [&](XFile* f) { worldVerifier.saveXFile(f); });
    EXPECT_EQ(readFile(path), readFile(worldPath));
}

TEST_F(VerifierTest, FeaturesOfAnotherImageSizeAreFatal) {
    FaceVerif_GmmDCTmod2 verifier(worldPath.c_str());
    Sequence image(1, 32 * 40);
    for (int k = 0; k < 32 * 40; k++)
        image.frames[0][k] = (real)(k % 256);
    EXPECT_FATAL(verifier.computeFeatures(32, 40, &image, 221, 18, verifier.allocator),
                 "FaceVerifAPI_GmmDCTmod2::computeFeatures\\(\\) incorrect n_frames for dctmod2\\.");
    Sequence face(1, 64 * 80);
    for (int k = 0; k < 64 * 80; k++)
        face.frames[0][k] = (real)(k % 256);
    EXPECT_FATAL(verifier.computeFeatures(64, 80, &face, 221, 17, verifier.allocator),
                 "FaceVerifAPI_GmmDCTmod2::computeFeatures\\(\\) incorrect frame_size for dctmod2\\.");
    Sequence* features = verifier.computeFeatures(64, 80, &face, 221, 18, verifier.allocator);
    EXPECT_EQ(features->n_frames, 221);
    EXPECT_EQ(features->frame_size, 18);
}

TEST_F(VerifierTest, AWorldModelTrainsFromItsCurrentParameters) {
    FaceVerif_GmmDCTmod2 verifier(worldPath.c_str());
    FrontalFaceData store(&identity, W, H, 10, "", false, false, 0, false);
    for (int i = 0; i < 5; i++)
        addFace(&store, 50 + i);
    real before[5], after[5], again[5];
    ASSERT_TRUE(verifier.test(&store, before));
    CapturedMessages quiet;
    ASSERT_TRUE(verifier.enroll(&store));
    EXPECT_EQ(verifier.features, nullptr) << "features are released after training";
    ASSERT_TRUE(verifier.test(&store, after));
    double gain = 0;
    for (int i = 0; i < 5; i++)
        gain += after[i] - before[i];
    EXPECT_GT(gain, 0) << "training on the store explains its faces better";
    // The trained model is a valid model file again.
    std::string path = tmp / "trained.model";
    writePrivateFile(path.c_str(), [&](XFile* f) { verifier.saveXFile(f); });
    FaceVerif_GmmDCTmod2 reloaded(path.c_str());
    ASSERT_TRUE(reloaded.test(&store, again));
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(again[i], after[i]) << i;
}
