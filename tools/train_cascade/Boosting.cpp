#include "tools/train_cascade/Boosting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cascade_training {

float thresholdForHitRate(std::vector<float> scores, double hit_rate) {
    if (scores.empty()) return 0;
    std::sort(scores.begin(), scores.end());
    size_t drop = static_cast<size_t>(std::floor((1.0 - hit_rate) * scores.size()));
    if (drop >= scores.size()) drop = scores.size() - 1;
    return scores[drop];
}

namespace {

// Chooses the location whose table best separates the weighted samples (smallest normaliser Z)
// and fills its table with half the log ratio of the smoothed class weights.
WeakClassifier bestWeak(const SampleSet& pos, const std::vector<double>& wp, const SampleSet& neg,
                        const std::vector<double>& wn) {
    std::vector<double> hp(static_cast<size_t>(kLocations) * kCodes, 0.0), hn(hp.size(), 0.0);
    for (int i = 0; i < pos.size(); ++i) {
        const uint16_t* r = pos.row(i);
        for (int l = 0; l < kLocations; ++l) hp[l * kCodes + r[l]] += wp[i];
    }
    for (int i = 0; i < neg.size(); ++i) {
        const uint16_t* r = neg.row(i);
        for (int l = 0; l < kLocations; ++l) hn[l * kCodes + r[l]] += wn[i];
    }
    double total = 0;
    for (double w : wp) total += w;
    for (double w : wn) total += w;
    const double eps = 1e-4 * total / kCodes;
    int best = 0;
    double best_z = 1e300;
    for (int l = 0; l < kLocations; ++l) {
        double z = 0;
        for (int c = 0; c < kCodes; ++c) z += std::sqrt(hp[l * kCodes + c] * hn[l * kCodes + c]);
        if (z < best_z) best_z = z, best = l;
    }
    WeakClassifier w;
    w.location = best;
    for (int c = 0; c < kCodes; ++c) {
        double v = 0.5 * std::log((hp[best * kCodes + c] + eps) / (hn[best * kCodes + c] + eps));
        w.lut[c] = static_cast<float>(std::max(-4.0, std::min(4.0, v)));
    }
    return w;
}

}  // namespace

Stage trainStage(const SampleSet& pos, const SampleSet& neg, const StageGoal& goal, StageReport* report) {
    Stage stage;
    std::vector<double> wp(pos.size(), 0.5 / pos.size()), wn(neg.size(), 0.5 / neg.size());
    std::vector<float> sp(pos.size(), 0.0f), sn(neg.size(), 0.0f);
    StageReport rep;
    while (static_cast<int>(stage.weak.size()) < goal.max_weak) {
        WeakClassifier w = bestWeak(pos, wp, neg, wn);
        stage.weak.push_back(w);
        stage.weights.push_back(1.0f);
        double sum = 0;
        for (int i = 0; i < pos.size(); ++i) {
            float h = w.lut[pos.row(i)[w.location]];
            sp[i] = sp[i] + h;
            wp[i] *= std::exp(-h);
            sum += wp[i];
        }
        for (int i = 0; i < neg.size(); ++i) {
            float h = w.lut[neg.row(i)[w.location]];
            sn[i] = sn[i] + h;
            wn[i] *= std::exp(h);
            sum += wn[i];
        }
        for (double& v : wp) v /= sum;
        for (double& v : wn) v /= sum;

        stage.threshold = thresholdForHitRate(sp, goal.hit_rate);
        int kept_pos = 0, kept_neg = 0;
        for (float s : sp) kept_pos += s >= stage.threshold;
        for (float s : sn) kept_neg += s >= stage.threshold;
        rep.n_weak = static_cast<int>(stage.weak.size());
        rep.hit_rate = static_cast<double>(kept_pos) / pos.size();
        rep.false_rate = neg.size() ? static_cast<double>(kept_neg) / neg.size() : 0.0;
        if (rep.n_weak >= goal.min_weak && rep.false_rate <= goal.false_rate) break;
    }
    if (report) *report = rep;
    return stage;
}

}  // namespace cascade_training
