#include "verification/filter/VerificationFilter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/UserInfo.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/RgbFrame.h"
#include "visionlib/filter/VideoMediaType.h"

using vision::FaceInfo;
using vision::PinFormat;
using vision::RgbFrame;

namespace {

const AMOVIESETUP_MEDIATYPE videoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_MEDIATYPE faceTypes[] = {{&MEDIATYPE_FaceInfo, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {
    {L"Video In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
    {L"Face info In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, faceTypes},
    {L"Unused", FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
};

// The pins at run time. The output carries nothing; it offers a top-down copy of the video type.
const PinFormat formats[] = {
    PinFormat::video(L"Video In", &MEDIASUBTYPE_RGB24, PinFormat::ANY_ROWS, PinFormat::ANY_SIZE),
    PinFormat::faceInfo(L"FaceInfo In"),
    PinFormat::video(L"Unused", &MEDIASUBTYPE_RGB24, PinFormat::TOP_DOWN, PinFormat::SOURCE_SIZE,
                     PinFormat::COPY_OF_SOURCE),
};

}  // namespace

const AMOVIESETUP_FILTER VerificationFilterSetup = {&CLSID_VerificationFilter, L"Strelmont Face Verificator Filter",
                                                    MERIT_DO_NOT_USE, 3, pins};

VerificationFilter::VerificationFilter(const TCHAR* name, LPUNKNOWN outer)
    : MultiPinTransformFilter(name, outer, CLSID_VerificationFilter, 2, 1),
      listener(nullptr),
      identity(new vision::UserInfo(0, "Fake", "unknown", "unknown", 0, 'X')),
      faceStore(nullptr),
      worldVerifier(nullptr),
      userVerifier(nullptr),
      threshold(kDefaultVerificationThreshold),
      oneShot(true),
      accepted(false) {}

VerificationFilter::~VerificationFilter() {
    delete userVerifier;
    delete worldVerifier;
    delete faceStore;
    delete identity;
}

CUnknown* VerificationFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return vision::createFilterInstance<VerificationFilter>(outer, phr);
}

HRESULT VerificationFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IFaceVerificator) return GetInterface(static_cast<IFaceVerificator*>(this), ppv);
    return MultiPinTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

// ---- IFaceVerificator ----

HRESULT VerificationFilter::SetCallback(VerificationListener* newListener) {
    if (listener) listener->verificator = nullptr;
    listener = newListener;
    if (listener) listener->verificator = this;
    return S_OK;
}

void VerificationFilter::deleteModels() {
    delete faceStore;
    faceStore = nullptr;
    // The user verifier points into the world verifier's mixture: it goes first.
    delete userVerifier;
    userVerifier = nullptr;
    delete worldVerifier;
    worldVerifier = nullptr;
}

HRESULT VerificationFilter::SetModels(const std::string& userModel, const std::string& worldModel) {
    CAutoLock l(&verificationLock);
    deleteModels();
    accepted = false;
    vision::FaceVerif_GmmDCTmod2* world = nullptr;
    vision::FaceVerif_MapGmmDCTmod2* user = nullptr;
    // A lock screen must not end because of a model file: a model that cannot be read, or a user
    // model that does not fit the world model, leaves the filter unconfigured.
    const bool loaded = vision::runRecoverable([&] {
        world = new vision::FaceVerif_GmmDCTmod2(worldModel.c_str(), 0);
        user = new vision::FaceVerif_MapGmmDCTmod2(userModel.c_str(), world, 0);
    });
    if (!loaded) {
        delete user;
        delete world;
        vision::warning("VerificationFilter: the models \"%s\" and \"%s\" cannot be used; faces are not verified",
                        userModel.c_str(), worldModel.c_str());
        return E_FAIL;
    }
    worldVerifier = world;
    userVerifier = user;
    return S_OK;
}

HRESULT VerificationFilter::SetThreshold(float t) {
    CAutoLock l(&verificationLock);
    threshold = t;
    return S_OK;
}

HRESULT VerificationFilter::SetMode(bool newOneShot) {
    CAutoLock l(&verificationLock);
    oneShot = newOneShot;
    accepted = false;
    return S_OK;
}

HRESULT VerificationFilter::SetFaceGate(float minDetectionScore, int minFrames) {
    CAutoLock l(&verificationLock);
    gate.minScore = minDetectionScore;
    gate.minFrames = minFrames;
    return S_OK;
}

// ---- Pins and media types ----

const PinFormat* VerificationFilter::pinFormats() const { return formats; }

// ---- Per frame ----

HRESULT VerificationFilter::Transform() {
    CAutoLock l(&verificationLock);

    RgbFrame frame = vision::frameInSample(inputs[0].sample, inputs[0].pin->CurrentMediaType(), false);
    // A sample shorter than its frame (or none) is not a frame: skip it.
    if (frame.data == nullptr || frame.format != RgbFrame::RGB24) return S_FALSE;

    unsigned count = 0;
    FaceInfo* faces = nullptr;
    BYTE* faceSample = nullptr;
    if (inputs[1].pin->IsConnected() && inputs[1].sample && SUCCEEDED(inputs[1].sample->GetPointer(&faceSample)) &&
        faceSample) {
        // A count that its sample cannot hold is a damaged sample: the frame counts as one without faces.
        if (!vision::unpackFaceInfo(faceSample, (size_t)inputs[1].sample->GetActualDataLength(), &count, &faces))
            count = 0;
    }

    auto newStore = [&] {
        return new vision::FrontalFaceData(identity, frame.width, frame.height, 1, "", false, false, 0, false);
    };
    // The store cuts faces out of frames of one size.
    if (faceStore && (faceStore->frameWidth != frame.width || faceStore->frameHeight != frame.height)) {
        gate.reset();  // boxes of another frame size hold no face of this one
        delete faceStore;
        faceStore = userVerifier ? newStore() : nullptr;
    }
    if (faceStore == nullptr && userVerifier) {
        faceStore = newStore();
        if (listener) listener->onReady();
    }

    // Every frame moves the gate on, scored or not: a face is held over consecutive frames.
    const bool isFace = gate.admit(count, faces);
    if (faceStore && (!oneShot || !accepted)) {
        if (isFace) {
            vision::Sequence* gray = new vision::Sequence(1, frame.width * frame.height);
            frame.toGrayFloat(gray->frames[0], false);
            float score = NAN;
            const bool scored = vision::runRecoverable([&] {
                faceStore->addFaceData(gray, &faces[0], nullptr);
                vision::real value = NAN;
                if (userVerifier->test(faceStore, &value)) score = value;
                faceStore->removeFaceData(0);
            });
            if (!scored) {
                // One face that cannot be cut out or scored (a damaged face record) costs its frame,
                // not the models: the frame counts as one without a face. The store may hold the
                // half-added sample, so it starts again.
                vision::warning("VerificationFilter: the face of this frame cannot be scored; the frame counts as one "
                                "without a face");
                delete faceStore;
                faceStore = newStore();
                if (listener) listener->onNoFace();
            } else if (score >= threshold) {  // NaN compares below and is rejected
                if (listener) listener->onAccepted(score, gray, frame.width, frame.height, faces);
                accepted = true;
            } else if (listener) {
                listener->onRejected(score, gray, frame.width, frame.height, faces);
            }
            delete gray;
        } else if (listener) {
            listener->onNoFace();
        }
    }
    delete[] faces;
    return S_OK;
}
