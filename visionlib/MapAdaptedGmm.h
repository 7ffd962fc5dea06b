#pragma once
// A mixture of the prior's shape whose EM update pulls the chosen parameters
// from their maximum-likelihood estimate towards the prior's (MAP adaptation).
#include "visionlib/DiagonalGMM.h"

namespace vision {

class MapAdaptedGmm : public DiagonalGMM {
public:
    DiagonalGMM* prior;  // not owned; must outlive this mixture, unchanged
    real weight_on_prior;
    bool learn_weights;
    bool learn_variances;
    bool learn_means;

    explicit MapAdaptedGmm(DiagonalGMM* prior);

    void setDataSet(DataSet* data) override;
    void frameEmAccumulate(int t, real* f_inputs, real log_posterior) override;
    void frameViterbiAccumulate(int t, real* f_inputs, real log_posterior) override;
    void emUpdate() override;
};

}  // namespace vision
