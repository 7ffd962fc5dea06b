// EM trainer stop rule and passes, measurers and their grouping.
#include "gmm_support.h"

#include "visionlib/MapAdaptedGmm.h"
#include "visionlib/Measurer.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Trainer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace vision;
using gmmtest::Data;
using gmmtest::Recorder;
using gmmtest::paramsOf;
using gmmtest::setMixture;

namespace {

// Gives every frame the same log-likelihood and counts the EM hooks.
struct ConstantModel : ProbabilityModel {
    int data_sets = 0, starts = 0, updates = 0, frames = 0;
    ConstantModel() : ProbabilityModel(1, 0) {}
    void setDataSet(DataSet*) override { data_sets++; }
    real frameLogProbability(int, real*) override { return -1.5f; }
    void startEmIteration() override { starts++; }
    void frameEmAccumulate(int, real*, real) override { frames++; }
    void emUpdate() override { updates++; }
};

// Logs every call it receives.
struct LogMeasurer : Measurer {
    std::string* log;
    std::string tag;
    LogMeasurer(DataSet* d, std::string* log_, const char* tag_) : Measurer(d, nullptr), log(log_), tag(tag_) {}
    void measureExample() override { *log += tag + "e" + std::to_string(data->current_example) + " "; }
    void measureIteration() override { *log += tag + "I "; }
    void measureEnd() override { *log += tag + "E "; }
    void reset() override { *log += tag + "R "; }
};

std::vector<std::vector<std::vector<float>>> oneFrameExamples(int n) {
    return std::vector<std::vector<std::vector<float>>>(n, {{0.5f}});
}

}  // namespace

TEST(EMTrainer, ConstantLikelihoodStopsAfterTwoIterationsWithoutWarning) {
    Recorder rec;
    Data data(oneFrameExamples(3));
    ConstantModel model;
    EMTrainer trainer(&model);
    trainer.train(&data.set, nullptr);
    EXPECT_EQ(model.data_sets, 1);
    EXPECT_EQ(model.starts, 2);
    EXPECT_EQ(model.updates, 2);  // the last update is applied too
    EXPECT_EQ(model.frames, 6);
    EXPECT_EQ(rec.warnings, "");
    EXPECT_EQ(rec.printed, "");
}

TEST(EMTrainer, MaxIterOneStopsWithWarning) {
    Recorder rec;
    Data data(oneFrameExamples(2));
    ConstantModel model;
    EMTrainer trainer(&model);
    trainer.setIntOption("max iter", 1);
    trainer.setBoolOption("verbose", true);
    trainer.train(&data.set, nullptr);
    EXPECT_EQ(model.updates, 1);
    EXPECT_EQ(rec.messages, "EMTrainer: training\n");
    EXPECT_EQ(rec.printed, ".\n");
    EXPECT_EQ(rec.warnings, "EMTrainer: you have reached the maximum number of iterations\n");
}

TEST(EMTrainer, MixtureThatLearnsNothingKeepsThePriorAndStopsAfterTwoIterations) {
    Recorder rec;
    DiagonalGMM prior(1, 2);
    setMixture(prior, {0.3, 0.7}, {{0.0}, {2.0}}, {{1.0}, {0.5}});
    MapAdaptedGmm map(&prior);
    Data data(gmmtest::Examples{{{0.1f}, {1.9f}, {2.2f}}});
    std::string log;
    LogMeasurer m(&data.set, &log, "");
    MeasurerList list;
    list.addNode(&m);
    EMTrainer trainer(&map);
    trainer.train(&data.set, &list);
    EXPECT_EQ(paramsOf(map), paramsOf(prior));
    EXPECT_EQ(log, "R e0 I e0 I E ");
    EXPECT_EQ(rec.warnings, "");
}

TEST(EMTrainer, NothingToTrainOnReturnsAtOnce) {
    // No examples at all, and examples without frames (which would make the
    // mean 0 / 0 and, with no iteration limit, never stop).
    Recorder rec;
    Data empty(gmmtest::Examples{});
    Data frameless(gmmtest::Examples{{}, {}});
    for (Data* d : {&empty, &frameless}) {
        ConstantModel model;
        EMTrainer trainer(&model);
        trainer.setIntOption("max iter", 0);
        trainer.train(&d->set, nullptr);
        EXPECT_EQ(model.data_sets, 0);
        EXPECT_EQ(model.starts, 0);
        EXPECT_EQ(model.updates, 0);
    }
    EXPECT_EQ(rec.warnings, "");
}

TEST(EMTrainer, OtherDataSetsAreMeasuredAfterEachUpdate) {
    Recorder rec;
    Data train(oneFrameExamples(2));
    Data valid(oneFrameExamples(1));
    std::string log;
    LogMeasurer on_valid(&valid.set, &log, "v");
    LogMeasurer on_train(&train.set, &log, "t");
    MeasurerList list;
    list.addNode(&on_valid);
    list.addNode(&on_train);
    ConstantModel model;
    EMTrainer trainer(&model);
    trainer.train(&train.set, &list);
    EXPECT_EQ(log, "vR tR "
                   "te0 te1 tI ve0 vI "
                   "te0 te1 tI ve0 vI "
                   "tE vE ");
}

TEST(GroupMeasurers, TrainingSetFirstThenOrderOfFirstMention) {
    Data a(oneFrameExamples(1)), b(oneFrameExamples(1)), c(oneFrameExamples(1));
    std::string log;
    LogMeasurer m1(&b.set, &log, ""), m2(&c.set, &log, ""), m3(&b.set, &log, ""), m4(&a.set, &log, "");
    MeasurerList list;
    for (Measurer* m : {(Measurer*)&m1, (Measurer*)&m2, (Measurer*)&m3, (Measurer*)&m4})
        list.addNode(m);

    MeasurerGroups g = groupMeasurers(&list, &a.set);
    ASSERT_EQ(g.n_datas, 3);
    EXPECT_EQ(g.datas[0], &a.set);
    EXPECT_EQ(g.datas[1], &b.set);
    EXPECT_EQ(g.datas[2], &c.set);
    ASSERT_EQ(g.n_measurers[0], 1);
    EXPECT_EQ(g.measurers[0][0], &m4);
    ASSERT_EQ(g.n_measurers[1], 2);
    EXPECT_EQ(g.measurers[1][0], &m1);
    EXPECT_EQ(g.measurers[1][1], &m3);
    ASSERT_EQ(g.n_measurers[2], 1);
    EXPECT_EQ(g.measurers[2][0], &m2);

    MeasurerGroups alone = groupMeasurers(nullptr, &a.set);
    ASSERT_EQ(alone.n_datas, 1);
    EXPECT_EQ(alone.n_measurers[0], 0);
    MeasurerGroups none = groupMeasurers(nullptr, nullptr);
    EXPECT_EQ(none.n_datas, 0);
}

namespace {
struct PlainTrainer : Trainer {
    explicit PlainTrainer(ModelBase* m) : Trainer(m) {}
    void train(DataSet*, MeasurerList*) override {}
};
}  // namespace

TEST(Trainer, TestPrintsProgressSigns) {
    struct Case {
        bool em;
        int n;
        const char* expected;
    } cases[] = {
        {false, 5, "# Trainer: testing [_____]\n"},
        {false, 200, "# Trainer: testing [..........]\n"},
        {false, 12, "# Trainer: testing [..........]\n"},
        {true, 5, "# EMTrainer: testing [_____]\n"},
        {true, 200, "# EMTrainer: testing [..........]\n"},
    };
    for (const Case& c : cases) {
        Recorder rec;
        Data data(oneFrameExamples(c.n));
        std::string log;
        LogMeasurer m(&data.set, &log, "");
        MeasurerList list;
        list.addNode(&m);
        ConstantModel model;
        if (c.em) {
            EMTrainer trainer(&model);
            trainer.setBoolOption("verbose", true);
            trainer.test(&list);
            EXPECT_EQ(model.starts, 1);
            EXPECT_EQ(model.log_probability, -1.5f);
        } else {
            PlainTrainer trainer(&model);
            trainer.test(&list);
            EXPECT_EQ(model.outputs->frames[0][0], -1.5f);
        }
        EXPECT_EQ(rec.printed, c.expected) << c.n;
    }
}

TEST(EMTrainer, QuietTestPrintsNothing) {
    Recorder rec;
    Data data(oneFrameExamples(4));
    std::string log;
    LogMeasurer m(&data.set, &log, "");
    MeasurerList list;
    list.addNode(&m);
    ConstantModel model;
    EMTrainer trainer(&model);
    trainer.test(&list);
    EXPECT_EQ(rec.printed, "");
    EXPECT_EQ(log, "R e0 e1 e2 e3 I E ");
}

namespace {

std::string measure(const std::vector<float>& values, bool names, bool average, bool binary) {
    std::vector<std::vector<float>> frames;
    for (float v : values)
        frames.push_back({v});
    Data data({{{0}}, frames});
    Sequence out((int)values.size(), 1);
    for (size_t t = 0; t < values.size(); t++)
        out.frames[t][0] = values[t];
    const char* paths[] = {"x/first.pgm", "a/b/face01.x.pgm"};
    MemoryXFile file;
    FrameMeanMeasurer m(&out, &data.set, names ? (char**)paths : nullptr, &file);
    m.setBoolOption("average frames", average);
    m.setBoolOption("binary mode", binary);
    data.set.setExample(1, true, true);
    m.measureExample();
    std::string text(file.size, '\0');
    file.rewind();
    file.read(&text[0], 1, file.size);
    return text;
}

std::string bytesOf(const char* name, float value) {
    std::string s(name);
    s.append((const char*)&value, 4);
    return s;
}

}  // namespace

TEST(FrameMeanMeasurer, WritesMeanAndSpreadLines) {
    struct Case {
        std::vector<float> values;
        bool names, average, binary;
        std::string expected;
    } cases[] = {
        {{1, 2, 3}, false, true, false, "2\n"},
        {{1, 2, 3}, true, true, false, "face01.x 2 0.816497\n"},
        {{1, 2, 3}, true, false, false, "face01.x 6 14\n"},
        {{1, 2, 3}, false, false, false, "6\n"},
        {{1, 2, 3}, true, true, true, bytesOf("face01.x", 2.0f)},
        {{1, 2, 3}, false, true, true, bytesOf("", 2.0f)},
        // The mean rounds up to the larger value, so Q / n - mean^2 is below 0: the spread is 0, not NaN.
        {{1 + 0x1p-23f, 1 + 0x1p-22f}, true, true, false, "face01.x 1 0\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(measure(c.values, c.names, c.average, c.binary), c.expected)
            << c.names << c.average << c.binary;
}

TEST(FrameMeanMeasurer, NamesFollowTheRealExampleUnderASubset) {
    Data data({{{1}}, {{2}}, {{3}}});
    const char* paths[] = {"p/zero.pgm", "p/one.pgm", "p/two.pgm"};
    MemoryXFile file;
    FrameMeanMeasurer m(data.seqs[0], &data.set, (char**)paths, &file);
    int subset[] = {2};
    data.set.pushSubset(subset, 1);
    data.set.setExample(0, true, true);
    m.measureExample();
    std::string text(file.size, '\0');
    file.rewind();
    file.read(&text[0], 1, file.size);
    EXPECT_EQ(text, "two 1 0\n");
}

TEST(Trainer, AMeasurersFatalErrorInARecoverableScopeLeavesNothingAllocated) {
    // The grouping tables once leaked when an error unwound through the pass (the sanitizer build
    // checks for leaks).
    struct FailingMeasurer : Measurer {
        explicit FailingMeasurer(DataSet* d) : Measurer(d, nullptr) {}
        void measureExample() override { error("FailingMeasurer: no name for example %d", data->current_example); }
    };
    Recorder rec;
    Data data(oneFrameExamples(3));
    FailingMeasurer m(&data.set);
    MeasurerList list;
    list.addNode(&m);
    ConstantModel model;
    PlainTrainer trainer(&model);
    std::string text;
    EXPECT_FALSE(runRecoverable([&] { trainer.test(&list); }, &text));
    EXPECT_EQ(text, "FailingMeasurer: no name for example 0");
}
