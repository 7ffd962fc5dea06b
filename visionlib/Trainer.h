#pragma once
// Trainers drive a model over data sets; EMTrainer runs expectation-
// maximisation on a probability model until the mean frame log-likelihood
// stops changing.
#include "visionlib/DataSet.h"
#include "visionlib/Model.h"
#include "visionlib/Object.h"

namespace vision {

class MeasurerList;

class Trainer : public Object {
public:
    ModelBase* machine;  // not owned

    explicit Trainer(ModelBase* machine);

    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override;
    virtual void train(DataSet* data, MeasurerList* measurers) = 0;
    virtual void test(MeasurerList* measurers);
};

class EMTrainer : public Trainer {
public:
    ProbabilityModel* distribution;  // the same model as machine
    real end_accuracy;
    int max_iter;
    bool viterbi;
    bool verbose;

    explicit EMTrainer(ProbabilityModel* distribution);

    void train(DataSet* data, MeasurerList* measurers) override;
    void test(MeasurerList* measurers) override;
    virtual void decode(MeasurerList* measurers);

private:
    void forwardExample(Sequence* inputs);
};

}  // namespace vision
