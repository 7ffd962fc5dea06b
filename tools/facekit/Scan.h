#pragma once
// The detector over one frame exactly as a tracker runs it, built by the detection library's own
// set-up (the steps and scale of the tracker's default settings): raw windows (no fusion), the fused
// detections the frontal tracker keeps, or the multi-view tracker's.
#include <string>
#include <vector>

#include "detection/PatternDetect.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "tools/facekit/FrameCodes.h"

namespace facekit {

struct Window {
    int x, y, w, h;
    float confidence;
    float activation;
};

struct ScanSettings {
    // The window range scanned: the benchmarks and trainers look at every size from the pattern's
    // (the tracker's own range is 38 to 240 pixels); the largest window is the frame's smaller side.
    int min_size = 19, max_size = 100000;
    bool force_multiple = true;  // the tracker's levels (multiples of 19); false: every size
    // Scan steps as fractions of the window (0: the tracker's defaults).
    float step_x_factor = 0, step_y_factor = 0;
    float threshold = 0;         // detector threshold
    bool fuse = true;            // the frontal tracker's fusion
    int capacity = 1000;         // raw windows per frame (the tracker's)
    int fusion_capacity = 100;   // windows the fusion takes (the tracker's)
    // What the detector does with more windows than the fusion takes (the tracker's choice by default).
    vision::FusionOverflow overflow = vision::FusionOverflow::Groups;
};

std::vector<Window> scanFrame(FrameCodes& frame, const std::string& cascade, const ScanSettings& settings);

// The fusion's overlap of two windows: intersection over the larger one's area (0 when they only touch).
float windowOverlap(const Window& a, const Window& b);

// The frontal tracker's fusion over the given windows, with their confidences as given and room for all
// of them: the fused detections the tracker keeps (activation 1.5 or more), most confident first; a lone
// window is kept as it stands, as the detector keeps it.
std::vector<Window> fuseWindows(const std::vector<Window>& raw, float threshold);

// The configuration's scan steps ("stepXfactor", "stepYfactor") put into a tracker's settings; 0 keeps
// the settings' own value.
void setScanSteps(vision::FaceTrackingSettings& settings, float step_x_factor, float step_y_factor);

// The multi-view tracker's detector over a model directory (normalisation off): the tree, the per-view
// fusion and the final fusion over all views. The final fusion's patterns that its suppression left
// active, strongest first; `view` tells each one's view.
struct ViewWindow : Window {
    int view;
};
std::vector<ViewWindow> scanFrameMultiView(FrameCodes& frame, const std::string& directory, const ScanSettings& settings);

}  // namespace facekit
