#pragma once
// Mixture of Gaussians with diagonal covariances: the world model of face
// verification and the base of the MAP-adapted user model.
#include "visionlib/Model.h"

namespace vision {

class Trainer;
class MeasurerList;

class DiagonalGMM : public ProbabilityModel {
public:
    int n_gaussians;
    // Every Gaussian's posterior sum starts from this value in each EM
    // iteration, so a Gaussian that explains nothing keeps a small weight.
    real prior_weights;
    Trainer* initial_trainer;
    MeasurerList* initial_kmeans_trainer_measurers;

    // Views into params: n_gaussians log weights, then per Gaussian its
    // n_inputs means followed by its n_inputs variances.
    real* log_weights;
    real** means;
    real** var;

    // The same views into der_params.
    real* dlog_weights;
    real** dmeans;
    real** dvar;

    real* var_threshold;
    Sequence* log_probabilities_g;
    real* log_gauss_const;
    real** minus_half_over_var;

    real** means_acc;
    real** var_acc;
    real* weights_acc;

    DiagonalGMM(int n_inputs, int n_gaussians, Trainer* initial_trainer = nullptr);
    ~DiagonalGMM() override;

    void reset() override;
    void setDataSet(DataSet* data) override;
    void startIteration() override;

    real logProbability(Sequence* inputs) override;
    real frameLogProbability(int t, real* f_inputs) override;
    real frameViterbiLogProbability(int t, real* f_inputs) override;
    void startEmIteration() override;
    void prepareSequence(Sequence* inputs) override;
    void prepareForward(Sequence* inputs) override;
    void frameEmAccumulate(int t, real* f_inputs, real log_posterior) override;
    void frameViterbiAccumulate(int t, real* f_inputs, real log_posterior) override;
    void emUpdate() override;
    void renormalize() override;
    void frameExpectation(int t, real* f_outputs) override;
    void frameBackward(int t, real* f_inputs, real* beta_, real* f_outputs, real* alpha_) override;

    virtual void setVarThreshold(real* thresholds);
    virtual void display();
    virtual real logDensity(int g, real* f_inputs);
    virtual void setNumberOfGaussians(int n);

    void sampleFrame(real* f_outputs);
    void sample(Sequence* sequence);

protected:
    // Raises every variance to its floor and recomputes the per-Gaussian
    // constants from the variances as they are.
    void floorVariances();
    void computeConstants();
    // Posterior of Gaussian g for frame t, as the EM accumulation uses it.
    real posterior(int t, int g, real log_posterior);
    // The index of the Gaussian with the largest weighted density of frame t
    // (first of equals), or -1 when none beats -FLT_MAX.
    int bestGaussian(int t);
    // means_acc += p x and var_acc += p x^2 (p x rounded first) for one frame.
    void accumulateFrame(real p, const real* x, real* means_acc_g, real* var_acc_g);
    // means_acc += p x only.
    void accumulateMeans(real p, const real* x, real* means_acc_g);

private:
    // Scoring tables laid out Gaussian-minor (input j, then Gaussian), padded
    // to whole vectors, so that one frame is scored against all Gaussians
    // with element-wise vector arithmetic in the same order as logDensity.
    int n_padded;
    real* t_means;
    real* t_mhov;
    real* t_const;  // log_gauss_const, padded with 0
    real* t_lw;     // log_weights, padded with -infinity
    real* t_l;      // one frame's log densities, padded
    real* t_v;      // one frame's weighted log densities, padded
    int n_gaussians_max;
    void refreshScoringTables();
    real combine(const real* l_g);
    real sumFromTop(const real* v, real top);
};

}  // namespace vision
