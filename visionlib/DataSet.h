#pragma once
// A numbered list of examples (input and target sequences) with a stack of selected subsets.
#include "visionlib/Object.h"

namespace vision {

class Sequence;
class MemoryStack;

// Applied to every visible example by DataSet::preProcess.
class PreProcessing : public Object {
public:
    virtual void preProcessInputs(Sequence* inputs) = 0;
    virtual void preProcessTargets(Sequence* targets) = 0;
};

// What MemoryDataSet::initFromSources needs of a source of sequences.
class SequenceSource : public Object {
public:
    virtual int getNumberOfSequences() = 0;
    virtual int getFrameSize() = 0;
    virtual int getTotalNumberOfFrames() = 0;
    virtual int getNumberOfFrames(int i) = 0;
    virtual void getSequence(int i, Sequence* sequence) = 0;
};

class DataSet : public Object {
public:
    int** subsets;
    int* subsets_sizes;
    int n_subsets;
    MemoryStack* stack;
    bool select_examples;
    int* selection;  // visible index -> real index
    int n_inputs;    // input frame size
    int n_targets;   // target frame size
    int current_example;  // real index, -1 until the first setExample
    Sequence* inputs;
    Sequence* targets;
    int n_examples;
    int n_real_examples;

    DataSet();
    ~DataSet() override;

    void init(int n, int n_inputs, int n_targets);
    // t counts in the visible numbering.
    void setExample(int t, bool set_inputs = true, bool set_targets = true);

    virtual void setRealExample(int t, bool set_inputs = true, bool set_targets = true) = 0;
    // Indices of the subset count in the visible numbering of the subset below.
    virtual void pushSubset(int* subset, int n);
    virtual void popSubset();
    virtual void pushExample() = 0;
    virtual void popExample() = 0;
    virtual void getNumberOfFrames(int t, int* input_frames, int* target_frames) = 0;
    virtual void preProcess(PreProcessing* pre_processing) = 0;

private:
    void rebuildSelection();
};

}  // namespace vision
