#pragma once
// Model bases: a model turns an input sequence into an output sequence.
#include "visionlib/Object.h"

namespace vision {

class Sequence;
class DataSet;
class ParameterBlocks;

class ModelBase : public Object {
public:
    Sequence* outputs = nullptr;

    virtual void forward(Sequence* inputs) = 0;
    virtual void reset() {}
    virtual void setDataSet(DataSet* data) {}
};

class TrainableModel : public ModelBase {
public:
    int bp_flag = 0;  // stored, read by nothing
    int n_inputs;
    int n_outputs;
    ParameterBlocks* params;
    ParameterBlocks* der_params;
    Sequence* beta;  // input gradients; none when n_inputs is 0

    TrainableModel(int n_inputs, int n_outputs, int n_params);

    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override;
    ~TrainableModel() override;

    void forward(Sequence* inputs) override;
    virtual void startIteration() {}
    virtual void backward(Sequence* inputs, Sequence* alpha);
    virtual void setBackpropFlag(int flag) { bp_flag = flag; }
    virtual void frameForward(int t, real* f_inputs, real* f_outputs) {}
    virtual void frameBackward(int t, real* f_inputs, real* beta_, real* f_outputs, real* alpha_) {}
};

class ProbabilityModel : public TrainableModel {
public:
    real log_probability = 0;
    Sequence* log_probabilities;  // frame size 1: one per input frame

    ProbabilityModel(int n_inputs, int n_params);
    ~ProbabilityModel() override;

    // Loads the parameters, then startEmIteration so that derived tables are ready.
    void loadXFile(XFile* file) override;
    void forward(Sequence* inputs) override;
    void startIteration() override;
    void backward(Sequence* inputs, Sequence* alpha) override;

    virtual real logProbability(Sequence* inputs);
    virtual real viterbiLogProbability(Sequence* inputs);
    virtual real frameLogProbability(int t, real* f_inputs);
    virtual real frameViterbiLogProbability(int t, real* f_inputs);
    virtual void frameGenerate(int t, real* f_outputs) {}
    virtual void startEmIteration() {}
    virtual void prepareSequence(Sequence* inputs);
    virtual void prepareForward(Sequence* inputs);
    virtual void emAccumulate(Sequence* inputs, real log_posterior);
    virtual void frameEmAccumulate(int t, real* f_inputs, real log_posterior) {}
    virtual void viterbiAccumulate(Sequence* inputs, real log_posterior);
    virtual void frameViterbiAccumulate(int t, real* f_inputs, real log_posterior) {}
    virtual void emUpdate() {}
    virtual void renormalize() {}
    virtual void decode(Sequence* inputs) {}
    virtual void emForward(Sequence* inputs);
    virtual void viterbiForward(Sequence* inputs);
    virtual void backwardLogProbability(Sequence* inputs, Sequence* alpha);
    virtual void expectation(Sequence* out);
    virtual void frameExpectation(int t, real* f_outputs) {}
};

}  // namespace vision
