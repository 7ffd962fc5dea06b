#pragma once
// Boosted cascade of census-transform look-up tables over a square window, read from a cascade file.
#include "detection/MctLutClassifier.h"
#include "detection/ipMCT.h"
#include "detection/ipSubWindow.h"

namespace vision {

// What a cascade file may hold. The shipped cascades have at most 14 stages and 512 weak classifiers;
// a frame costs a few reads per weak classifier that its windows reach, so these bounds keep a
// damaged or hostile file from making each frame last seconds.
const int MAX_CASCADE_STAGES = 64;
const int MAX_CASCADE_CLASSIFIERS = 2048;

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
    // On a grid dense enough that windows share most mask positions, processRow() reads the census codes
    // from a code image of the whole frame, each code computed once.
    void beginScan(int step_x, int step_y) override;
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

    // The code image: codes[i] is the census code of the mask whose corner is integral-image pixel i, at
    // the current size; rows are computed as processRow() first needs them.
    bool coded;  // processRow() reads the code image
    uint16_t* codes;
    uint8_t* code_row_done;
    long codes_capacity;
    int rows_capacity;
    int coded_width, coded_height;  // the integral image the code image was set up for

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
    // The same from the code image, `at` pointing at the window's top-left pixel there.
    int codedStages(const uint16_t* at, int first, real* sum) const;
    template <class Code>
    int stages(const Code& code, int first, real* sum) const;
    // Eight windows of row y at once: see ipSWmctMS.cpp.
    template <int kStep>
    void decideEight(int y, const int* lane_x, int live, Decision* out);
    void decideEightCoded(int y, const int* lane_x, int live, Decision* out);
    template <class Table, class Rest>
    void decideLanes(const int* at_lane, int live, const Table& table, const Rest& rest, Decision* out);
    bool codedValid() const { return coded && coded_width == width_image && coded_height == height_image; }
    // Computes the rows first to last of the code image that are not computed yet.
    void codeRows(int first, int last);
    void codeRow(int row);
    // A window's decision from the stage that rejects it (n_stages: none) and its last stage's sum,
    // counting the rejection.
    Decision decided(int stage, real sum);
};

}  // namespace vision
