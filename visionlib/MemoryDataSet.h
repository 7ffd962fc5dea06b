#pragma once
// Examples kept in memory as arrays of sequences (not owned).
#include "visionlib/DataSet.h"

namespace vision {

class MemoryDataSet : public DataSet {
public:
    Sequence** inputs_array;
    Sequence** targets_array;

    MemoryDataSet();
    ~MemoryDataSet() override;

    void setInputs(Sequence** sequences, int n);
    void setTargets(Sequence** sequences, int n);
    void initFromSources(SequenceSource* inputs_source, SequenceSource* targets_source);

    void setRealExample(int t, bool set_inputs = true, bool set_targets = true) override;
    void pushExample() override;
    void popExample() override;
    void getNumberOfFrames(int t, int* input_frames, int* target_frames) override;
    void preProcess(PreProcessing* pre_processing) override;
    virtual void allocFromSource(SequenceSource* source, Sequence*** out);
};

}  // namespace vision
