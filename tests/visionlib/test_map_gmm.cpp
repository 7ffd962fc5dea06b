// MAP-adapted mixture: the pull towards the prior and what it leaves alone.
#include "gmm_support.h"

#include "visionlib/MapAdaptedGmm.h"
#include "visionlib/Trainer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vision;
using gmmtest::Data;
using gmmtest::Recorder;
using gmmtest::paramsOf;
using gmmtest::setMixture;

namespace {

// Two 1-D Gaussians; the frames sit near Gaussian 1 only.
struct MapFixture : ::testing::Test {
    DiagonalGMM prior{1, 2};
    Data data{{{{4.0f}, {5.0f}, {6.5f}}, {{5.5f}, {4.5f}}}};
    Recorder rec;

    void SetUp() override { setMixture(prior, {0.5, 0.5}, {{-5.0}, {3.0}}, {{1.0}, {2.0}}); }

    static void iterate(DiagonalGMM& gmm, DataSet& set) {
        gmm.startEmIteration();
        for (int i = 0; i < set.n_examples; i++) {
            set.setExample(i, true, true);
            gmm.emForward(set.inputs);
            gmm.emAccumulate(set.inputs, 0);
        }
        gmm.emUpdate();
    }
};

}  // namespace

TEST_F(MapFixture, NoWeightOnPriorGivesTheMaximumLikelihoodMeans) {
    MapAdaptedGmm map(&prior);
    map.setRealOption("weight on prior", 0);
    map.setBoolOption("learn means", true);
    map.setDataSet(&data.set);
    iterate(map, data.set);

    DiagonalGMM ml(1, 2);
    ml.params->copy(prior.params);
    iterate(ml, data.set);

    for (int g = 0; g < 2; g++)
        EXPECT_FLOAT_EQ(map.means[g][0], ml.means[g][0]) << g;
    // Only the means were learnt.
    EXPECT_EQ(map.var[1][0], prior.var[1][0]);
    EXPECT_EQ(map.log_weights[1], prior.log_weights[1]);
}

TEST_F(MapFixture, FullWeightOnPriorKeepsThePriorMeans) {
    MapAdaptedGmm map(&prior);
    map.setRealOption("weight on prior", 1);
    map.setBoolOption("learn means", true);
    EMTrainer trainer(&map);
    trainer.train(&data.set, nullptr);
    EXPECT_EQ(paramsOf(map), paramsOf(prior));
}

TEST_F(MapFixture, AdaptationLeavesThePriorBitIdentical) {
    std::vector<float> before = paramsOf(prior);
    MapAdaptedGmm map(&prior);
    map.setBoolOption("learn means", true);
    map.setBoolOption("learn variances", true);
    map.setBoolOption("learn weights", true);
    EMTrainer trainer(&map);
    trainer.train(&data.set, nullptr);
    EXPECT_EQ(paramsOf(prior), before);
    EXPECT_NE(paramsOf(map), before);
}

TEST_F(MapFixture, LearntWeightMixesDataShareWithPriorWeight) {
    MapAdaptedGmm map(&prior);
    map.setBoolOption("learn weights", true);
    map.setDataSet(&data.set);
    iterate(map, data.set);
    // Gaussian 1 takes (almost) all five frames: 0.5 x 1 + 0.5 x 0.5.
    EXPECT_NEAR(std::exp(map.log_weights[1]), 0.75, 1e-3);
    EXPECT_NEAR(std::exp(map.log_weights[0]), 0.25, 1e-3);
    EXPECT_EQ(map.means[1][0], prior.means[1][0]);
}

TEST_F(MapFixture, LearntVarianceFollowsTheMapFormula) {
    MapAdaptedGmm map(&prior);
    map.setBoolOption("learn variances", true);
    map.setDataSet(&data.set);
    iterate(map, data.set);
    // Gaussian 1 (mean 3, variance 2) sees all five frames with posterior ~1.
    const double xs[] = {4.0, 5.0, 6.5, 5.5, 4.5};
    double n = 0.001, s = 0, q = 0;
    for (double x : xs) {
        n += 1;
        s += x;
        q += x * x;
    }
    double l = s / n, m = 3.0, o = 0.5 * l + 0.5 * m, e = q / n;
    double expected = 0.5 * ((o - l) * (o - l) + (e - o * o)) + 0.5 * ((o - m) * (o - m) + 2.0);
    EXPECT_NEAR(map.var[1][0], expected, 1e-3);
    // Means are not learnt, so the variance is taken around the mixed mean but the mean stays.
    EXPECT_EQ(map.means[1][0], prior.means[1][0]);
}

TEST_F(MapFixture, MeanOfAGaussianWithoutPosteriorMassStays) {
    MapAdaptedGmm map(&prior);
    map.setRealOption("prior weights", 0);
    map.setBoolOption("learn means", true);
    prior.means[0][0] = -500;  // far from every frame: posterior exactly 0
    prior.startEmIteration();
    map.setDataSet(&data.set);
    iterate(map, data.set);
    EXPECT_EQ(map.means[0][0], -500.0f);
    EXPECT_FALSE(std::isnan(map.means[1][0]));
    EXPECT_EQ(rec.warnings, "");  // the warning belongs to variance learning
}

TEST_F(MapFixture, UnusedGaussianWarnsOnlyWhenLearningVariances) {
    MapAdaptedGmm map(&prior);
    map.setRealOption("prior weights", 0);
    map.setBoolOption("learn variances", true);
    prior.means[0][0] = -500;
    prior.startEmIteration();
    map.setDataSet(&data.set);
    iterate(map, data.set);
    EXPECT_EQ(rec.warnings, "Gaussian 0 of GMM is not used in EM\n");
    EXPECT_EQ(map.var[0][0], prior.var[0][0]);
}

TEST_F(MapFixture, PrimedUnusedGaussianMovesHalfwayToZero) {
    // With the 0.001 priming a Gaussian that explains nothing still counts as
    // used: its data mean is 0 / 0.001 = 0, mixed half and half with the prior's.
    MapAdaptedGmm map(&prior);
    map.setBoolOption("learn means", true);
    prior.means[0][0] = -500;
    prior.startEmIteration();
    map.setDataSet(&data.set);
    iterate(map, data.set);
    EXPECT_EQ(map.means[0][0], -250.0f);
    iterate(map, data.set);
    EXPECT_EQ(map.means[0][0], -250.0f);  // the prior is mixed in afresh, not compounded
}

TEST_F(MapFixture, ViterbiAccumulationCountsFramesOfTheBestGaussian) {
    MapAdaptedGmm map(&prior);
    map.setRealOption("weight on prior", 0);
    map.setBoolOption("learn means", true);
    map.setDataSet(&data.set);
    map.startEmIteration();
    for (int i = 0; i < data.set.n_examples; i++) {
        data.set.setExample(i, true, true);
        map.viterbiForward(data.set.inputs);
        map.viterbiAccumulate(data.set.inputs, 0);
    }
    EXPECT_FLOAT_EQ(map.weights_acc[1], 5.001f);
    EXPECT_FLOAT_EQ(map.means_acc[1][0], 25.5f);
    EXPECT_EQ(map.var_acc[1][0], 0.0f);  // no squares without variance learning
    map.emUpdate();
    EXPECT_NEAR(map.means[1][0], 25.5 / 5.001, 1e-5);
}
