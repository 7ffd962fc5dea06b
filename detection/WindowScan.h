#pragma once
// Slides one window size over the frame and records the windows the classifier accepts.
#include "detection/Pattern.h"
#include "detection/ipSubWindow.h"

namespace vision {

class WindowScan : public Object {
public:
    bool verbose;
    int width_image, height_image;  // the frame
    int width_ii, height_ii;        // the integral image's row length and row count
    int window_width, window_height;        // in the frame
    int sw_window_width, sw_window_height;  // in the classifier's pattern space
    int step_x, step_y;
    ipSubWindow* classifier;
    PatternList* list;

    // Brightness and contrast test on the window's sum s and v = q - s * (1/A) * s.
    bool mean_var_test;
    const real* ii_sums;
    const real* ii_squares;
    real sum_min, sum_max;
    real var_min, var_max;
    real inv_area;

    // Pruning image test; nothing enables it.
    bool prune_test;
    const real* prune_image;
    real prune_min, prune_max;

    int max_rois;
    int n_rois;
    int* roi_x;
    int* roi_y;
    int* roi_w;
    int* roi_h;

    // One row's windows through the gate and the classifier's decisions on them.
    int* row_x;
    ipSubWindow::Decision* row_decisions;

    int n_windows;
    int n_classified;
    int n_prune_rejected;
    int n_mean_rejected;
    int n_stdv_rejected;

    WindowScan(int width_image, int height_image, int width_ii, int height_ii, int window_width,
               int window_height, int sw_window_width, int sw_window_height, ipSubWindow* classifier,
               PatternList* list, bool verbose, int max_rois = 256);

    // Bounds on the window's mean and standard deviation (values 0 to 1), read from the two integral images.
    void setMeanVarTest(real mean_min, real mean_max, real stdv_min, real stdv_max, const real* ii_sums,
                        const real* ii_squares);
    void addROI(int x, int y, int w, int h);
    void clearROIs() { n_rois = 0; }

    virtual void init() = 0;
    virtual void scan(Sequence* input) = 0;
};

class MSWindowScan : public WindowScan {
public:
    MSWindowScan(int width_image, int height_image, int width_ii, int height_ii, int window_width,
                 int window_height, int sw_window_width, int sw_window_height, real step_x_factor,
                 real step_y_factor, ipSubWindow* classifier, PatternList* list, bool verbose);

    void init() override;
    void scan(Sequence* input) override;
};

}  // namespace vision
