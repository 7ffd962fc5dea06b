#pragma once
// The two trackers' detectors, built in one place: each tracker builds its detector with these, and
// tools that must scan exactly as a tracker scans (benchmarks, trainers) call them too.
#include "detection/PatternDetect.h"
#include "detection/PatternFusion.h"
#include "detection/ipIntegralImage.h"
#include "detection/ipSWmctMS.h"
#include "detection/ipSWmvfaceBtree.h"
#include "detection/settings/FaceTrackingSettings.h"

namespace vision {

// What a scan covers: the window sizes, steps and scale come from the tracker's settings.
struct ScanRange {
    int min_size, max_size;
    real step_x_factor, step_y_factor, scale_factor;
    bool force_multiple = true;  // window widths are multiples of the pattern width, as the trackers scan
    int max_patterns = 1000;     // raw windows kept per frame

    explicit ScanRange(const FaceTrackingSettings& settings);
};

// The frontal tracker's fusion capacity.
constexpr int kFrontalFusionCapacity = 100;

// The frontal tracker's fusion: the mean merger, overlap 0.9, minimum confidence = the threshold,
// activation 1.5.
ViewPatternFusion* buildFrontalFusion(Allocator* owner, float threshold, int capacity);

struct FrontalDetector {
    ipIntegralImage* integral;
    ipSWmctMS* classifier;
    ViewPatternFusion* fusion;  // none when built without one
    MSPatternDetect* detector;  // initialised
};

// The frontal tracker's detector over a width x height frame: the cascade, the mean fusion (overlap
// 0.9, minimum confidence = the threshold, activation 1.5) and the scanner with the tracker's brightness
// and contrast gate. An integral image of the frame's size may be given (else one is made); a fusion
// capacity of 0 leaves the fusion out (raw windows). Everything belongs to owner.
FrontalDetector buildFrontalDetector(Allocator* owner, const char* model_file, float threshold, int width,
                                     int height, const ScanRange& range, bool verbose,
                                     ipIntegralImage* integral = nullptr,
                                     int fusion_capacity = kFrontalFusionCapacity);

struct MultiViewDetector {
    ipIntegralImage* integral;
    ipSWmvfaceBtree* tree;
    MultiViewPatternFusion* view_fusion;  // the detector's: mean per view, overlap 0.2, activation 1
    ViewPatternFusion* final_fusion;      // over all views: strongest of each cluster, overlap 0.1
    MSPatternDetect* detector;            // initialised
};

// The multi-view tracker's detector over a model directory, as the frontal one above.
MultiViewDetector buildMultiViewDetector(Allocator* owner, const char* model_directory, float threshold,
                                         bool normalised, int width, int height, const ScanRange& range,
                                         bool verbose, ipIntegralImage* integral = nullptr);

}  // namespace vision
