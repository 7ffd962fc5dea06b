#include <cstring>
#include <vector>

#include "fatal.h"
#include "visionlib/MemoryDataSet.h"
#include "visionlib/MemoryStack.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/PointerList.h"
#include "visionlib/Sequence.h"

using namespace vision;

namespace {

void fill(Sequence& s, real start) {
    for (int i = 0; i < s.n_frames; i++)
        for (int j = 0; j < s.frame_size; j++) s.frames[i][j] = start + (real)(i * s.frame_size + j);
}

TEST(Sequence, Shapes) {
    Sequence empty(0, 18);
    EXPECT_EQ(empty.n_frames, 0);
    EXPECT_EQ(empty.n_allocated_frames, 0);
    EXPECT_EQ(empty.frame_size, 18);

    Sequence s(5, 3);
    fill(s, 0);
    real* third = s.frames[2];
    s.resize(2, true);
    EXPECT_EQ(s.n_frames, 2);
    EXPECT_EQ(s.n_allocated_frames, 5);
    EXPECT_EQ(s.frames[2], third) << "shrinking keeps the frames";
    s.resize(4, true);
    EXPECT_EQ(s.n_allocated_frames, 5) << "growing within the frames that exist allocates nothing";
    EXPECT_EQ(s.frames[2], third);
    s.resize(7, false);
    EXPECT_EQ(s.n_allocated_frames, 7);
    EXPECT_EQ(s.frames[6], nullptr);
    s.resize(9, true);
    ASSERT_NE(s.frames[8], nullptr);
    s.frames[8][2] = 1;  // the new frames are usable

    // addFrame while frames beyond n_frames exist goes past them and leaves n_frames alone.
    Sequence t(4, 2);
    t.resize(2);
    real extra[2] = {7, 8};
    t.addFrame(extra, true);
    EXPECT_EQ(t.n_frames, 2);
    EXPECT_EQ(t.n_allocated_frames, 5);
    EXPECT_NE(t.frames[4], extra);
    EXPECT_EQ(t.frames[4][1], 8);
    Sequence u(2, 2);
    u.addFrame(extra, false);
    EXPECT_EQ(u.n_frames, 3);
    EXPECT_EQ(u.frames[2], extra);
    u.addFrame(nullptr);
    EXPECT_EQ(u.n_frames, 3);
}

TEST(Sequence, CallerFramesStayTheCallers) {
    real a[2] = {1, 2}, b[2] = {3, 4}, c[2] = {5, 6};
    real* table[2] = {a, b};
    Sequence s(table, 2, 2);
    s.addFrame(c);
    EXPECT_EQ(table[0], a);
    EXPECT_EQ(table[1], b);
    EXPECT_NE(s.frames, table);
    EXPECT_EQ(s.frames[2], c);
    Sequence other(1, 2);
    other.add(&s, true);
    EXPECT_EQ(other.n_frames, 4);
    EXPECT_EQ(other.frames[3][1], 6);
}

TEST(Sequence, FlatCopiesAcrossDifferentFrameCuts) {
    Sequence src(2, 6);
    fill(src, 1);
    Sequence dst(4, 3);
    dst.copy(&src);
    EXPECT_EQ(dst.frames[3][2], 12);
    EXPECT_EQ(dst.frames[1][0], 4);
    std::vector<real> flat(12);
    dst.copyTo(flat.data());
    for (int i = 0; i < 12; i++) EXPECT_EQ(flat[i], i + 1);
    for (auto& v : flat) v *= 2;
    src.copyFrom(flat.data());
    EXPECT_EQ(src.frames[1][5], 24);
}

TEST(Sequence, SaveWritesOneFrameRecordPerFrame) {
    Sequence s(221, 18);
    fill(s, 0);
    MemoryXFile f;
    s.saveXFile(&f);
    EXPECT_EQ(f.size, 221 * (4 + 5 + 4 + 4 + 72));
    Sequence back(221, 18);
    f.rewind();
    back.loadXFile(&f);
    EXPECT_EQ(0, memcmp(back.frames[220], s.frames[220], 72));
}

TEST(Sequence, CloneIntoCallerStorageUsesRealPointerWidth) {
    Sequence s(5, 3);
    fill(s, 10);
    const int expected = (int)(5 * sizeof(real*) + 5 * 3 * sizeof(real));
    ASSERT_EQ(s.cloneStorageSize(), expected);
    Object owner;
    std::vector<unsigned char> storage((size_t)s.cloneStorageSize());
    alignas(Sequence) unsigned char object_memory[sizeof(Sequence)];
    ASSERT_GE(s.objectSize(), (int)sizeof(Sequence));
    Sequence* c = s.clone(owner.allocator, object_memory, storage.data());
    EXPECT_EQ(static_cast<void*>(c), static_cast<void*>(object_memory));
    EXPECT_EQ(owner.allocator->owns(c)->kind, ALLOC_PLACED_OBJECT);
    ASSERT_EQ(c->n_frames, 5);
    for (int i = 0; i < 5; i++) {
        EXPECT_GE((unsigned char*)c->frames[i], storage.data() + 5 * sizeof(real*));
        EXPECT_LE((unsigned char*)(c->frames[i] + 3), storage.data() + storage.size());
        EXPECT_EQ(0, memcmp(c->frames[i], s.frames[i], 3 * sizeof(real)));
    }

    Sequence* own = s.clone();
    EXPECT_EQ(s.allocator->owns(own)->kind, ALLOC_OBJECT);
    EXPECT_EQ(own->frames[4][2], s.frames[4][2]);
}

TEST(SequenceDeathTest, BadShapesAndShortCopies) {
    EXPECT_FATAL(Sequence(3, 0), "Sequence: try to create a sequence with a negative size");
    EXPECT_FATAL(Sequence(3, -2), "Sequence: try to create a sequence with a negative size");
    EXPECT_FATAL(
        {
            Sequence a(2, 3);
            Sequence b(1, 3);
            a.add(&b);
            Sequence c(1, 4);
            a.add(&c);
        },
        "Sequence: try to add a sequence with a wrong frame size");
    EXPECT_FATAL(
        {
            Sequence big(3, 4);
            Sequence small(2, 5);
            big.copy(&small);
        },
        "Sequence: cannot copy 12 values from a sequence of 10 values");
    EXPECT_FATAL(Sequence(2, 2).resize(-1), "Sequence: try to resize to a negative number of frames (-1)");
}

TEST(PointerList, AppendsAndJoins) {
    PointerList a, b;
    int x, y, z;
    a.addNode(&x);
    b.add(&a);
    b.addNode(&y);
    b.addNode(&z);
    a.add(&b);
    ASSERT_EQ(a.n_nodes, 4);
    EXPECT_EQ(a.nodes[0], &x);
    EXPECT_EQ(a.nodes[1], &x);
    EXPECT_EQ(a.nodes[3], &z);
    PointerList none;
    a.add(&none);
    EXPECT_EQ(a.n_nodes, 4);
}

struct Examples {
    Sequence* seqs[5];
    Sequence* tgts[5];
    Object owner;
    Examples() {
        for (int i = 0; i < 5; i++) {
            seqs[i] = new (owner.allocator) Sequence(i + 1, 2);
            tgts[i] = new (owner.allocator) Sequence(1, 1);
        }
    }
};

TEST(DataSet, SubsetsComposeAndPop) {
    Examples ex;
    MemoryDataSet d;
    d.setInputs(ex.seqs, 5);
    d.setTargets(ex.tgts, 5);
    EXPECT_EQ(d.n_inputs, 2);
    EXPECT_EQ(d.n_targets, 1);
    EXPECT_EQ(d.current_example, -1);

    int s1[] = {4, 2, 0};
    int s2[] = {2, 0};
    d.pushSubset(s1, 3);
    d.pushSubset(s2, 2);
    EXPECT_EQ(d.n_examples, 2);
    d.setExample(0);
    EXPECT_EQ(d.current_example, 0);
    EXPECT_EQ(d.inputs, ex.seqs[0]);
    d.setExample(1);
    EXPECT_EQ(d.current_example, 4);
    EXPECT_EQ(d.targets, ex.tgts[4]);
    int in_frames = 0, tg_frames = 0;
    d.getNumberOfFrames(1, &in_frames, &tg_frames);
    EXPECT_EQ(in_frames, 5);
    EXPECT_EQ(tg_frames, 1);

    d.popSubset();
    EXPECT_EQ(d.n_examples, 3);
    d.setExample(1);
    EXPECT_EQ(d.current_example, 2);
    d.popSubset();
    EXPECT_EQ(d.n_examples, 5);
    EXPECT_FALSE(d.select_examples);
    d.setExample(3);
    EXPECT_EQ(d.current_example, 3);
}

TEST(DataSet, PushExampleSavesPointersAndIndexAtFullWidth) {
    Examples ex;
    MemoryDataSet d;
    d.setInputs(ex.seqs, 5);
    d.setExample(3);
    d.pushExample();
    d.setExample(1);
    EXPECT_EQ(d.inputs, ex.seqs[1]);
    d.popExample();
    EXPECT_EQ(d.inputs, ex.seqs[3]);
    EXPECT_EQ(d.current_example, 3);
}

struct Doubler : PreProcessing {
    int targets_seen = 0;
    void preProcessInputs(Sequence* s) override {
        for (int i = 0; i < s->n_frames; i++) s->frames[i][0] *= 2;
    }
    void preProcessTargets(Sequence*) override { targets_seen++; }
};

TEST(DataSet, PreProcessVisitsVisibleExamples) {
    Examples ex;
    for (int i = 0; i < 5; i++) ex.seqs[i]->frames[0][0] = 1;
    MemoryDataSet d;
    d.setInputs(ex.seqs, 5);
    int subset[] = {1, 3};
    d.pushSubset(subset, 2);
    Doubler p;
    d.preProcess(&p);
    EXPECT_EQ(ex.seqs[1]->frames[0][0], 2);
    EXPECT_EQ(ex.seqs[3]->frames[0][0], 2);
    EXPECT_EQ(ex.seqs[0]->frames[0][0], 1);
    EXPECT_EQ(p.targets_seen, 0);
}

struct CountingSource : SequenceSource {
    int getNumberOfSequences() override { return 3; }
    int getFrameSize() override { return 2; }
    int getTotalNumberOfFrames() override { return 6; }
    int getNumberOfFrames(int i) override { return i + 1; }
    void getSequence(int i, Sequence* s) override {
        for (int f = 0; f < s->n_frames; f++) s->frames[f][0] = s->frames[f][1] = (real)(10 * i + f);
    }
};

TEST(DataSet, InitFromSourcesPlacesSequencesInOneBlock) {
    CountingSource src;
    MemoryDataSet d;
    d.initFromSources(&src, nullptr);
    EXPECT_EQ(d.n_examples, 3);
    d.setExample(2);
    ASSERT_EQ(d.inputs->n_frames, 3);
    EXPECT_EQ(d.inputs->frames[2][1], 22);
    EXPECT_EQ(d.targets, nullptr);
}

TEST(DataSetDeathTest, MisuseIsFatal) {
    Examples ex;
    Sequence* odd[2] = {ex.seqs[0], nullptr};
    Sequence other(1, 3);
    odd[1] = &other;
    EXPECT_FATAL(MemoryDataSet().setInputs(ex.seqs, 0), "MemoryDataSet: invalid number of sequences in provided inputs");
    EXPECT_FATAL(MemoryDataSet().setInputs(odd, 2),
                 "MemoryDataSet: sorry, provided inputs sequences don't have the same frame size");
    EXPECT_FATAL(
        {
            MemoryDataSet d;
            d.setInputs(ex.seqs, 5);
            d.setTargets(ex.tgts, 4);
        },
        "MemoryDataSet: invalid number of sequences in provided targets");
    EXPECT_FATAL(MemoryDataSet().popSubset(), "DataSet: cannot pop a subset, none is pushed");
    EXPECT_FATAL(
        {
            MemoryDataSet d;
            d.setInputs(ex.seqs, 5);
            int bad[] = {5};
            d.pushSubset(bad, 1);
        },
        "DataSet: subset index 5 out of range (5 examples)");
    EXPECT_FATAL(MemoryStack().pop(), "MemoryStack: cannot pop an empty stack");
}

TEST(MemoryStack, RestoresNewestFirst) {
    MemoryStack st;
    int a = 1;
    double b = 2.5;
    st.push(&a, sizeof a);
    st.push(&b, sizeof b);
    st.push(nullptr, 8);
    a = 10;
    b = 20;
    st.pop();
    st.pop();
    EXPECT_EQ(b, 2.5);
    EXPECT_EQ(a, 10);
    st.pop();
    EXPECT_EQ(a, 1);
    EXPECT_EQ(st.n_stacked, 0);
}

}  // namespace
