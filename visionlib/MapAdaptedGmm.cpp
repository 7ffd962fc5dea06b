#include "visionlib/MapAdaptedGmm.h"

#include "visionlib/Message.h"
#include "visionlib/ParameterBlocks.h"

#include <cmath>

namespace vision {

MapAdaptedGmm::MapAdaptedGmm(DiagonalGMM* prior_)
    : DiagonalGMM(prior_->n_inputs, prior_->n_gaussians, nullptr) {
    prior = prior_;
    addRealOption("weight on prior", &weight_on_prior, (real)0.5,
                  "weight for the prior distribution for MAP adaptation");
    addBoolOption("learn weights", &learn_weights, false, "learn the weights of gaussians");
    addBoolOption("learn variances", &learn_variances, false, "learn the variances of gaussians");
    addBoolOption("learn means", &learn_means, false, "learn the variances of gaussians");
}

void MapAdaptedGmm::setDataSet(DataSet* data) {
    // Every training starts again from the prior, taken over as it is.
    if (prior)
        params->copy(prior->params);
    else
        reset();
}

void MapAdaptedGmm::frameEmAccumulate(int t, real* x, real log_posterior) {
    if (learn_variances) {
        DiagonalGMM::frameEmAccumulate(t, x, log_posterior);
        return;
    }
    for (int g = 0; g < n_gaussians; g++) {
        real p = posterior(t, g, log_posterior);
        if (p == 0)
            continue;
        weights_acc[g] += p;
        accumulateMeans(p, x, means_acc[g]);
    }
}

void MapAdaptedGmm::frameViterbiAccumulate(int t, real* x, real log_posterior) {
    if (learn_variances) {
        DiagonalGMM::frameViterbiAccumulate(t, x, log_posterior);
        return;
    }
    int g = bestGaussian(t);
    if (g < 0)
        return;
    weights_acc[g] += 1;
    accumulateMeans(1, x, means_acc[g]);
}

void MapAdaptedGmm::emUpdate() {
    const real alpha = weight_on_prior;
    if (learn_means) {
        for (int g = 0; g < n_gaussians; g++) {
            // A Gaussian with no posterior mass keeps its mean instead of 0/0.
            if (weights_acc[g] == 0)
                continue;
            for (int j = 0; j < n_inputs; j++)
                means[g][j] = (1 - alpha) * means_acc[g][j] / weights_acc[g] + alpha * prior->means[g][j];
        }
    }
    if (learn_variances) {
        for (int g = 0; g < n_gaussians; g++) {
            if (weights_acc[g] == 0) {
                warning("Gaussian %d of GMM is not used in EM", g);
                continue;
            }
            for (int j = 0; j < n_inputs; j++) {
                real l = means_acc[g][j] / weights_acc[g];
                real m = prior->means[g][j];
                real o = (1 - alpha) * l + alpha * m;
                real e = var_acc[g][j] / weights_acc[g];
                real s = prior->var[g][j];
                real v = (1 - alpha) * ((o - l) * (o - l) + (e - o * o)) + alpha * ((o - m) * (o - m) + s);
                var[g][j] = v >= var_threshold[j] ? v : var_threshold[j];
            }
        }
    }
    if (learn_weights) {
        real sum = 0;
        for (int g = 0; g < n_gaussians; g++)
            sum += weights_acc[g];
        // No posterior mass at all: the weights stay rather than turn NaN.
        if (sum > 0) {
            for (int g = 0; g < n_gaussians; g++)
                log_weights[g] = (real)std::log((double)((1 - alpha) * weights_acc[g] / sum) +
                                                alpha * std::exp((double)prior->log_weights[g]));
        }
    }
}

}  // namespace vision
