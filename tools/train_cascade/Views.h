#pragma once
// Face samples for the detector's views: 0 frontal, 1..4 turned within the image plane by +22.5,
// -22.5, +45, -45 degrees, 5..8 turned out of it by the same angles (the multi-view tracker's table).
#include <random>
#include <string>
#include <vector>

#include "tools/facekit/FrameCodes.h"
#include "tools/facekit/Scan.h"
#include "tools/train_cascade/Boosting.h"

namespace cascade_training {

using facekit::FrameCodes;
using facekit::GrayFrame;
using facekit::ScanSettings;
using facekit::Window;

// The in-plane angle of views 1..4, the out-of-plane angle of views 5..8, 0 for view 0.
float viewDegrees(int view);

// One person's frames (a clip or a person's folder, in order), brought to the detector's size, with
// the face box of each frame where one is known.
struct PersonFrames {
    std::vector<GrayFrame> frames;
    std::vector<Window> boxes;
    std::vector<bool> known;
};

// Frames lower than the detector's 240-row input enlarged by a whole factor, as the scaling filter
// brings a small camera picture to the detector's size.
GrayFrame detectorSized(const GrayFrame& frame);

// Boxes found by a first cascade: the strongest fused detection of a frame when the frame before or
// after agrees with it, and the box between two agreeing detections up to two frames apart (faces
// the first cascade misses are taken too).
PersonFrames findFaces(const std::string& folder, const std::string& cascade, float threshold);

// Codes every known box, turned within the image plane by `degrees` with ipRotate (about the frame's
// centre; the box follows its centre), as found and in `jitters` random variants (shifted by up to
// 6% of its width, scaled by 0.92 to 1.08), in the frame and in its mirror image.
void addBoxes(const PersonFrames& person, float degrees, int jitters, std::mt19937& rng, SampleSet* set);

// A person turning from profile (first frame) to frontal (last frame), as in DIR/umist: the frames
// whose pose, taken as linear in the frame index, lies within 11.25 degrees of |degrees|, cut with
// the median box of the person's near-frontal detections. The frames as they are give the positive
// angle, their mirror images the negative one.
void addTurned(const PersonFrames& person, float degrees, int jitters, std::mt19937& rng, SampleSet* set);

// The frame turned by `degrees` about its centre with ipRotate, and where the point (x, y) lands in it.
GrayFrame turned(const GrayFrame& frame, float degrees, float x, float y, float* xo, float* yo);

// A 19 x 19 face turned within the image plane by `degrees` with ipRotate (edges repeated around it).
GrayFrame turnedPatch(const GrayFrame& patch, float degrees);

}  // namespace cascade_training
