#pragma once
// Faces of pictures whose eyes are known (webfaces, lfw, utkface), placed in the window by their eyes
// with the tracker's geometry (facekit::boxFromEyes) and coded where the detector would see them: the
// picture's own pixels at the window's size, through the detector's census codes.
#include <string>
#include <vector>

#include "tools/facekit/FaceLists.h"
#include "tools/train_cascade/Boosting.h"

namespace cascade_training {

struct EyeJitter {
    float shift = 0.06f;                        // of the window width, either way
    float min_scale = 0.87f, max_scale = 1.15f;  // log-uniform
    float degrees = 12;                          // either way
    float soft = 0;  // share of the variants seen at half the picture's sharpness, as a doubled webcam frame
};

// Each face and its mirror image, as placed and in `jitters` random variants, turned first by `degrees`
// (the view's in-plane angle). Pictures whose window is narrower than the pattern are enlarged to it;
// variants whose window leaves the picture are left out. Returns the number of faces that gave a sample.
int addEyeFaces(const std::vector<facekit::EyeFace>& faces, float degrees, int jitters, const EyeJitter& jitter,
                unsigned seed, int threads, SampleSet* set);

// Windows of the same faces that the fusion must not prefer to the placed ones: each face and its mirror
// image in `per_face` random windows whose centre lies 20% to 40% of the placed width away, or whose
// width is 0.55 to 0.72 or 1.4 to 1.8 times the placed one. Returns the number of faces that gave one.
int addMisplacedFaces(const std::vector<facekit::EyeFace>& faces, int per_face, unsigned seed, int threads,
                      SampleSet* set);

}  // namespace cascade_training
