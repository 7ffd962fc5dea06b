#include "visionlib/Model.h"

#include <cfloat>

#include "visionlib/Allocator.h"
#include "visionlib/ParameterBlocks.h"
#include "visionlib/Sequence.h"

namespace vision {

TrainableModel::TrainableModel(int n_inputs_, int n_outputs_, int n_params)
    : n_inputs(n_inputs_), n_outputs(n_outputs_), beta(nullptr) {
    if (n_outputs > 0) outputs = new (allocator) Sequence(0, n_outputs);
    if (n_inputs > 0) beta = new (allocator) Sequence(0, n_inputs);
    params = new (allocator) ParameterBlocks(n_params);
    der_params = new (allocator) ParameterBlocks(n_params);
}

TrainableModel::~TrainableModel() {}

void TrainableModel::loadXFile(XFile* file) {
    if (params) params->loadXFile(file);
}

void TrainableModel::saveXFile(XFile* file) {
    if (params) params->saveXFile(file);
}

void TrainableModel::forward(Sequence* inputs) {
    if (outputs) outputs->resize(inputs->n_frames, true);
    for (int t = 0; t < inputs->n_frames; t++)
        frameForward(t, inputs->frames[t], outputs ? outputs->frames[t] : nullptr);
}

void TrainableModel::backward(Sequence* inputs, Sequence* alpha) {
    if (beta) beta->resize(inputs->n_frames, true);
    for (int t = 0; t < inputs->n_frames; t++) {
        real* out = outputs && t < outputs->n_allocated_frames ? outputs->frames[t] : nullptr;
        real* a = alpha && t < alpha->n_allocated_frames ? alpha->frames[t] : nullptr;
        frameBackward(t, inputs->frames[t], beta ? beta->frames[t] : nullptr, out, a);
    }
}

ProbabilityModel::ProbabilityModel(int n_inputs_, int n_params) : TrainableModel(n_inputs_, 1, n_params) {
    log_probabilities = new (allocator) Sequence(1, 1);
    outputs->resize(1, true);
}

ProbabilityModel::~ProbabilityModel() {}

void ProbabilityModel::loadXFile(XFile* file) {
    params->loadXFile(file);
    startEmIteration();
}

void ProbabilityModel::forward(Sequence* inputs) {
    prepareForward(inputs);
    log_probability = logProbability(inputs);
    outputs->frames[0][0] = log_probability;
}

void ProbabilityModel::startIteration() { startEmIteration(); }

void ProbabilityModel::backward(Sequence* inputs, Sequence* alpha) {
    real* a = alpha && alpha->n_allocated_frames > 0 ? alpha->frames[0] : nullptr;
    for (int t = 0; t < inputs->n_frames; t++) frameBackward(t, inputs->frames[t], nullptr, nullptr, a);
}

real ProbabilityModel::logProbability(Sequence* inputs) {
    real sum = 0;
    for (int t = 0; t < inputs->n_frames; t++) sum += frameLogProbability(t, inputs->frames[t]);
    return sum;
}

real ProbabilityModel::viterbiLogProbability(Sequence* inputs) {
    real sum = 0;
    for (int t = 0; t < inputs->n_frames; t++) sum += frameViterbiLogProbability(t, inputs->frames[t]);
    return sum;
}

real ProbabilityModel::frameLogProbability(int t, real* f_inputs) { return -FLT_MAX; }

real ProbabilityModel::frameViterbiLogProbability(int t, real* f_inputs) {
    return frameLogProbability(t, f_inputs);
}

void ProbabilityModel::prepareSequence(Sequence* inputs) { log_probabilities->resize(inputs->n_frames, true); }

void ProbabilityModel::prepareForward(Sequence* inputs) { log_probabilities->resize(inputs->n_frames, true); }

void ProbabilityModel::emAccumulate(Sequence* inputs, real log_posterior) {
    for (int t = 0; t < inputs->n_frames; t++) frameEmAccumulate(t, inputs->frames[t], log_posterior);
}

void ProbabilityModel::viterbiAccumulate(Sequence* inputs, real log_posterior) {
    for (int t = 0; t < inputs->n_frames; t++) frameViterbiAccumulate(t, inputs->frames[t], log_posterior);
}

void ProbabilityModel::emForward(Sequence* inputs) {
    prepareSequence(inputs);
    log_probability = logProbability(inputs);
}

void ProbabilityModel::viterbiForward(Sequence* inputs) {
    prepareSequence(inputs);
    log_probability = viterbiLogProbability(inputs);
}

void ProbabilityModel::backwardLogProbability(Sequence* inputs, Sequence* alpha) {
    TrainableModel::backward(inputs, alpha);
}

void ProbabilityModel::expectation(Sequence* out) {
    for (int t = 0; t < out->n_frames; t++) frameExpectation(t, out->frames[t]);
}

}  // namespace vision
