#pragma once
// Which detections the verifier takes for faces. A mixture scored on a window that is not a face
// gives a number of no meaning, and it can be large: a shirt or a bookshelf must not open the lock.
// So only a face that the detector scores at least minScore and that the tracker has held over at
// least minFrames consecutive frames is verified; every other frame counts as one without a face.
//
// The face records carry no lasting track number (an id is a position in its frame's list), so the
// gate follows the faces itself: a face is the one of the previous frame whose box overlaps its box
// by at least half of their union (the tracker averages a face's box over its last frames, while a
// false detection jumps). A frame in which the face is missing ends its run.
#include <cfloat>
#include <vector>

#include "visionlib/filter/FaceInfo.h"

namespace vision {

// The frames a face must be held over before it is verified, in every graph the program builds.
constexpr int kFaceGateHeldFrames = 2;

class FaceGate {
public:
    float minScore = -FLT_MAX;
    int minFrames = 1;

    // The faces of the next frame (count 0: none); true when the first is to be verified.
    bool admit(unsigned count, const FaceInfo* faces);
    // Frames of another stream: no face is held.
    void reset() { previous.clear(); }

private:
    struct Held {
        int x, y, width, height;
        int frames;
    };
    std::vector<Held> previous;
};

}  // namespace vision
