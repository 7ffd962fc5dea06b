#pragma once
// Multi-scale detector: integral images of the frame, one window scanner per level, then fusion of the raw
// detections.
#include "detection/Pattern.h"
#include "detection/PatternFusion.h"
#include "detection/WindowScan.h"
#include "detection/ipIntegralImage.h"
#include "detection/ipSubWindow.h"

namespace vision {

// What the detector does with more raw windows than its fusion takes.
enum class FusionOverflow {
    MostConfident,  // the fusion keeps as many as it takes, most confident first
    Groups,         // each group of windows joined by overlaps is fused on its own (the trackers')
};

// The detector's output from fused patterns: those whose activation reaches the fusion's minimum, most
// confident first (fused is sorted in place). Returns their number, written to out.
int keepFusedPatterns(const PatternFusion& fusion, Pattern** fused, int n, Pattern** out);

class PatternDetect : public Object {
public:
    ipSubWindow* ip_sw;
    ipIntegralImage* ip_ii;
    PatternFusion* fusion;  // or none
    int width, height;
    int model_width, model_height;
    real model_ratio;
    int sw_min, sw_max;
    int min_size, max_size;  // as given
    real step_x_factor, step_y_factor;
    real scale;  // 1 + the scale factor
    real mean_min, mean_max, stdv_min, stdv_max;
    Sequence* pruning_image;
    real pruning_min, pruning_max;
    bool verbose;
    int n_levels;
    WindowScan** scanners;
    int n_rois;
    int* rois;  // caller's regions, x, y, w, h each; kept by pointer
    int default_roi[4];
    bool initialised;
    PatternList* raw;
    int n_patterns;
    Pattern** patterns;  // the output, valid until the next process
    FusionOverflow overflow;

    int n_windows;
    int n_classified;
    int n_prune_rejected;
    int n_mean_rejected;
    int n_stdv_rejected;

    PatternDetect(ipSubWindow* ip_sw, PatternFusion* fusion, ipIntegralImage* ip_ii, int width, int height,
                  int model_width, int model_height, int min_size, int max_size, real step_x_factor,
                  real step_y_factor, real scale_factor, real mean_min, real mean_max, real stdv_min,
                  real stdv_max, Sequence* pruning_image, real pruning_min, real pruning_max, int max_patterns,
                  bool verbose);

    virtual void levels() = 0;
    virtual void process(Sequence* input);
    virtual void setROIs(int n, int* rois);

    void init();
    // The window widths a width x height frame is scanned with: false when no window of at least
    // min_size (and the model's width) fits the frame and max_size.
    static bool windowRange(int width, int height, int model_width, int model_height, int min_size, int max_size,
                            int* sw_min, int* sw_max);

protected:
    Pattern** sorted;  // the raw patterns, sorted for the fusion
    // For fusing by groups: each raw window's group, the windows of one group, the fused patterns.
    int* group_of;
    Pattern** members;
    PatternList* fused;

    // Fuses the n sorted raw windows group by group; the fused patterns go to sorted. Returns their count.
    int fuseByGroups(int n);
};

class MSPatternDetect : public PatternDetect {
public:
    bool force_multiple;  // option "force sw multiple mw"

    MSPatternDetect(ipSubWindow* ip_sw, PatternFusion* fusion, ipIntegralImage* ip_ii, int width, int height,
                    int model_width, int model_height, int min_size, int max_size, real step_x_factor,
                    real step_y_factor, real scale_factor, real mean_min, real mean_max, real stdv_min,
                    real stdv_max, Sequence* pruning_image, real pruning_min, real pruning_max,
                    int max_patterns, bool verbose);

    void levels() override;

private:
    int nextWidth(int w) const;
};

}  // namespace vision
