// The world-model trainer end to end on a few faces: faces cut as at run time, EM from a seeded start,
// a model file the verifier loads. Training proper is offline; this runs in a second or two.
#include <gtest/gtest.h>

#include <string>

#include "../common/test_data.h"
#include "VerifTestUtil.h"
#include "tools/facekit/FaceCrops.h"
#include "visionlib/DiagonalGMM.h"
#include "visionlib/Sequence.h"
#include "read_file.h"

using testutil::readFile;

using namespace vision;
using namespace facekit;

TEST(WorldModelTraining, TrainsOnAFewFacesAndWritesAModelTheVerifierLoads) {
    REQUIRE_DATA("umist");
    const std::string cascade = testdata::modelsDir() + "/mct4.cascade";
    if (!testdata::exists(cascade)) GTEST_SKIP() << "no shipped cascade at " << cascade;
    FeatureSet faces;
    // Two images per person, spread from profile to frontal; the frontal ones are found.
    const int found = collectPeople(testdata::dataDir() + "/umist", cascade, &faces, 2);
    ASSERT_GE(found, 4);
    EXPECT_EQ(faces.examples(), 2 * found);
    MemoryDataSet* data = faces.dataSet();
    ASSERT_EQ(data->n_real_examples, 2 * found);
    EXPECT_EQ(data->inputs_array[0]->n_frames, 221);
    EXPECT_EQ(data->inputs_array[0]->frame_size, 18);

    TrainOptions options;
    options.gaussians = 8;
    options.maxIterations = 1;
    std::unique_ptr<FaceVerif_GmmDCTmod2> start = trainWorldModel(data, options);
    options.maxIterations = 6;
    std::unique_ptr<FaceVerif_GmmDCTmod2> trained = trainWorldModel(data, options);
    EXPECT_GT(meanFrameLogLikelihood(trained->gmm, data), meanFrameLogLikelihood(start->gmm, data));

    verif_test::TempDir dir;
    const std::string a = dir.path + "/a.model", b = dir.path + "/b.model";
    saveWorldModel(trained.get(), a);
    // A fixed seed repeats the model byte for byte.
    saveWorldModel(trainWorldModel(data, options).get(), b);
    EXPECT_EQ(readFile(a), readFile(b));
    EXPECT_EQ(readFile(a).size(), 27u + 24u + 18u + 4u * 8u * 37u);

    FaceVerif_GmmDCTmod2 loaded(a.c_str(), 0);
    ASSERT_EQ(loaded.gmm->n_gaussians, 8);
    for (int g = 0; g < 8; g++)
        for (int j = 0; j < 18; j++) EXPECT_GT(loaded.gmm->var[g][j], 0.0f);
    EXPECT_NEAR(meanFrameLogLikelihood(loaded.gmm, data), meanFrameLogLikelihood(trained->gmm, data), 1e-3);
    // Another seed starts elsewhere.
    options.seed = 2;
    const std::string c = dir.path + "/c.model";
    saveWorldModel(trainWorldModel(data, options).get(), c);
    EXPECT_NE(readFile(a), readFile(c));
}

TEST(WorldModelTraining, TooFewFramesForTheGaussiansIsRefused) {
    Sequence frames(3, 18);
    for (int t = 0; t < 3; t++)
        for (int j = 0; j < 18; j++) frames.frames[t][j] = (real)(t + j);
    Sequence* examples[] = {&frames};
    MemoryDataSet data;
    data.setInputs(examples, 1);
    TrainOptions options;
    options.gaussians = 4;
    EXPECT_FATAL(trainWorldModel(&data, options), "3 feature frames cannot seed 4 Gaussians");
}

// Pictures with known eyes are cut only where the detector's box puts the eyes near them: the aligned
// lfw pictures give faces at both camera sizes, and the same pictures with the eyes said to lie a
// face's width away give none (a wrong mapping of the eyes into the scaled frame shows the same way).
TEST(WorldModelTraining, WebcamFacesAreCutWhereTheKnownEyesAre) {
    REQUIRE_DATA("lfw");
    const std::string cascade = testdata::modelsDir() + "/mct4.cascade";
    if (!testdata::exists(cascade)) GTEST_SKIP() << "no shipped cascade at " << cascade;
    std::vector<EyeFace> pictures = lfwFaces(testdata::dataDir() + "/lfw");
    ASSERT_GE(pictures.size(), 1000u);
    WebcamFaces options;
    options.limit = 12;
    FeatureSet faces;
    EXPECT_GE(collectWebcamFaces(pictures, cascade, &faces, options), 6);
    EXPECT_EQ(faces.examples(), 2 * faces.faces());
    for (EyeFace& p : pictures) {
        p.eyes.left_x += 56;
        p.eyes.right_x += 56;
    }
    FeatureSet misplaced;
    EXPECT_EQ(collectWebcamFaces(pictures, cascade, &misplaced, options), 0);
}
