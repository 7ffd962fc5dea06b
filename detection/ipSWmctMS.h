#pragma once
// Boosted cascade of census-transform look-up tables over a square window, read from a cascade file.
#include "detection/MctLutClassifier.h"
#include "detection/ipMCT.h"
#include "detection/ipSubWindow.h"

namespace vision {

class ipSWmctMS : public ipSubWindow {
public:
    Sequence* input;  // views the integral image's sums
    int* rejections;  // per stage
    ipMCT*** mcts;    // per stage, per weak classifier
    MctLutClassifier*** trainers;
    int n_stages;
    real** weights;   // per stage, per weak classifier
    int* n_trainers;  // per stage
    real* thresholds; // per stage
    bool batch;       // option "batch rows": processRow() decides eight windows at once where AVX2 allows

    // Reads the whole cascade file; any fault in it is fatal.
    ipSWmctMS(real* integral_sums, int width_image, int height_image, int width_pattern, int height_pattern,
              const char* model_file, real threshold, bool verbose);

    void setSize(int width, int height) override;
    // Decides the window at (x, y) of the current size; the input is ignored (the integral image given at
    // construction is read).
    void process(Sequence* ignored) override;
    // The same decisions, confidences and rejection counts as process() window by window.
    void processRow(Sequence* ignored, int y, const int* xs, int n, Decision* out) override;
    void stat() override;

private:
    // Per-window data of one weak classifier at the current window size.
    struct Weak {
        int base;  // offset of the mask's corner from the window's top-left pixel
        real weight;
        const real* lut;
    };
    Weak* weak;        // all stages, in file order
    int* stage_end;    // one past each stage's last weak classifier in `weak`
    int n_weak;
    int geometry_size;   // window width the offsets were computed for
    int geometry_width;  // integral-image row length likewise
    int grid[16];        // offsets of the 4 x 4 cell corners from the mask's corner
    int reach_min_x, reach_min_y, reach_max_x, reach_max_y;  // reads relative to the window's pixel

    void load(const char* model_file);
    void updateGeometry();
    void reject(int stage);
    bool inside(int x, int y) const {
        return x + reach_min_x >= 0 && y + reach_min_y >= 0 && x + reach_max_x < width_image &&
               y + reach_max_y < height_image;
    }
    // Runs the stages from `first` on the window whose top-left pixel is at `origin`; returns the stage that
    // rejects it, or n_stages when every stage passes. sum: the last stage's.
    int runStages(const real* origin, int first, real* sum) const;
    template <int kCut>
    int stagesFrom(const real* origin, int first, real* sum) const;
    // Eight windows of row y at once: see ipSWmctMS.cpp.
    template <int kStep>
    void decideEight(int y, const int* lane_x, int live, Decision* out);
};

}  // namespace vision
