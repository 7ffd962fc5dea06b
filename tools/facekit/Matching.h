#pragma once
// The accuracy benchmark's matching rule: a detection matches a marked face when the detection's box
// centre lies inside the face's box and the ratio of the two box widths lies within [0.5, 2]; each
// face and each detection match at most once, nearest centres first. A detection that matches no face
// is a false positive.
#include <vector>

#include "tools/facekit/FaceLists.h"
#include "tools/facekit/Scan.h"

namespace facekit {

bool matches(const Window& detection, const MarkedFace& face);

// For each detection the index of the face it matches, or -1.
std::vector<int> matchDetections(const std::vector<Window>& detections, const std::vector<MarkedFace>& faces);

// How far the eyes the tracker places in a detection's box (`computeEyesFromBbx`) lie from the face's
// marked eyes, as a share of the marked eye distance (mean of both eyes); negative when the marked eyes
// coincide.
double eyeError(const Window& detection, const Eyes& eyes);

}  // namespace facekit
