#pragma once
// Verifies the first face of every frame that passes its face gate against the user model and the world model and tells the
// listener whether it is accepted or rejected, or that the frame had no face. Inputs: the video and
// the detection filter's face information stream; the one output carries nothing.
#include "verification/FaceGate.h"
#include "verification/filter/IFaceVerificator.h"
#include "visionlib/filter/MultiPinTransformFilter.h"

namespace vision {
class FaceData;
class FaceVerif_GmmDCTmod2;
class FaceVerif_MapGmmDCTmod2;
class UserInfo;
}  // namespace vision

class VerificationFilter : public vision::MultiPinTransformFilter, public IFaceVerificator {
public:
    VerificationFilter(const TCHAR* name, LPUNKNOWN outer);
    ~VerificationFilter() override;

    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFaceVerificator
    HRESULT SetCallback(VerificationListener* listener) override;
    HRESULT SetModels(const std::string& userModel, const std::string& worldModel) override;
    HRESULT SetThreshold(float threshold) override;
    HRESULT SetMode(bool oneShot) override;
    HRESULT SetFaceGate(float minDetectionScore, int minFrames) override;

    const vision::PinFormat* pinFormats() const override;
    HRESULT Transform() override;

protected:
    void deleteModels();

    CCritSec verificationLock;
    VerificationListener* listener;
    vision::UserInfo* identity;  // names the face store only; nothing is written
    vision::FaceData* faceStore;
    vision::FaceVerif_GmmDCTmod2* worldVerifier;
    vision::FaceVerif_MapGmmDCTmod2* userVerifier;
    float threshold;
    bool oneShot;
    bool accepted;
    vision::FaceGate gate;
};

extern const AMOVIESETUP_FILTER VerificationFilterSetup;
