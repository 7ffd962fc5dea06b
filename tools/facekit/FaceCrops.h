#pragma once
// Faces cut from still images and video frames the way the running system cuts them: the frontal
// detector's box, the eyes the tracker derives from it, the sample store's 64x80 crop, and the
// verifier's own feature path (normalisation, DCT-mod2, face and mirror).
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/facekit/FaceLists.h"
#include "tools/facekit/FrameCodes.h"
#include "tools/facekit/Images.h"
#include "tools/facekit/Scan.h"
#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/UserInfo.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryDataSet.h"
#include "visionlib/filter/FaceInfo.h"

namespace vision {
class DiagonalGMM;
}

namespace facekit {

// The frontal tracker's smallest window by default.
const int kTrackerMinSize = 38;

// Detections of one still image with the frontal tracker's detector set-up (threshold 0, its fusion),
// windows from minSize up to the image height; highest confidence first.
std::vector<Window> detectFaces(const GrayFrame& frame, const std::string& cascade, int minSize = kTrackerMinSize);

// The face record the tracker makes from a detection: box and score, eyes from the box, frontal view.
void faceFromWindow(const Window& w, vision::FaceInfo* face);

// The frame as the verification filter hands it to the store: gray reals 0..255.
std::unique_ptr<vision::ImageGray> toImage(const GrayFrame& frame);

// A store of one face per frame size, as the verification filter keeps it.
class CropCutter {
public:
    CropCutter();
    // The store holding the face of frame (one sample); valid until the next call.
    vision::FrontalFaceData* cut(vision::ImageGray* frame, vision::FaceInfo* face);
    void release();

private:
    vision::UserInfo identity_;
    std::map<std::pair<int, int>, std::unique_ptr<vision::FrontalFaceData>> stores_;
    vision::FrontalFaceData* last_ = nullptr;
};

// Verifier features of many faces, two examples (face, mirror) per face, kept as one data set.
class FeatureSet {
public:
    FeatureSet();
    ~FeatureSet();
    FeatureSet(const FeatureSet&) = delete;
    FeatureSet& operator=(const FeatureSet&) = delete;

    void add(vision::ImageGray* frame, vision::FaceInfo* face);
    int faces() const { return (int)examples_.size() / 2; }
    int examples() const { return (int)examples_.size(); }
    // The examples so far, as one data set (rebuilt on each call, owned here).
    vision::MemoryDataSet* dataSet();

private:
    CropCutter cutter_;
    vision::FaceVerif_GmmDCTmod2 features_;  // its feature path only
    std::vector<vision::Sequence*> examples_;
    vision::MemoryDataSet* data_ = nullptr;
};

// The frame scaled by scale, with a margin of pad times its size on each side that repeats its edge
// pixels.
GrayFrame rescaled(const GrayFrame& frame, float scale, float pad);

// Training faces from a folder of people (one sub-folder of images each, e.g. umist): each image,
// at each of scales and with a margin of a quarter of its size, gives its best detection when that
// covers at least minShare of the scaled image's width. Smaller scales give the small, soft faces a
// webcam frame gives. At most limit images per person (0: all). Returns the faces added.
// One such picture at scale: the frame the detector sees and its best window, when it covers minShare.
bool pictureFace(const GrayFrame& original, float scale, float minShare, const std::string& cascade, GrayFrame* frame,
                 Window* window);
int collectPeople(const std::string& dir, const std::string& cascade, FeatureSet* set, int limit = 0,
                  float minShare = 0.4f, const std::vector<float>& scales = {1.0f});

// Training faces from an annotated folder (cmu-newtest: images with boxes.txt): for each annotated
// face the best detection whose centre lies in its box and whose size is within [0.5, 2] of it.
// At most limit faces (0: all). Returns the faces added.
int collectAnnotated(const std::string& dir, const std::string& cascade, FeatureSet* set, int limit = 0,
                     int minSize = 24);

// Pictures of one face with known eyes (lfw, utkface, webfaces), brought to what a webcam gives at run
// time before the system cuts them: scaled so that the eyes lie between min_eyes and max_eyes pixels
// apart in the camera's frame, which is 320x240 for every second picture and 160x120 for the others,
// doubled as the scaling filter enlarges such a camera's frames for the detector (soft); then the
// detector's best window whose box puts the eyes (`computeEyesFromBbx`) within max_eye_error eye
// distances of the known eyes.
struct WebcamFaces {
    float min_eyes = 18, max_eyes = 36;
    float min_source_eyes = 0;  // pictures whose eyes are closer are left out
    float max_eye_error = 0.5f;
    int limit = 0;  // at most this many pictures, spread over the list (0: all)
};
int collectWebcamFaces(const std::vector<EyeFace>& faces, const std::string& cascade, FeatureSet* set,
                       const WebcamFaces& options);
// The pictures those options take from the list (min_source_eyes, limit), as indices in it.
std::vector<size_t> pickWebcamFaces(const std::vector<EyeFace>& faces, const WebcamFaces& options);
// One picture so brought (i, its place in the list, picks the eye distance and the camera): the
// camera's frame as the detector sees it and the window on the face.
bool webcamFace(const EyeFace& face, size_t i, const std::string& cascade, const WebcamFaces& options,
                GrayFrame* frame, Window* window);

struct TrainOptions {
    int gaussians = 256;
    int maxIterations = 100;
    float endAccuracy = 1e-5f;
    unsigned seed = 1;
    // Each Gaussian's variance floor is this share of the data's variance.
    float floorFactor = 0.01f;
    bool verbose = false;
};

// EM from a seeded start: means on distinct random frames of the data, variances the data's,
// equal weights. Returns the world verifier holding the trained mixture.
std::unique_ptr<vision::FaceVerif_GmmDCTmod2> trainWorldModel(vision::MemoryDataSet* data, const TrainOptions& options);

// Mean frame log-likelihood of the data under the mixture.
double meanFrameLogLikelihood(vision::DiagonalGMM* gmm, vision::MemoryDataSet* data);

// Writes the world model file (the three tagged records).
void saveWorldModel(vision::FaceVerif_GmmDCTmod2* world, const std::string& path);

// A frame file as a camera of scale times its size would give it (1: as stored).
bool loadFrame(const std::string& path, float scale, GrayFrame* frame);
// The same as the image the verification filter hands over (gray 0..255); none when unreadable.
std::unique_ptr<vision::ImageGray> loadImage(const std::string& path, float scale);

// A face found in one image file (read at scale), as the tracker reported it.
struct FoundFace {
    std::string path;
    float scale;
    int bbx_x, bbx_y, bbx_width, bbx_height;
    int left_eye_x, left_eye_y, right_eye_x, right_eye_y;
    float score;
    int frame = -1;  // its index in the clip (trackClip); -1 for a still image
    void toInfo(vision::FaceInfo* face) const;
    std::unique_ptr<vision::ImageGray> image() const { return loadImage(path, scale); }
};

// How a clip is tracked: detection on every modulo-th frame or on motion (modulo 1: every frame), the
// frames read at scale times their size, the tracker's vertical scan step (0: its default) and its
// detector threshold.
struct TrackOptions {
    int modulo = 1;
    float scale = 1.0f;
    float step_y_factor = 0.0f;
    float threshold = 0.0f;
};

// Runs the frontal tracker over the frames of one clip in order, one face at most as the program asks
// for; the frames for which it reports a face. All frames must have the size of the first; frames of
// another size are skipped.
std::vector<FoundFace> trackClip(const std::vector<std::string>& frames, const std::string& cascade,
                                 const TrackOptions& options = TrackOptions());

// The faces of one clip (trackClip, in order) that the verification filter's face gate passes: a
// detection score of at least minScore, held over at least minFrames consecutive frames.
std::vector<FoundFace> gatedFaces(const std::vector<FoundFace>& clip, float minScore, int minFrames);

// The best detection of each still image (images without one are left out).
std::vector<FoundFace> detectStills(const std::vector<std::string>& images, const std::string& cascade,
                                    float minShare = 0.0f, float scale = 1.0f);

// Picks at most n faces spread evenly over faces (the enrollment frames), in their order.
std::vector<FoundFace> spread(const std::vector<FoundFace>& faces, int n);
// Picks the n faces of the highest detection scores (the first of equals), in their order.
std::vector<FoundFace> best(const std::vector<FoundFace>& faces, int n);

// The user model as the enrollment thread builds it: a store of up to 10 samples, MAP adaptation.
std::unique_ptr<vision::FaceVerif_MapGmmDCTmod2> enrollUser(vision::FaceVerif_GmmDCTmod2* world,
                                                            const std::vector<FoundFace>& faces);

// Scores one face as the verification filter does: a store of one face, user model test.
class Scorer {
public:
    explicit Scorer(vision::FaceVerif_MapGmmDCTmod2* user) : user_(user) {}
    // The frame is loaded by the caller (gray 0..255).
    float score(vision::ImageGray* frame, const FoundFace& face);

private:
    vision::FaceVerif_MapGmmDCTmod2* user_;
    CropCutter cutter_;
};

}  // namespace facekit
