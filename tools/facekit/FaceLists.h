#pragma once
// Where the faces are in the shared data folders: the box and landmark lists of cmu-newtest, the eye,
// nose and mouth list of webfaces, and the fixed eye positions of the aligned lfw and utkface pictures.
#include <map>
#include <string>
#include <vector>

namespace facekit {

// Eye centres in picture coordinates; "left" is the eye on the left of the picture.
struct Eyes {
    float left_x, left_y, right_x, right_y;
};

// A face marked in an annotated picture (cmu-newtest): its box and its eyes.
struct MarkedFace {
    float x, y, w, h;
    Eyes eyes;
};

// DIR/boxes.txt and DIR/landmarks.txt (line i of both is the same face), by picture file name.
std::map<std::string, std::vector<MarkedFace>> readMarkedFaces(const std::string& dir);

// A picture of one face with the eyes where they are known to be.
struct EyeFace {
    std::string path;
    Eyes eyes;
};

// DIR/faces.txt of webfaces: one crop per line, then the eyes, the nose tip and the mouth centre.
std::vector<EyeFace> readWebFaces(const std::string& dir);
// The aligned pictures of lfw (DIR/person/picture.jpg) and utkface (DIR/picture.jpg), whose eyes lie at
// the same place in every picture.
std::vector<EyeFace> lfwFaces(const std::string& dir);
std::vector<EyeFace> utkFaces(const std::string& dir);

// The square box in which the tracker's eye placement (`computeEyesFromBbx`: the eyes 4.5/19 and
// 14.5/19 of the width from the left edge, 5/19 below the top) puts the eyes where they are: as wide as
// 1.9 eye distances, centred on the eyes, its top half an eye distance above them.
struct Box {
    float x, y, w;
};
Box boxFromEyes(const Eyes& eyes);

extern const Eyes kLfwEyes;
extern const Eyes kUtkEyes;

}  // namespace facekit
