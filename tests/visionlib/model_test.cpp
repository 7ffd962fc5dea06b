#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "fatal.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Model.h"
#include "visionlib/ParameterBlocks.h"
#include "visionlib/Sequence.h"

using namespace vision;

namespace {

TEST(ProbabilityModel, DefaultsScoreEachFrameAtTheLowestReal) {
    ProbabilityModel m(3, 4);
    Sequence one(1, 3);
    m.forward(&one);
    EXPECT_EQ(m.log_probability, -FLT_MAX);
    EXPECT_EQ(m.outputs->frames[0][0], -FLT_MAX);
    EXPECT_EQ(m.log_probabilities->n_frames, 1);
    Sequence four(4, 3);
    m.forward(&four);
    EXPECT_TRUE(std::isinf(m.log_probability) && m.log_probability < 0) << "the sum overflows";
    EXPECT_EQ(m.log_probabilities->n_frames, 4);
    EXPECT_EQ(m.params->n_params, 4);
    EXPECT_EQ(m.der_params->n_params, 4);
    EXPECT_EQ(m.beta->frame_size, 3);
}

// Counts the hooks that training calls.
struct Counting : ProbabilityModel {
    int em_starts = 0, frames_seen = 0, accumulated = 0, expected = 0, backwards = 0, forwards = 0;
    Counting() : ProbabilityModel(2, 2) {}
    void startEmIteration() override { em_starts++; }
    real frameLogProbability(int, real* f) override {
        frames_seen++;
        return f[0];
    }
    void frameEmAccumulate(int, real*, real) override { accumulated++; }
    void frameExpectation(int, real*) override { expected++; }
    void frameBackward(int, real*, real*, real*, real* a) override { backwards += a ? 1 : 0; }
};

TEST(ProbabilityModel, HooksAndLoadStartsAnIteration) {
    Counting m;
    Sequence s(3, 2);
    for (int i = 0; i < 3; i++) s.frames[i][0] = -(real)i;
    m.emForward(&s);
    EXPECT_FLOAT_EQ(m.log_probability, -3.0f);
    EXPECT_FLOAT_EQ(m.viterbiLogProbability(&s), -3.0f);
    m.emAccumulate(&s, 0);
    EXPECT_EQ(m.accumulated, 3);
    m.expectation(&s);
    EXPECT_EQ(m.expected, 3);
    Sequence alpha(1, 1);
    m.backward(&s, &alpha);
    EXPECT_EQ(m.backwards, 3);
    m.startIteration();
    EXPECT_EQ(m.em_starts, 1);

    m.params->data[0][0] = 1.5f;
    m.params->data[0][1] = -2;
    MemoryXFile f;
    m.saveXFile(&f);
    Counting n;
    f.rewind();
    n.loadXFile(&f);
    EXPECT_EQ(n.em_starts, 1);
    EXPECT_EQ(n.params->data[0][1], -2);
}

TEST(ParameterBlocks, FlatCopiesAndRecords) {
    ParameterBlocks one(6);
    for (int i = 0; i < 6; i++) one.data[0][i] = (real)i;
    real b0[2], b1[2], b2[2];
    ParameterBlocks three;
    three.add(b0, 2);
    three.add(b1, 2);
    three.add(b2, 2);
    three.add(nullptr, 2);
    EXPECT_EQ(three.n_data, 3);
    EXPECT_EQ(three.n_params, 6);
    three.copy(&one);
    EXPECT_EQ(b0[0], 0);
    EXPECT_EQ(b1[1], 3);
    EXPECT_EQ(b2[1], 5);

    ParameterBlocks copied;
    copied.add(&three, true);
    EXPECT_NE(copied.data[0], b0);
    real flat[6];
    copied.copyTo(flat);
    EXPECT_EQ(flat[5], 5);

    MemoryXFile f;
    three.saveXFile(&f);
    EXPECT_EQ(f.size, 3 * (4 + 6 + 4 + 4 + 8));
    ParameterBlocks none(0);
    MemoryXFile empty;
    none.saveXFile(&empty);
    EXPECT_EQ(empty.size, 0);
    none.loadXFile(&empty);
}

TEST(ParameterBlocksDeathTest, ShortCopiesAndTruncatedFilesAreFatal) {
    EXPECT_FATAL(
        {
            ParameterBlocks big(6);
            ParameterBlocks small(5);
            big.copy(&small);
        },
        "ParameterBlocks: cannot copy 6 values from parameters of 5 values");

    char name[] = "/tmp/visionlib_params_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        ParameterBlocks p(8);
        for (int i = 0; i < 8; i++) p.data[0][i] = (real)i;
        p.save(name);
    }
    ASSERT_EQ(truncate(name, 4 + 6 + 4 + 4 + 8 * 4 - 3), 0);
    EXPECT_FATAL(ParameterBlocks(8).load(name), "XFile: tag <PARAMS> has a corrupted size!");
    EXPECT_FATAL(ParameterBlocks(9).load(name), "XFile: tag <PARAMS> has a corrupted size!");
    unlink(name);
}

}  // namespace
