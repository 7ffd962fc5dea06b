#pragma once
// Face trackers: each frame is turned to gray, compared with the previous one, scanned for faces when
// enough pixels moved (or every modulo-th frame), and the detections are smoothed by an averager.
#include "detection/FaceAverager.h"
#include "detection/PatternDetect.h"
#include "detection/PatternFusion.h"
#include "detection/PatternMerger.h"
#include "detection/ipIntegralImage.h"
#include "detection/ipSWmctMS.h"
#include "detection/ipSWmvfaceBtree.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"

namespace vision {

class FaceTrackerAPI : public Object {
public:
    bool verbose;
    const char* name;
    int frame_counter;             // frames modulo the detection modulo
    unsigned char* previous_gray;  // n_pixels
    unsigned char* motion_mask;    // per pixel the gray difference when it counted as motion, else 0
    int n_moving;                  // moving pixels of the last frame
    real* gray_normalised;         // gray / 255: the image that is scanned
    bool enabled;
    FaceTrackingSettings* settings;  // not owned
    int n_faces;
    FaceInfo** faces;  // the current output; owned by the averager, valid until the next frame
    real* gray;        // 0..255
    int width, height, n_pixels;

    FaceTrackerAPI(FaceTrackingSettings* settings, bool verbose);

    // Detection on the frame just converted.
    virtual void process() = 0;
    virtual float meanIntensity() = 0;

    // Packed 3-byte pixels. stride is the distance in bytes between stored rows (bitmap rows are padded
    // to 4 bytes); 0 means rows of exactly 3 x width bytes.
    void processImageBGR(const unsigned char* image, int stride = 0);         // top row first
    void processReverseImageBGR(const unsigned char* image, int stride = 0);  // bottom row first
    void processImageRGB(const unsigned char* image, int stride = 0);
    void processImageYUV(const unsigned char* image, int stride = 0);  // first byte of a pixel is its gray

    void setEnabled(bool on) { enabled = on; }
    void setDetectionModulo(int modulo);
    void setPixelDifference(int difference);
    void setMotionQuantity(int quantity);

protected:
    // The detector's view of gray_normalised: one frame of n_pixels values.
    Sequence* input;
    real* input_frames[1];

    template <int B, int G, int R>
    void convert(const unsigned char* image, int stride, bool bottomUp);
    template <int B, int G, int R>
    void run(const unsigned char* image, int stride, bool bottomUp, const char* entry);
    // Faces to candidates, then the averager's output becomes the tracker's.
    void report(FaceAverager* averager, int n, FaceInfo** candidates);
};

// Frontal faces with one cascade file ("MCT-MS-MF-F-2").
class FaceTrackerAPI_MCTMSMFF_2 : public FaceTrackerAPI {
public:
    MSPatternDetect* detector;
    FaceInfo** candidates;  // max_faces
    RokelFaceAverager* averager;
    ipIntegralImage* integral;
    ipSWmctMS* classifier;
    ViewPatternFusion* fusion;

    FaceTrackerAPI_MCTMSMFF_2(const char* model_file, float threshold, FaceTrackingSettings* settings, bool verbose);

    void process() override;
    float meanIntensity() override;
};

// Faces in nine views with a multi-view model directory ("MCT-MS-MF-MV-1").
class FaceTrackerAPI_MCTMSMFMV_1 : public FaceTrackerAPI {
public:
    MSPatternDetect* detector;
    ViewPatternFusion* final_fusion;
    FaceInfo** candidates;
    RokelFaceAverager* averager;
    ipIntegralImage* integral;
    ipSWmvfaceBtree* tree;
    MultiViewPatternFusion* view_fusion;

    FaceTrackerAPI_MCTMSMFMV_1(const char* model_directory, float threshold, bool normalised,
                               FaceTrackingSettings* settings, bool verbose);

    void process() override;
    float meanIntensity() override;
};

// Plane flags and angle of a detection's view: 0 frontal, 1..4 in-plane +-22.5 and +-45 degrees, 5..8
// out-of-plane likewise. Views outside 0..8 are reported as frontal.
void setFaceView(FaceInfo& face, int view);

}  // namespace vision
