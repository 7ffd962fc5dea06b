#include "visionlib/Trainer.h"

#include "visionlib/Allocator.h"
#include "visionlib/Measurer.h"
#include "visionlib/Sequence.h"
#include "visionlib/Message.h"

#include <cfloat>
#include <cmath>
#include <functional>

namespace vision {

namespace {

int totalExamples(const MeasurerGroups& groups) {
    int total = 0;
    for (int k = 0; k < groups.n_datas; k++)
        total += groups.datas[k]->n_examples;
    return total;
}

// One sign each time done x 10.1 / total passes the next whole number: at most
// one per example, min(total, 10) in all.
void progress(int done, int total, int* signs) {
    if (done * 10.1 / total >= *signs + 1) {
        print(total > 9 ? "." : "_");
        (*signs)++;
    }
}

// One pass over each data set the measurers name: their reset, begin (when
// given), then per example the model step and their measureExample, then
// their measureIteration and measureEnd.
void measurePasses(MeasurerList* measurers, const std::function<void(DataSet*)>& begin,
                   const std::function<void(Sequence*)>& step, bool show_progress) {
    MeasurerGroups groups = groupMeasurers(measurers, nullptr);
    const int total = totalExamples(groups);
    int done = 0, signs = 0;
    for (int k = 0; k < groups.n_datas; k++) {
        DataSet* d = groups.datas[k];
        Measurer** ms = groups.measurers[k];
        const int n_ms = groups.n_measurers[k];
        for (int m = 0; m < n_ms; m++)
            ms[m]->reset();
        if (begin)
            begin(d);
        for (int i = 0; i < d->n_examples; i++) {
            d->setExample(i, true, true);
            step(d->inputs);
            for (int m = 0; m < n_ms; m++)
                ms[m]->measureExample();
            done++;
            if (show_progress)
                progress(done, total, &signs);
        }
        for (int m = 0; m < n_ms; m++)
            ms[m]->measureIteration();
        for (int m = 0; m < n_ms; m++)
            ms[m]->measureEnd();
    }
}

}  // namespace

Trainer::Trainer(ModelBase* machine_) { machine = machine_; }

void Trainer::loadXFile(XFile* file) { machine->loadXFile(file); }

void Trainer::saveXFile(XFile* file) { machine->saveXFile(file); }

void Trainer::test(MeasurerList* measurers) {
    print("# Trainer: testing [");
    measurePasses(measurers, nullptr, [this](Sequence* inputs) { machine->forward(inputs); }, true);
    print("]\n");
}

EMTrainer::EMTrainer(ProbabilityModel* distribution_) : Trainer(distribution_) {
    distribution = distribution_;
    addRealOption("end accuracy", &end_accuracy, (real)0.0001, "end accuracy");
    addIntOption("max iter", &max_iter, 100, "maximum number of iterations");
    addBoolOption("viterbi", &viterbi, false, "Viterbi training");
    addBoolOption("verbose", &verbose, false, "verbose");
}

void EMTrainer::forwardExample(Sequence* inputs) {
    if (viterbi)
        distribution->viterbiForward(inputs);
    else
        distribution->emForward(inputs);
}

void EMTrainer::train(DataSet* data, MeasurerList* measurers) {
    const int n = data->n_examples;
    // Nothing to learn from: leave the model as it is rather than run blind
    // updates (or, without an iteration limit, loop forever on 0 / 0).
    int total_frames = 0;
    for (int i = 0; i < n; i++) {
        int frames = 0;
        data->getNumberOfFrames(i, &frames, nullptr);
        total_frames += frames;
    }
    if (n == 0 || total_frames == 0)
        return;

    distribution->setDataSet(data);
    if (verbose)
        message("EMTrainer: training");
    if (measurers)
        for (int i = 0; i < measurers->n_nodes; i++)
            measurers->nodes[i]->reset();

    MeasurerGroups groups = groupMeasurers(measurers, data);
    real previous = FLT_MAX;
    int iteration = 0;
    for (;;) {
        distribution->startEmIteration();
        real log_likelihood = 0;
        int frames = 0;
        for (int i = 0; i < n; i++) {
            data->setExample(i, true, true);
            forwardExample(data->inputs);
            log_likelihood -= distribution->log_probability;
            if (viterbi)
                distribution->viterbiAccumulate(data->inputs, 0);
            else
                distribution->emAccumulate(data->inputs, 0);
            frames += data->inputs->n_frames;
            for (int m = 0; m < groups.n_measurers[0]; m++)
                groups.measurers[0][m]->measureExample();
        }
        // Mean negative log-likelihood per frame before this iteration's update.
        real mean = log_likelihood / frames;

        distribution->emUpdate();
        for (int m = 0; m < groups.n_measurers[0]; m++)
            groups.measurers[0][m]->measureIteration();

        for (int k = 1; k < groups.n_datas; k++) {
            DataSet* d = groups.datas[k];
            for (int i = 0; i < d->n_examples; i++) {
                d->setExample(i, true, true);
                forwardExample(d->inputs);
                for (int m = 0; m < groups.n_measurers[k]; m++)
                    groups.measurers[k][m]->measureExample();
            }
            for (int m = 0; m < groups.n_measurers[k]; m++)
                groups.measurers[k][m]->measureIteration();
        }

        if (mean == previous || std::fabs((previous - mean) / previous) < end_accuracy) {
            if (verbose)
                print("\n");
            break;
        }
        previous = mean;
        if (verbose)
            print(".");
        iteration++;
        if (max_iter >= 1 && iteration >= max_iter) {
            if (verbose)
                print("\n");
            warning("EMTrainer: you have reached the maximum number of iterations");
            break;
        }
    }

    for (int k = 0; k < groups.n_datas; k++)
        for (int m = 0; m < groups.n_measurers[k]; m++)
            groups.measurers[k][m]->measureEnd();
}

void EMTrainer::test(MeasurerList* measurers) {
    if (verbose)
        print("# EMTrainer: testing [");
    measurePasses(
        measurers, [this](DataSet*) { distribution->startEmIteration(); },
        [this](Sequence* inputs) { forwardExample(inputs); }, verbose);
    if (verbose)
        print("]\n");
}

void EMTrainer::decode(MeasurerList* measurers) {
    if (verbose)
        message("emtrainer: decoding");
    measurePasses(
        measurers,
        [this](DataSet* d) {
            distribution->setDataSet(d);
            distribution->startEmIteration();
        },
        [this](Sequence* inputs) { distribution->decode(inputs); }, false);
}

}  // namespace vision
