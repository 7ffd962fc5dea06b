#pragma once
// The detector's own scanner over one frame with a cascade file: raw windows (no fusion), or the
// fused detections the frontal tracker keeps.
#include <string>
#include <vector>

#include "tools/train_cascade/FrameCodes.h"

namespace cascade_training {

struct Window {
    int x, y, w, h;
    float confidence;
    float activation;
};

struct ScanSettings {
    int min_size = 19, max_size = 100000;
    float step_x = 0.0625f, step_y = 0.125f, scale = 0.125f;
    bool force_multiple = true;
    float threshold = 0;        // detector threshold
    bool fuse = true;           // the frontal tracker's fusion (overlap 0.9, activation 1.5)
    int capacity = 1000;        // raw windows per frame
    int fusion_capacity = 100;  // windows the fusion takes, best first
};

std::vector<Window> scanFrame(FrameCodes& frame, const std::string& cascade, const ScanSettings& settings);

// The multi-view tracker's detector over a model directory (normalisation off): the tree, the per-view
// fusion (overlap 0.2, activation 1) and the final fusion over all views (overlap 0.1, strongest
// pattern of each cluster). The final fusion's patterns that its suppression left active, strongest
// first; `view` tells each one's view.
struct ViewWindow : Window {
    int view;
};
std::vector<ViewWindow> scanFrameMultiView(FrameCodes& frame, const std::string& directory, const ScanSettings& settings);

}  // namespace cascade_training
