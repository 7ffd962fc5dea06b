#pragma once
// Runs a face tracker on every RGB24 frame and sends downstream a top-down copy of the video
// ("Video Out") and one 196-byte face information sample per frame ("FaceInfo Out"). The tracker is
// built inside the per-frame work, for the size of the frames that actually arrive. A model that
// cannot be used leaves the filter a pass-through: video copied, face samples zeroed, no listener call.
#include <string>

#include "detection/filter/IFaceDetector.h"
#include "visionlib/filter/MultiPinTransformFilter.h"

namespace vision {
class FaceTrackerAPI;
}

class DetectionFilter : public vision::MultiPinTransformFilter, public IFaceDetector {
public:
    DetectionFilter(const TCHAR* name, LPUNKNOWN outer);
    ~DetectionFilter() override;

    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFaceDetector
    HRESULT SetListener(FaceDetectionListener* listener) override;
    HRESULT SetModel(int mode, const char* path, float threshold, bool normalised) override;
    HRESULT SetEnabled(bool enabled) override;
    HRESULT SetSettings(vision::FaceTrackingSettings* settings) override;
    HRESULT GetSettings(vision::FaceTrackingSettings** settings) override;
    HRESULT SetMaxFaces(int count) override;
    HRESULT GetMotion(int* motion) override;
    HRESULT SetInputResolution(int width, int height) override;

    const vision::PinFormat* pinFormats() const override;
    // The input takes only the size SetInputResolution gave.
    vision::FrameSize givenSize(unsigned pin) override;
    HRESULT Transform() override;

protected:
    // Destroys the tracker (after telling the listener); its settings go with it unless kept as the
    // values of the next tracker.
    void resetTracker(bool keepSettings);
    // Builds the tracker for a frame of this size; false when the model cannot be used.
    bool buildTracker(int width, int height);

    CCritSec settingsLock;
    int mode;
    std::string modelPath;
    float threshold;
    bool normalised;
    FaceDetectionListener* listener;
    vision::FaceTrackerAPI* tracker;
    vision::FaceTrackingSettings* liveSettings;
    vision::FaceTrackingSettings* pendingSettings;
    int maxFaces;
    bool enabled;
    bool rebuild;
    int inputWidth, inputHeight;
    // The model was refused (reported once); no tracker is tried again until SetModel.
    bool modelRefused;
    // The model path was missing or of the wrong kind and that was reported.
    bool pathReported;
    int trackerWidth, trackerHeight;
    // The last frame size too small for the face windows (reported once; tried again at another size).
    int tooSmallWidth, tooSmallHeight;
};

extern const AMOVIESETUP_FILTER DetectionFilterSetup;
