#pragma once
// The detection filter's own COM interface and the listener through which it reports each frame.
// Both cross the module boundary: the program implements the listener and hands the filter its
// tracking settings (the filter owns them from then on).
#include "platform/com.h"

namespace vision {
class FaceInfo;
class FaceTrackingSettings;
class RgbFrame;
}  // namespace vision

DEFINE_GUID(CLSID_DetectionFilter, 0xCB6B81A8, 0xEED1, 0x4F96, 0x94, 0x4E, 0x16, 0x15, 0x0F, 0x34, 0x81, 0xA5);
DEFINE_GUID(IID_IFaceDetector, 0x16CF878B, 0xC1F1, 0x4BD2, 0xA4, 0xDC, 0xD3, 0x3D, 0xD7, 0x20, 0xBE, 0x69);

struct IFaceDetector;

// Called on the streaming thread with the filter's lock held (except onTrackerReset when the filter
// is destroyed): a listener must not call back into IFaceDetector.
class FaceDetectionListener {
public:
    IFaceDetector* detector = nullptr;  // kept by IFaceDetector::SetListener

    virtual ~FaceDetectionListener() {}
    // A tracker was built for frames of this size.
    virtual void onTrackerCreated(int width, int height) {}
    // The current tracker is about to be destroyed.
    virtual void onTrackerReset() {}
    // Once per frame before the tracker runs; false when no tracker runs on it.
    virtual void onFrame(bool processed) {}
    // count >= 1 faces; faces and frame (the input as it arrived) are valid only during the call.
    virtual void onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) {}
    // The tracker ran and found no face.
    virtual void onNoFace() {}
};

struct IFaceDetector : IUnknown {
    // Takes no lock: set it before the graph runs. None detaches the previous listener.
    virtual HRESULT SetListener(FaceDetectionListener* listener) = 0;
    // mode 0 no detection, 1 frontal (path names a cascade file), 2 multi-view (a model directory).
    // Used when a tracker is next built; a running tracker keeps its model.
    virtual HRESULT SetModel(int mode, const char* path, float threshold, bool normalised) = 0;
    virtual HRESULT SetEnabled(bool enabled) = 0;
    // Ownership passes to the filter; a live tracker is rebuilt at the next frame.
    virtual HRESULT SetSettings(vision::FaceTrackingSettings* settings) = 0;
    // The current tracker's settings, still owned by the filter; none before the first tracker.
    virtual HRESULT GetSettings(vision::FaceTrackingSettings** settings) = 0;
    // Kept within 1..4 (a face information sample holds four records); a live tracker is rebuilt.
    virtual HRESULT SetMaxFaces(int count) = 0;
    // Moving pixels of the last frame the tracker saw; 0 without a tracker.
    virtual HRESULT GetMotion(int* motion) = 0;
    // The only input size accepted from now on; 0, 0 accepts any.
    virtual HRESULT SetInputResolution(int width, int height) = 0;
};
