#include "visionlib/MemoryDataSet.h"

#include "visionlib/Allocator.h"
#include "visionlib/MemoryStack.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"

namespace vision {

MemoryDataSet::MemoryDataSet() : inputs_array(nullptr), targets_array(nullptr) {}

MemoryDataSet::~MemoryDataSet() {}

// Shared checks of setInputs / setTargets; returns the side's frame size.
static int checkSide(MemoryDataSet* data, Sequence** sequences, int n, const char* side, bool empty) {
    if (n <= 0 || (!empty && n != data->n_real_examples))
        error("MemoryDataSet: invalid number of sequences in provided %s", side);
    int frame_size = sequences[0]->frame_size;
    for (int i = 0; i < n; i++)
        if (sequences[i]->frame_size != frame_size)
            error("MemoryDataSet: sorry, provided %s sequences don't have the same frame size", side);
    return frame_size;
}

void MemoryDataSet::setInputs(Sequence** sequences, int n) {
    bool empty = !inputs_array && !targets_array && n_real_examples == 0;
    int frame_size = checkSide(this, sequences, n, "inputs", empty);
    if (empty) init(n, frame_size, 0);
    n_inputs = frame_size;
    inputs_array = sequences;
}

void MemoryDataSet::setTargets(Sequence** sequences, int n) {
    bool empty = !inputs_array && !targets_array && n_real_examples == 0;
    int frame_size = checkSide(this, sequences, n, "targets", empty);
    if (empty) init(n, 0, frame_size);
    n_targets = frame_size;
    targets_array = sequences;
}

void MemoryDataSet::setRealExample(int t, bool set_inputs, bool set_targets) {
    current_example = t;
    if (inputs_array && set_inputs) inputs = inputs_array[t];
    if (targets_array && set_targets) targets = targets_array[t];
}

void MemoryDataSet::pushExample() {
    stack->push(&inputs, sizeof(Sequence*));
    stack->push(&targets, sizeof(Sequence*));
    stack->push(&current_example, sizeof(int));
}

void MemoryDataSet::popExample() {
    stack->pop();
    stack->pop();
    stack->pop();
}

void MemoryDataSet::getNumberOfFrames(int t, int* input_frames, int* target_frames) {
    if (t < 0 || t >= n_examples) error("DataSet: example %d out of range (%d examples)", t, n_examples);
    int real_index = selection[t];
    if (inputs_array && input_frames) *input_frames = inputs_array[real_index]->n_frames;
    if (targets_array && target_frames) *target_frames = targets_array[real_index]->n_frames;
}

void MemoryDataSet::preProcess(PreProcessing* pre_processing) {
    for (int i = 0; i < n_examples; i++) {
        setExample(i, true, true);
        if (inputs_array) pre_processing->preProcessInputs(inputs);
        if (targets_array) pre_processing->preProcessTargets(targets);
    }
}

void MemoryDataSet::initFromSources(SequenceSource* inputs_source, SequenceSource* targets_source) {
    int n_in = inputs_source ? inputs_source->getNumberOfSequences() : -1;
    int n_tg = targets_source ? targets_source->getNumberOfSequences() : -1;
    if (inputs_source && targets_source && n_in != n_tg)
        error("MemoryDataSet: inputs IO and targets IO don't have the same number of sequences!");
    int n = n_in >= 0 ? n_in : (n_tg >= 0 ? n_tg : 0);
    int fs_in = inputs_source ? inputs_source->getFrameSize() : 0;
    int fs_tg = targets_source ? targets_source->getFrameSize() : 0;
    init(n, fs_in, fs_tg);
    if (fs_in > 0) {
        allocFromSource(inputs_source, &inputs_array);
        for (int i = 0; i < n; i++) inputs_source->getSequence(i, inputs_array[i]);
    }
    if (fs_tg > 0) {
        allocFromSource(targets_source, &targets_array);
        for (int i = 0; i < n; i++) targets_source->getSequence(i, targets_array[i]);
    }
}

void MemoryDataSet::allocFromSource(SequenceSource* source, Sequence*** out) {
    int n = source->getNumberOfSequences();
    int fs = source->getFrameSize();
    long total = source->getTotalNumberOfFrames();
    if (n < 0 || fs <= 0 || total < 0) error("MemoryDataSet: invalid sequence source");
    Sequence** array = static_cast<Sequence**>(allocator->alloc((long)sizeof(Sequence*) * n));
    char* objects = static_cast<char*>(allocator->alloc((long)sizeof(Sequence) * n));
    real** table = static_cast<real**>(allocator->alloc((long)sizeof(real*) * total));
    real* data = static_cast<real*>(allocator->alloc((long)sizeof(real) * total * fs));
    long pos = 0;
    for (int i = 0; i < n; i++) {
        int nf = source->getNumberOfFrames(i);
        if (nf < 0 || pos + nf > total) error("MemoryDataSet: invalid sequence source");
        for (int f = 0; f < nf; f++) table[pos + f] = data + (pos + f) * fs;
        array[i] = new (allocator, objects + sizeof(Sequence) * (size_t)i) Sequence(table + pos, nf, fs);
        pos += nf;
    }
    *out = array;
}

}  // namespace vision
