#include "visionlib/DiagonalGMM.h"

#include "visionlib/Allocator.h"
#include "visionlib/DataSet.h"
#include "visionlib/LogMath.h"
#include "visionlib/Message.h"
#include "visionlib/ParameterBlocks.h"
#include "visionlib/Random.h"
#include "visionlib/Sequence.h"
#include "visionlib/Trainer.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vision {

namespace {

const double LOG_2_PI = 1.8378770664093456;

// Four-lane float vectors: element-wise float arithmetic, so every lane gives
// exactly what the scalar loop gives for its Gaussian.
typedef float v4sf __attribute__((vector_size(16)));
const int LANES = 4;
const int CHUNK = 2 * LANES;  // Gaussians scored per pass over a frame

inline v4sf load4(const real* p) {
    v4sf v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline void store4(real* p, v4sf v) { std::memcpy(p, &v, sizeof(v)); }

}  // namespace

DiagonalGMM::DiagonalGMM(int n_inputs_, int n_gaussians_, Trainer* initial_trainer_)
    : ProbabilityModel(n_inputs_, n_gaussians_ * (2 * n_inputs_ + 1)) {
    n_gaussians = n_gaussians_;
    n_gaussians_max = n_gaussians_;
    initial_trainer = initial_trainer_;

    var_threshold = (real*)allocator->alloc(sizeof(real) * n_inputs, 0);
    for (int j = 0; j < n_inputs; j++)
        var_threshold[j] = (real)1e-10;

    addObjectOption("initial kmeans trainer measurers", (Object**)&initial_kmeans_trainer_measurers, nullptr,
                    "initial kmeans trainer measurers");
    addRealOption("prior weights", &prior_weights, (real)0.001, "minimum weights for each gaussians");

    log_probabilities_g = new (allocator) Sequence(1, n_gaussians);

    means = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    var = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    dmeans = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    dvar = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    real* p = params->n_data > 0 ? params->data[0] : nullptr;
    real* dp = der_params->n_data > 0 ? der_params->data[0] : nullptr;
    log_weights = p;
    dlog_weights = dp;
    p += n_gaussians;
    dp += n_gaussians;
    for (int g = 0; g < n_gaussians; g++) {
        means[g] = p;
        var[g] = p + n_inputs;
        dmeans[g] = dp;
        dvar[g] = dp + n_inputs;
        p += 2 * n_inputs;
        dp += 2 * n_inputs;
    }

    log_gauss_const = (real*)allocator->alloc(sizeof(real) * n_gaussians, 0);
    weights_acc = (real*)allocator->alloc(sizeof(real) * n_gaussians, 0);
    minus_half_over_var = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    means_acc = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    var_acc = (real**)allocator->alloc(sizeof(real*) * n_gaussians, 0);
    for (int g = 0; g < n_gaussians; g++) {
        minus_half_over_var[g] = (real*)allocator->alloc(sizeof(real) * n_inputs, 0);
        means_acc[g] = (real*)allocator->alloc(sizeof(real) * n_inputs, 0);
        var_acc[g] = (real*)allocator->alloc(sizeof(real) * n_inputs, 0);
    }

    n_padded = (n_gaussians + CHUNK - 1) / CHUNK * CHUNK;
    t_means = (real*)allocator->alloc(sizeof(real) * n_padded * n_inputs, 0);
    t_mhov = (real*)allocator->alloc(sizeof(real) * n_padded * n_inputs, 0);
    t_const = (real*)allocator->alloc(sizeof(real) * n_padded, 0);
    t_lw = (real*)allocator->alloc(sizeof(real) * n_padded, 0);
    t_l = (real*)allocator->alloc(sizeof(real) * n_padded, 0);
    t_v = (real*)allocator->alloc(sizeof(real) * n_padded, 0);
    if (n_padded * n_inputs > 0) {
        std::memset(t_means, 0, sizeof(real) * n_padded * n_inputs);
        std::memset(t_mhov, 0, sizeof(real) * n_padded * n_inputs);
    }
}

DiagonalGMM::~DiagonalGMM() {}

void DiagonalGMM::setVarThreshold(real* thresholds) {
    for (int j = 0; j < n_inputs; j++)
        var_threshold[j] = thresholds[j];
}

void DiagonalGMM::setNumberOfGaussians(int n) {
    if (n < 0 || n > n_gaussians_max)
        error("DiagonalGMM: cannot use %d gaussians, the mixture has room for %d", n, n_gaussians_max);
    n_gaussians = n;
}

void DiagonalGMM::display() {
    for (int g = 0; g < n_gaussians; g++) {
        std::printf("Mixture %d %.3g\n", g + 1, std::exp((double)log_weights[g]));
        std::printf("Mean\n");
        for (int j = 0; j < n_inputs; j++)
            std::printf("%.3g ", means[g][j]);
        std::printf("\nVar\n");
        for (int j = 0; j < n_inputs; j++)
            std::printf("%.3g ", var[g][j]);
        std::printf("\n");
    }
    std::fflush(stdout);
}

void DiagonalGMM::sampleFrame(real* f_outputs) {
    real u = Random::uniform();
    int chosen = n_gaussians - 1;
    real sum = 0;
    for (int g = 0; g < n_gaussians; g++) {
        sum += (real)std::exp((double)log_weights[g]);
        if (sum > u) {
            chosen = g;
            break;
        }
    }
    for (int j = 0; j < n_inputs; j++)
        f_outputs[j] = Random::gaussian(means[chosen][j], (real)std::sqrt((double)var[chosen][j]));
}

void DiagonalGMM::sample(Sequence* sequence) {
    for (int t = 0; t < sequence->n_frames; t++)
        sampleFrame(sequence->frames[t]);
}

void DiagonalGMM::reset() {
    if (initial_trainer)
        return;
    // Draw order is fixed so that a seeded run is reproducible.
    double sum = 0;
    for (int g = 0; g < n_gaussians; g++) {
        log_weights[g] = Random::uniformRange((real)0.1, (real)1.0);
        sum += log_weights[g];
    }
    for (int g = 0; g < n_gaussians; g++)
        log_weights[g] = (real)std::log(log_weights[g] / sum);
    for (int g = 0; g < n_gaussians; g++) {
        for (int j = 0; j < n_inputs; j++) {
            means[g][j] = Random::uniform();
            var[g][j] = Random::uniformRange(var_threshold[j], 10 * var_threshold[j]);
        }
    }
}

void DiagonalGMM::setDataSet(DataSet* data) {
    if (initial_trainer) {
        initial_trainer->train(data, initial_kmeans_trainer_measurers);
        TrainableModel* initial = dynamic_cast<TrainableModel*>(initial_trainer->machine);
        if (!initial)
            error("DiagonalGMM: the initial trainer's machine has no parameters");
        params->copy(initial->params);
    }
    floorVariances();
    renormalize();
}

void DiagonalGMM::renormalize() {
    real total = -FLT_MAX;
    for (int g = 0; g < n_gaussians; g++)
        total = log_add(total, log_weights[g]);
    for (int g = 0; g < n_gaussians; g++)
        log_weights[g] -= total;
}

void DiagonalGMM::startIteration() {}

void DiagonalGMM::computeConstants() {
    for (int g = 0; g < n_gaussians; g++) {
        double log_det = 0;
        for (int j = 0; j < n_inputs; j++) {
            log_det += std::log((double)var[g][j]);
            minus_half_over_var[g][j] = (real)(-0.5 / (double)var[g][j]);
        }
        log_gauss_const[g] = (real)(-0.5 * (n_inputs * LOG_2_PI + log_det));
    }
}

void DiagonalGMM::floorVariances() {
    for (int g = 0; g < n_gaussians; g++)
        for (int j = 0; j < n_inputs; j++)
            if (var[g][j] < var_threshold[j])
                var[g][j] = var_threshold[j];
}

void DiagonalGMM::startEmIteration() {
    computeConstants();
    for (int g = 0; g < n_gaussians; g++) {
        for (int j = 0; j < n_inputs; j++) {
            means_acc[g][j] = 0;
            var_acc[g][j] = 0;
        }
        weights_acc[g] = prior_weights;
    }
}

void DiagonalGMM::prepareSequence(Sequence* inputs) {
    if (!inputs)
        return;
    log_probabilities_g->resize(inputs->n_frames, true);
    log_probabilities->resize(inputs->n_frames, true);
}

void DiagonalGMM::prepareForward(Sequence* inputs) {
    prepareSequence(inputs);
    floorVariances();
    computeConstants();
}

real DiagonalGMM::logDensity(int g, real* x) {
    const real* m = means[g];
    const real* h = minus_half_over_var[g];
    real sum = 0;
    for (int j = 0; j < n_inputs; j++) {
        real d = x[j] - m[j];
        sum += d * d * h[j];
    }
    return sum + log_gauss_const[g];
}

// log_add over the Gaussians of (l_g + log weight), starting from -FLT_MAX.
real DiagonalGMM::combine(const real* l_g) {
    real top = -FLT_MAX;
    for (int g = 0; g < n_gaussians; g++) {
        t_v[g] = l_g[g] + log_weights[g];
        if (t_v[g] > top)
            top = t_v[g];
    }
    return sumFromTop(t_v, top);
}

// The terms are summed relative to the largest one in double precision: one
// exp per Gaussian near the top and one log per frame instead of a log_add
// chain. A term more than 40 below the top adds less than e^-40 (about 4e-18)
// each to a sum of at least 1, which no double, let alone the real result,
// can show; skipping its exp changes nothing.
real DiagonalGMM::sumFromTop(const real* v, real top) {
    if (top <= -FLT_MAX)
        return -FLT_MAX;
    const double cut = (double)top - 40.0;
    double sum = 0;
    for (int g = 0; g < n_gaussians; g++)
        if (!((double)v[g] < cut))
            sum += std::exp((double)v[g] - (double)top);
    return (real)((double)top + std::log(sum));
}

real DiagonalGMM::frameLogProbability(int t, real* x) {
    real* l_g = log_probabilities_g->frames[t];
    for (int g = 0; g < n_gaussians; g++)
        l_g[g] = logDensity(g, x);
    real lp = combine(l_g);
    log_probabilities->frames[t][0] = lp;
    return lp;
}

void DiagonalGMM::refreshScoringTables() {
    // Chunk-major: chunk k, input j, then the CHUNK Gaussians of the chunk.
    for (int g = 0; g < n_padded; g++) {
        int k = g / CHUNK, lane = g % CHUNK;
        for (int j = 0; j < n_inputs; j++) {
            int at = (k * n_inputs + j) * CHUNK + lane;
            if (g < n_gaussians) {
                t_means[at] = means[g][j];
                t_mhov[at] = minus_half_over_var[g][j];
            } else {
                t_means[at] = 0;
                t_mhov[at] = 0;
            }
        }
        t_const[g] = g < n_gaussians ? log_gauss_const[g] : 0;
        t_lw[g] = g < n_gaussians ? log_weights[g] : -INFINITY;
    }
}

real DiagonalGMM::logProbability(Sequence* inputs) {
    // Same values as the frame-by-frame path, every Gaussian's sum taken in
    // the same order, but eight Gaussians at a time.
    if (log_probabilities_g->n_frames < inputs->n_frames || log_probabilities->n_frames < inputs->n_frames)
        prepareSequence(inputs);
    refreshScoringTables();
    const int n_chunks = n_padded / CHUNK;
    real total = 0;
    for (int t = 0; t < inputs->n_frames; t++) {
        const real* x = inputs->frames[t];
        v4sf top0 = {-FLT_MAX, -FLT_MAX, -FLT_MAX, -FLT_MAX};
        v4sf top1 = top0;
        for (int k = 0; k < n_chunks; k++) {
            const real* m = t_means + k * n_inputs * CHUNK;
            const real* h = t_mhov + k * n_inputs * CHUNK;
            v4sf s0 = {0, 0, 0, 0};
            v4sf s1 = {0, 0, 0, 0};
            for (int j = 0; j < n_inputs; j++) {
                v4sf xj = {x[j], x[j], x[j], x[j]};
                v4sf d0 = xj - load4(m);
                v4sf d1 = xj - load4(m + LANES);
                s0 += d0 * d0 * load4(h);
                s1 += d1 * d1 * load4(h + LANES);
                m += CHUNK;
                h += CHUNK;
            }
            const int at = k * CHUNK;
            v4sf l0 = s0 + load4(t_const + at);
            v4sf l1 = s1 + load4(t_const + at + LANES);
            v4sf v0 = l0 + load4(t_lw + at);
            v4sf v1 = l1 + load4(t_lw + at + LANES);
            store4(t_l + at, l0);
            store4(t_l + at + LANES, l1);
            store4(t_v + at, v0);
            store4(t_v + at + LANES, v1);
            top0 = v0 > top0 ? v0 : top0;
            top1 = v1 > top1 ? v1 : top1;
        }
        top0 = top1 > top0 ? top1 : top0;
        real top = -FLT_MAX;
        for (int lane = 0; lane < LANES; lane++)
            if (top0[lane] > top)
                top = top0[lane];
        std::memcpy(log_probabilities_g->frames[t], t_l, sizeof(real) * n_gaussians);
        real lp = sumFromTop(t_v, top);
        log_probabilities->frames[t][0] = lp;
        total += lp;
    }
    return total;
}

real DiagonalGMM::frameViterbiLogProbability(int t, real* x) {
    real* l_g = log_probabilities_g->frames[t];
    real best = -FLT_MAX;
    real best_l = -FLT_MAX;
    for (int g = 0; g < n_gaussians; g++) {
        l_g[g] = logDensity(g, x);
        real v = l_g[g] + log_weights[g];
        if (v > best) {
            best = v;
            best_l = l_g[g];
        }
    }
    log_probabilities->frames[t][0] = best_l;
    return best_l;
}

real DiagonalGMM::posterior(int t, int g, real log_posterior) {
    real P = log_probabilities->frames[t][0];
    real l = log_probabilities_g->frames[t][g];
    real arg = log_posterior + l + log_weights[g] - P;
    // Below e^-110 the posterior rounds to a real 0 anyway; spare the exp.
    if (arg < -110)
        return 0;
    return (real)std::exp((double)arg);
}

int DiagonalGMM::bestGaussian(int t) {
    const real* l_g = log_probabilities_g->frames[t];
    real best = -FLT_MAX;
    int chosen = -1;
    for (int g = 0; g < n_gaussians; g++) {
        real v = log_weights[g] + l_g[g];
        if (v > best) {
            best = v;
            chosen = g;
        }
    }
    return chosen;
}

// means_acc += p x, var_acc += (p x) x, element by element (four at a time,
// each lane rounding as the scalar statement would).
void DiagonalGMM::accumulateFrame(real p, const real* x, real* ma, real* va) {
    const v4sf pv = {p, p, p, p};
    int j = 0;
    for (; j + LANES <= n_inputs; j += LANES) {
        v4sf xv = load4(x + j);
        v4sf px = pv * xv;
        store4(va + j, load4(va + j) + px * xv);
        store4(ma + j, load4(ma + j) + px);
    }
    for (; j < n_inputs; j++) {
        real px = p * x[j];
        va[j] += px * x[j];
        ma[j] += px;
    }
}

void DiagonalGMM::accumulateMeans(real p, const real* x, real* ma) {
    const v4sf pv = {p, p, p, p};
    int j = 0;
    for (; j + LANES <= n_inputs; j += LANES)
        store4(ma + j, load4(ma + j) + pv * load4(x + j));
    for (; j < n_inputs; j++)
        ma[j] += p * x[j];
}

void DiagonalGMM::frameEmAccumulate(int t, real* x, real log_posterior) {
    for (int g = 0; g < n_gaussians; g++) {
        real p = posterior(t, g, log_posterior);
        // A zero posterior would add zeros: skip the frame for this Gaussian.
        if (p == 0)
            continue;
        weights_acc[g] += p;
        accumulateFrame(p, x, means_acc[g], var_acc[g]);
    }
}

void DiagonalGMM::frameViterbiAccumulate(int t, real* x, real log_posterior) {
    int g = bestGaussian(t);
    if (g < 0)
        return;
    weights_acc[g] += 1;
    accumulateFrame(1, x, means_acc[g], var_acc[g]);
}

void DiagonalGMM::emUpdate() {
    for (int g = 0; g < n_gaussians; g++) {
        if (weights_acc[g] == 0) {
            warning("Gaussian %d of GMM is not used in EM", g);
            continue;
        }
        for (int j = 0; j < n_inputs; j++) {
            means[g][j] = means_acc[g][j] / weights_acc[g];
            real v = var_acc[g][j] / weights_acc[g] - means[g][j] * means[g][j];
            // Not "v < floor": a NaN is replaced too.
            var[g][j] = v >= var_threshold[j] ? v : var_threshold[j];
        }
    }
    real sum = 0;
    for (int g = 0; g < n_gaussians; g++)
        sum += weights_acc[g];
    // With no posterior mass at all (no data, no priming) the weights stay
    // rather than becoming ln 0 - ln 0.
    if (!(sum > 0))
        return;
    double log_sum = std::log((double)sum);
    for (int g = 0; g < n_gaussians; g++)
        log_weights[g] = (real)(std::log((double)weights_acc[g]) - log_sum);
}

void DiagonalGMM::frameExpectation(int t, real* f_outputs) {
    for (int j = 0; j < n_inputs; j++)
        f_outputs[j] = 0;
    for (int g = 0; g < n_gaussians; g++) {
        real w = (real)std::exp((double)log_weights[g]);
        for (int j = 0; j < n_inputs; j++)
            f_outputs[j] += w * means[g][j];
    }
}

void DiagonalGMM::frameBackward(int t, real* x, real* beta_, real* f_outputs, real* alpha_) {
    if (!alpha_)
        return;  // no gradient to pass on
    real P = log_probabilities->frames[t][0];
    const real* l_g = log_probabilities_g->frames[t];
    for (int g = 0; g < n_gaussians; g++) {
        real b = alpha_[0] * (real)std::exp((double)(log_weights[g] + l_g[g] - P));
        dlog_weights[g] += b;
        for (int k = 0; k < n_gaussians; k++)
            dlog_weights[k] -= b * (real)std::exp((double)log_weights[k]);
        for (int j = 0; j < n_inputs; j++) {
            real e = (x[j] - means[g][j]) / var[g][j];
            dmeans[g][j] += 2 * b * e;
            dvar[g][j] += (real)0.5 * b * (e * e - 1 / var[g][j]);
        }
    }
}

}  // namespace vision
