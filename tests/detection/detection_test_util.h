#pragma once
// Stubs and frames shared by the detection tests.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "detection/ipSubWindow.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"

namespace dtest {

// Records every window it is asked about; accepts those that `accept` names, with confidence `score`.
class RecordingClassifier : public vision::ipSubWindow {
public:
    struct Window {
        int x, y, size;
    };
    std::vector<Window> windows;
    std::map<int, int> per_size;
    std::function<bool(int x, int y, int size)> accept;
    std::function<float(int x, int y, int size)> score;

    RecordingClassifier(int w, int h) : ipSubWindow(w, h, 19, 19, 0.0f) {}

    void process(vision::Sequence*) override {
        windows.push_back({x, y, window_width});
        per_size[window_width]++;
        is_pattern = accept && accept(x, y, window_width);
        output->frames[0][0] = score ? score(x, y, window_width) : 1.0f;
    }
};

// Keeps the texts of warnings and prints, silently.
class CaptureMessages : public vision::MessageHandler {
public:
    std::vector<std::string> warnings, messages, prints;
    CaptureMessages() : MessageHandler(true) {}
    void error(const char*) override {}
    void warning(const char* t) override { warnings.push_back(t); }
    void message(const char* t) override { messages.push_back(t); }
    void print(const char* t) override { prints.push_back(t); }
    std::string printed() const {
        std::string all;
        for (auto& p : prints) all += p;
        return all;
    }
};

// A one-frame sequence of width x height reals.
struct Frame {
    int width, height;
    vision::Sequence seq;
    Frame(int w, int h) : width(w), height(h), seq(1, w * h) {
        for (int i = 0; i < w * h; i++) seq.frames[0][i] = 0;
    }
    float& at(int x, int y) { return seq.frames[0][y * width + x]; }
    float* data() { return seq.frames[0]; }
};

// Deterministic noise in [lo, hi].
inline void fillNoise(Frame& f, unsigned seed, float lo, float hi) {
    unsigned s = seed * 2654435761u + 12345u;
    for (int i = 0; i < f.width * f.height; i++) {
        s = s * 1664525u + 1013904223u;
        f.data()[i] = lo + (hi - lo) * (float)((s >> 8) & 0xffff) / 65535.0f;
    }
}

}  // namespace dtest
