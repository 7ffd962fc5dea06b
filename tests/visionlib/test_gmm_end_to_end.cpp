// World model by EM, stored as a model file, reloaded, MAP-adapted to one
// cluster and used for log-likelihood-ratio scores, as face verification does.
#include "gmm_support.h"

#include "visionlib/DiskXFile.h"
#include "visionlib/MapAdaptedGmm.h"
#include "visionlib/Measurer.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Random.h"
#include "visionlib/Trainer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace vision;
using gmmtest::Recorder;

namespace {

const int D = 3;
const int G = 4;
// Three broad clusters make up the world; the user is a narrow patch inside
// cluster 0, one world spread away from its centre.
const float CENTRES[4][D] = {{0.2f, 0.8f, 0.5f}, {0.8f, 0.2f, 0.3f}, {0.5f, 0.5f, 0.9f}, {0.3f, 0.7f, 0.6f}};
const float SPREADS[4] = {0.1f, 0.1f, 0.1f, 0.04f};
const int USER = 3;

// Examples of 30 frames drawn around one cluster centre.
struct Cluster {
    std::vector<std::unique_ptr<Sequence>> seqs;
    std::vector<Sequence*> ptrs;
    MemoryDataSet set;
    Cluster(int c, int n_examples) {
        for (int i = 0; i < n_examples; i++) {
            seqs.emplace_back(new Sequence(30, D));
            for (int t = 0; t < 30; t++)
                for (int j = 0; j < D; j++)
                    seqs.back()->frames[t][j] = Random::gaussian(CENTRES[c][j], SPREADS[c]);
            ptrs.push_back(seqs.back().get());
        }
        set.setInputs(ptrs.data(), n_examples);
    }
};

// Mean frame log-likelihood of every example, the verifiers' way: a frame-mean
// measurer writing "%g" lines into a memory file that is read back.
std::vector<float> meanScores(DiagonalGMM* gmm, DataSet* data) {
    MemoryXFile file(256);
    FrameMeanMeasurer m(gmm->log_probabilities, data, nullptr, &file);
    MeasurerList list;
    list.addNode(&m);
    EMTrainer trainer(gmm);
    trainer.test(&list);
    file.rewind();
    std::vector<float> out(data->n_examples);
    for (auto& v : out)
        EXPECT_EQ(file.scanf("%g", &v), 1);
    return out;
}

// The variance floor of the user model: 0.001 of the data's per-input variance.
void varianceFloor(DataSet* data, real* floor) {
    double s[D] = {0}, q[D] = {0};
    long n = 0;
    for (int i = 0; i < data->n_examples; i++) {
        data->setExample(i, true, true);
        for (int t = 0; t < data->inputs->n_frames; t++, n++)
            for (int j = 0; j < D; j++) {
                double x = data->inputs->frames[t][j];
                s[j] += x;
                q[j] += x * x;
            }
    }
    for (int j = 0; j < D; j++) {
        double mean = s[j] / n, v = q[j] / n - mean * mean;
        floor[j] = (real)(0.001 * (v > 0 ? v : 1));
    }
}

}  // namespace

TEST(GmmEndToEnd, TrainSaveReloadAdaptAndScore) {
    Recorder rec;
    Random::setSeed(2024);
    Cluster train0(0, 6), train1(1, 6), train2(2, 6), user_train(USER, 4);
    Cluster test0(0, 3), test1(1, 3), test2(2, 3), user_test(USER, 3);

    // World model on all three clusters.
    std::vector<Sequence*> all;
    for (Cluster* c : {&train0, &train1, &train2})
        all.insert(all.end(), c->ptrs.begin(), c->ptrs.end());
    MemoryDataSet world_data;
    world_data.setInputs(all.data(), (int)all.size());
    DiagonalGMM world(D, G);
    real floor[D] = {1e-3f, 1e-3f, 1e-3f};
    world.setVarThreshold(floor);
    world.reset();
    EMTrainer em(&world);
    em.setIntOption("max iter", 100);
    em.setRealOption("end accuracy", 1e-5f);
    em.train(&world_data, nullptr);

    // Three records: "n_gaussians", "n_inputs", "PARAMS".
    char path[] = "/tmp/tarvelo-gmm-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        DiskXFile file(path, "w");
        int n_gaussians = world.n_gaussians, n_inputs = world.n_inputs;
        file.taggedWrite(&n_gaussians, 4, 1, "n_gaussians");
        file.taggedWrite(&n_inputs, 4, 1, "n_inputs");
        world.saveXFile(&file);
    }
    struct stat st;
    ASSERT_EQ(stat(path, &st), 0);
    EXPECT_EQ(st.st_size, 27 + 24 + 18 + 4 * G * (2 * D + 1));

    std::unique_ptr<DiagonalGMM> loaded;
    {
        DiskXFile file(path, "r");
        int n_gaussians = 0, n_inputs = 0;
        file.taggedRead(&n_gaussians, 4, 1, "n_gaussians");
        file.taggedRead(&n_inputs, 4, 1, "n_inputs");
        ASSERT_EQ(n_gaussians, G);
        ASSERT_EQ(n_inputs, D);
        loaded.reset(new DiagonalGMM(n_inputs, n_gaussians));
        loaded->loadXFile(&file);
    }
    std::remove(path);
    EXPECT_EQ(gmmtest::paramsOf(*loaded), gmmtest::paramsOf(world));

    // Identical scores from the reloaded model (the trained one after fresh constants).
    world.startEmIteration();
    for (Cluster* c : {&test0, &test1, &test2})
        EXPECT_EQ(meanScores(loaded.get(), &c->set), meanScores(&world, &c->set));

    // The user model: MAP adaptation of the means to the user's patch.
    std::vector<float> prior_before = gmmtest::paramsOf(*loaded);
    MapAdaptedGmm user(loaded.get());
    real user_floor[D];
    varianceFloor(&user_train.set, user_floor);
    user.setVarThreshold(user_floor);
    user.setRealOption("prior weights", 0.001f);
    user.setRealOption("weight on prior", 0.5f);
    user.setBoolOption("learn means", true);
    EMTrainer adapt(&user);
    adapt.setIntOption("max iter", 100);
    adapt.setRealOption("end accuracy", 1e-5f);
    adapt.setBoolOption("viterbi", false);
    adapt.train(&user_train.set, nullptr);
    EXPECT_EQ(gmmtest::paramsOf(*loaded), prior_before);

    struct Case {
        Cluster* data;
        bool own;
    } cases[] = {{&user_test, true}, {&user_train, true}, {&test1, false}, {&test2, false}};
    for (const Case& c : cases) {
        std::vector<float> u = meanScores(&user, &c.data->set);
        std::vector<float> w = meanScores(loaded.get(), &c.data->set);
        for (size_t i = 0; i < u.size(); i++) {
            float llr = u[i] - w[i];
            if (c.own)
                EXPECT_GT(llr, 0.0f) << "example " << i;
            else
                EXPECT_LT(llr, 0.0f) << "example " << i;
        }
    }
}
