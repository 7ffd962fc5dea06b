#pragma once
// The verification filter's own COM interface and the listener through which it reports each
// verified frame. The model paths cross the module boundary as std::string: the program and the
// module share one C++ run-time library.
#include <string>

#include "platform/com.h"

namespace vision {
class FaceInfo;
class Sequence;
}  // namespace vision

DEFINE_GUID(CLSID_VerificationFilter, 0xB3341AEF, 0x6BE0, 0x48E8, 0x8C, 0xD2, 0x98, 0x20, 0x44, 0xB9, 0xAA, 0xB0);
DEFINE_GUID(IID_IFaceVerificator, 0x0F84DC98, 0x1FBA, 0x4402, 0xB8, 0xA4, 0x26, 0x0F, 0x35, 0x05, 0x6F, 0xF5);

struct IFaceVerificator;

// The score a face must reach to be accepted until IFaceVerificator::SetThreshold says otherwise; the
// program's "BadVerificationConfidence" starts from it too.
constexpr float kDefaultVerificationThreshold = 0.4f;

// Called on the video streaming thread with the filter's locks held: a listener must not block and
// must not call back into the filter. gray (one frame of width x height values 0..255) and faces
// (the frame's records; the verified face is the first) are valid only during the call.
class VerificationListener {
public:
    IFaceVerificator* verificator = nullptr;  // kept by IFaceVerificator::SetCallback

    virtual ~VerificationListener() {}
    // The models are loaded and the filter scores from this frame on.
    virtual void onReady() {}
    virtual void onAccepted(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) {}
    virtual void onRejected(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) {}
    virtual void onNoFace() {}
};

struct IFaceVerificator : IUnknown {
    // Takes no lock: set it before the graph runs. None detaches the previous listener.
    virtual HRESULT SetCallback(VerificationListener* listener) = 0;
    // Loads the world model and the user model adapted from it. E_FAIL when either cannot be used:
    // the filter is then unconfigured and reports nothing until models load.
    virtual HRESULT SetModels(const std::string& userModel, const std::string& worldModel) = 0;
    // Scores at or above it are accepted.
    virtual HRESULT SetThreshold(float threshold) = 0;
    // One-shot: the first accepted face ends scoring until SetMode or SetModels.
    virtual HRESULT SetMode(bool oneShot) = 0;
    // Only a first face that the detector scored at least minDetectionScore and that the tracker has
    // held over at least minFrames consecutive frames is verified; other frames count as frames
    // without a face. Until called, every face is verified (-FLT_MAX, 1).
    virtual HRESULT SetFaceGate(float minDetectionScore, int minFrames) = 0;
};
