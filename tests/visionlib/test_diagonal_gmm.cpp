// Diagonal Gaussian mixture: scores, Viterbi score, one EM iteration, sampling.
#include "gmm_support.h"

#include "visionlib/DiagonalGMM.h"
#include "visionlib/Random.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace vision;
using gmmtest::Data;
using gmmtest::Recorder;
using gmmtest::setMixture;

namespace {

const double LOG_2_PI = 1.8378770664093456;

// Double-precision mixture density, the reference for the real-valued scores.
double referenceLogLikelihood(const std::vector<double>& w, const std::vector<std::vector<double>>& m,
                              const std::vector<std::vector<double>>& v, const std::vector<double>& x) {
    double p = 0;
    for (size_t g = 0; g < w.size(); g++) {
        double l = -0.5 * x.size() * LOG_2_PI;
        for (size_t j = 0; j < x.size(); j++)
            l += -0.5 * std::log(v[g][j]) - 0.5 * (x[j] - m[g][j]) * (x[j] - m[g][j]) / v[g][j];
        p += w[g] * std::exp(l);
    }
    return std::log(p);
}

}  // namespace

TEST(DiagonalGMM, StandardNormalAtZero) {
    DiagonalGMM gmm(1, 1);
    setMixture(gmm, {1.0}, {{0.0}}, {{1.0}});
    real x = 0;
    EXPECT_NEAR(gmm.frameLogProbability(0, &x), -0.9189385, 1e-7);
    EXPECT_FLOAT_EQ(gmm.log_probabilities_g->frames[0][0], -0.9189385f);
}

TEST(DiagonalGMM, TwoGaussiansInThreeDimensionsMatchDoubleReference) {
    const std::vector<double> w = {0.3, 0.7};
    const std::vector<std::vector<double>> m = {{0.5, -1.0, 2.0}, {-0.25, 0.75, 1.5}};
    const std::vector<std::vector<double>> v = {{0.5, 2.0, 1.5}, {0.8, 0.3, 4.0}};
    const std::vector<std::vector<double>> xs = {{0, 0, 0}, {0.5, -1, 2}, {1.2, 0.1, -0.7}, {-3, 4, 10}};

    DiagonalGMM gmm(3, 2);
    setMixture(gmm, w, m, v);
    std::vector<std::vector<float>> frames;
    for (auto& x : xs)
        frames.push_back({(float)x[0], (float)x[1], (float)x[2]});
    Data data({frames});
    Sequence* in = data.seqs[0];

    // The sequence path (eight Gaussians at a time) and the frame path agree
    // bit for bit; both follow the double reference to real precision.
    gmm.emForward(in);
    double total = 0;
    for (size_t t = 0; t < xs.size(); t++) {
        double ref = referenceLogLikelihood(w, m, v, xs[t]);
        real seq_value = gmm.log_probabilities->frames[t][0];
        EXPECT_NEAR(seq_value, ref, 2e-6 * std::max(1.0, std::fabs(ref))) << "frame " << t;
        real l0 = gmm.log_probabilities_g->frames[t][0], l1 = gmm.log_probabilities_g->frames[t][1];
        EXPECT_EQ(seq_value, gmm.frameLogProbability((int)t, in->frames[t]));
        EXPECT_EQ(l0, gmm.log_probabilities_g->frames[t][0]);
        EXPECT_EQ(l1, gmm.log_probabilities_g->frames[t][1]);
        total += ref;
    }
    EXPECT_NEAR(gmm.log_probability, total, 1e-5 * std::fabs(total));

    gmm.forward(in);
    EXPECT_NEAR(gmm.outputs->frames[0][0], total, 1e-5 * std::fabs(total));
}

TEST(DiagonalGMM, ManyGaussiansScoreLikeTheFramePath) {
    // More Gaussians than one vector pass holds, and a count that is not a
    // multiple of it, so padding and chunk boundaries are exercised.
    Random::setSeed(7);
    DiagonalGMM gmm(18, 21);
    real floor[18];
    for (auto& f : floor)
        f = 0.05f;
    gmm.setVarThreshold(floor);
    gmm.reset();
    gmm.startEmIteration();
    Sequence seq(5, 18);
    for (int t = 0; t < 5; t++)
        for (int j = 0; j < 18; j++)
            seq.frames[t][j] = Random::uniform();
    gmm.emForward(&seq);
    std::vector<real> fast(5);
    for (int t = 0; t < 5; t++)
        fast[t] = gmm.log_probabilities->frames[t][0];
    for (int t = 0; t < 5; t++)
        EXPECT_EQ(fast[t], gmm.frameLogProbability(t, seq.frames[t]));
}

TEST(DiagonalGMM, ViterbiScoreIsTheChosenGaussiansOwnDensity) {
    DiagonalGMM gmm(1, 2);
    setMixture(gmm, {0.5, 0.5}, {{-1.0}, {1.0}}, {{1.0}, {1.0}});
    real x = 0;  // both Gaussians give the same density
    real expected = (real)(-0.5 * LOG_2_PI - 0.5);
    EXPECT_FLOAT_EQ(gmm.frameViterbiLogProbability(0, &x), expected);
    EXPECT_FLOAT_EQ(gmm.log_probabilities->frames[0][0], expected);
}

class DiagonalGMMEm : public ::testing::Test {
protected:
    // Gaussian 0 near the frames at 0, Gaussian 1 near 9 and 11, Gaussian 2
    // far from everything: posteriors are exactly 1 or 0 in reals.
    Data data{{{{0}, {0}}, {{9}, {0}, {11}}}};
    DiagonalGMM gmm{1, 3};
    Recorder rec;

    void SetUp() override {
        real floor = 0.01f;
        gmm.setVarThreshold(&floor);
        setMixture(gmm, {0.4, 0.4, 0.2}, {{0.0}, {10.0}, {1000.0}}, {{1.0}, {1.0}, {1.0}});
    }

    void iterate() {
        gmm.startEmIteration();
        for (int i = 0; i < data.set.n_examples; i++) {
            data.set.setExample(i, true, true);
            gmm.emForward(data.set.inputs);
            gmm.emAccumulate(data.set.inputs, 0);
        }
        gmm.emUpdate();
    }
};

TEST_F(DiagonalGMMEm, OneIterationMatchesHandComputedUpdate) {
    iterate();
    // Posterior sums start at 0.001: 3.001, 2.001 and 0.001, total 5.003.
    EXPECT_NEAR(gmm.log_weights[0], std::log(3.001 / 5.003), 1e-6);
    EXPECT_NEAR(gmm.log_weights[1], std::log(2.001 / 5.003), 1e-6);
    EXPECT_NEAR(gmm.log_weights[2], std::log(0.001 / 5.003), 1e-5);
    // The frames at 0 give Gaussian 0 zero variance: the floor.
    EXPECT_NEAR(gmm.means[0][0], 0.0, 1e-12);
    EXPECT_FLOAT_EQ(gmm.var[0][0], 0.01f);
    EXPECT_NEAR(gmm.means[1][0], 20.0 / 2.001, 1e-5);
    EXPECT_NEAR(gmm.var[1][0], 202.0 / 2.001 - (20.0 / 2.001) * (20.0 / 2.001), 1e-4);
    // The unused Gaussian keeps a small weight, its mean falls to 0 and its variance to the floor.
    EXPECT_FLOAT_EQ(gmm.means[2][0], 0.0f);
    EXPECT_FLOAT_EQ(gmm.var[2][0], 0.01f);
    EXPECT_EQ(rec.warnings, "");
}

TEST_F(DiagonalGMMEm, UnusedGaussianWithoutPriorWeightWarnsAndKeepsItsParameters) {
    gmm.setRealOption("prior weights", 0);
    iterate();
    EXPECT_EQ(rec.warnings, "Gaussian 2 of GMM is not used in EM\n");
    EXPECT_FLOAT_EQ(gmm.means[2][0], 1000.0f);
    EXPECT_FLOAT_EQ(gmm.var[2][0], 1.0f);
    EXPECT_TRUE(std::isinf(gmm.log_weights[2]) && gmm.log_weights[2] < 0);
    EXPECT_NEAR(gmm.log_weights[0], std::log(3.0 / 5.0), 1e-6);
}

TEST_F(DiagonalGMMEm, UpdateOverNoDataKeepsTheWeights) {
    gmm.setRealOption("prior weights", 0);
    std::vector<float> before = gmmtest::paramsOf(gmm);
    gmm.startEmIteration();
    gmm.emUpdate();
    EXPECT_EQ(gmmtest::paramsOf(gmm), before);
    EXPECT_EQ(rec.warnings, "Gaussian 0 of GMM is not used in EM\nGaussian 1 of GMM is not used in EM\n"
                            "Gaussian 2 of GMM is not used in EM\n");
}

TEST(DiagonalGMM, SetDataSetFloorsVariancesAndNormalisesWeights) {
    DiagonalGMM gmm(2, 2);
    real floor[2] = {0.5f, 0.5f};
    gmm.setVarThreshold(floor);
    gmm.log_weights[0] = std::log(2.0f);
    gmm.log_weights[1] = std::log(6.0f);
    for (int g = 0; g < 2; g++)
        for (int j = 0; j < 2; j++) {
            gmm.means[g][j] = 0;
            gmm.var[g][j] = j == 0 ? 0.1f : 3.0f;
        }
    Data data({{{1, 2}}});
    gmm.setDataSet(&data.set);
    EXPECT_NEAR(std::exp(gmm.log_weights[0]), 0.25, 1e-6);
    EXPECT_NEAR(std::exp(gmm.log_weights[1]), 0.75, 1e-6);
    EXPECT_FLOAT_EQ(gmm.var[0][0], 0.5f);
    EXPECT_FLOAT_EQ(gmm.var[1][1], 3.0f);
}

TEST(DiagonalGMM, SeededResetAndSamplesAreReproducibleAndInRange) {
    auto run = [](std::vector<float>* params, std::vector<float>* samples) {
        Random::setSeed(42);
        DiagonalGMM gmm(2, 3);
        real floor[2] = {0.1f, 0.2f};
        gmm.setVarThreshold(floor);
        gmm.reset();
        *params = gmmtest::paramsOf(gmm);
        Sequence s(50, 2);
        gmm.sample(&s);
        samples->assign(s.frames[0], s.frames[0] + 100);
        double total = 0;
        for (int g = 0; g < 3; g++) {
            total += std::exp(gmm.log_weights[g]);
            for (int j = 0; j < 2; j++) {
                EXPECT_GE(gmm.means[g][j], 0.0f);
                EXPECT_LT(gmm.means[g][j], 1.0f);
                EXPECT_GE(gmm.var[g][j], floor[j]);
                EXPECT_LT(gmm.var[g][j], 10 * floor[j]);
            }
        }
        EXPECT_NEAR(total, 1.0, 1e-6);
    };
    std::vector<float> p1, s1, p2, s2;
    run(&p1, &s1);
    run(&p2, &s2);
    EXPECT_EQ(p1, p2);
    EXPECT_EQ(s1, s2);
}

TEST(DiagonalGMM, SampleFollowsTheChosenGaussian) {
    Random::setSeed(3);
    DiagonalGMM gmm(1, 2);
    setMixture(gmm, {1.0, 1e-30}, {{5.0}, {-5.0}}, {{0.01}, {0.01}});
    Sequence s(200, 1);
    gmm.sample(&s);
    double mean = 0;
    for (int t = 0; t < 200; t++)
        mean += s.frames[t][0] / 200;
    EXPECT_NEAR(mean, 5.0, 0.05);
}

TEST(DiagonalGMM, DisplayWritesEachGaussian) {
    DiagonalGMM gmm(2, 1);
    setMixture(gmm, {1.0}, {{0.5, 1.25}}, {{2.0, 3.0}});
    testing::internal::CaptureStdout();
    gmm.display();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Mixture 1 1\nMean\n0.5 1.25 \nVar\n2 3 \n");
}

TEST(DiagonalGMM, ViterbiAccumulationGivesTiesToTheFirstGaussian) {
    DiagonalGMM gmm(1, 2);
    setMixture(gmm, {0.5, 0.5}, {{-1.0}, {1.0}}, {{1.0}, {1.0}});
    Data data(gmmtest::Examples{{{0.0f}, {0.0f}, {3.0f}}});
    gmm.startEmIteration();
    data.set.setExample(0, true, true);
    gmm.viterbiForward(data.set.inputs);
    gmm.viterbiAccumulate(data.set.inputs, 0);
    EXPECT_FLOAT_EQ(gmm.weights_acc[0], 2.001f);
    EXPECT_FLOAT_EQ(gmm.weights_acc[1], 1.001f);
    EXPECT_FLOAT_EQ(gmm.means_acc[1][0], 3.0f);
    EXPECT_FLOAT_EQ(gmm.var_acc[1][0], 9.0f);
    EXPECT_EQ(gmm.means_acc[0][0], 0.0f);
}

TEST(DiagonalGMM, EmIterationInSevenDimensionsMatchesDoubleReference) {
    // Seven inputs: one vector of four plus a tail of three in the accumulation.
    const int D = 7, G = 3, N = 40;
    Random::setSeed(11);
    DiagonalGMM gmm(D, G);
    real floor[D];
    for (auto& f : floor)
        f = 0.05f;
    gmm.setVarThreshold(floor);
    gmm.reset();
    gmm.startEmIteration();
    std::vector<double> w(G);
    std::vector<std::vector<double>> m(G, std::vector<double>(D)), v(G, std::vector<double>(D));
    for (int g = 0; g < G; g++) {
        w[g] = std::exp((double)gmm.log_weights[g]);
        for (int j = 0; j < D; j++) {
            m[g][j] = gmm.means[g][j];
            v[g][j] = gmm.var[g][j];
        }
    }
    Sequence seq(N, D);
    for (int t = 0; t < N; t++)
        for (int j = 0; j < D; j++)
            seq.frames[t][j] = Random::uniform();

    // Reference posteriors and sums in double.
    std::vector<double> n(G, 0.001), s1(G * D, 0), s2(G * D, 0);
    for (int t = 0; t < N; t++) {
        std::vector<double> x(seq.frames[t], seq.frames[t] + D), lg(G);
        double lp = referenceLogLikelihood(w, m, v, x);
        for (int g = 0; g < G; g++) {
            double p = w[g] * std::exp(referenceLogLikelihood({1.0}, {m[g]}, {v[g]}, x) - lp);
            n[g] += p;
            for (int j = 0; j < D; j++) {
                s1[g * D + j] += p * x[j];
                s2[g * D + j] += p * x[j] * x[j];
            }
        }
    }

    gmm.emForward(&seq);
    gmm.emAccumulate(&seq, 0);
    gmm.emUpdate();
    double total = 0;
    for (int g = 0; g < G; g++)
        total += n[g];
    for (int g = 0; g < G; g++) {
        EXPECT_NEAR(gmm.log_weights[g], std::log(n[g] / total), 1e-4) << g;
        for (int j = 0; j < D; j++) {
            double mean = s1[g * D + j] / n[g];
            double var = std::max(s2[g * D + j] / n[g] - mean * mean, 0.05);
            EXPECT_NEAR(gmm.means[g][j], mean, 1e-4) << g << "," << j;
            EXPECT_NEAR(gmm.var[g][j], var, 1e-4) << g << "," << j;
        }
    }
}
