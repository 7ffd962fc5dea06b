#pragma once
// Small fixtures shared by the mixture and trainer tests.
#include "visionlib/DiagonalGMM.h"
#include "visionlib/MemoryDataSet.h"
#include "visionlib/Message.h"
#include "visionlib/ParameterBlocks.h"
#include "visionlib/Sequence.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace gmmtest {

// Records every library text; silent, so nothing reaches standard output.
struct Recorder : vision::MessageHandler {
    std::string printed, warnings, messages;
    Recorder() : vision::MessageHandler(true) {}
    void error(const char* text) override { std::fprintf(stderr, "error: %s\n", text); }
    void warning(const char* text) override { warnings += std::string(text) + "\n"; }
    void message(const char* text) override { messages += std::string(text) + "\n"; }
    void print(const char* text) override { printed += text; }
};

// A data set over sequences it owns, built from rows of frames.
typedef std::vector<std::vector<std::vector<float>>> Examples;

struct Data {
    std::vector<vision::Sequence*> seqs;
    vision::MemoryDataSet set;

    explicit Data(const Examples& examples) {
        for (const auto& frames : examples) {
            int d = frames.empty() ? 1 : (int)frames[0].size();
            auto* s = new vision::Sequence((int)frames.size(), d);
            for (size_t t = 0; t < frames.size(); t++)
                for (int j = 0; j < d; j++)
                    s->frames[t][j] = frames[t][j];
            seqs.push_back(s);
        }
        if (!seqs.empty())
            set.setInputs(seqs.data(), (int)seqs.size());
    }
    ~Data() {
        for (auto* s : seqs)
            delete s;
    }
};

// Sets a mixture's parameters: weights (not logs), then per Gaussian means and variances.
inline void setMixture(vision::DiagonalGMM& gmm, const std::vector<double>& weights,
                       const std::vector<std::vector<double>>& means, const std::vector<std::vector<double>>& vars) {
    for (int g = 0; g < gmm.n_gaussians; g++) {
        gmm.log_weights[g] = (float)std::log(weights[g]);
        for (int j = 0; j < gmm.n_inputs; j++) {
            gmm.means[g][j] = (float)means[g][j];
            gmm.var[g][j] = (float)vars[g][j];
        }
    }
    gmm.startEmIteration();
}

inline std::vector<float> paramsOf(vision::DiagonalGMM& gmm) {
    std::vector<float> v(gmm.params->n_params);
    gmm.params->copyTo(v.data());
    return v;
}

}  // namespace gmmtest
