#include "detection/filter/DetectionFilter.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "detection/FaceTrackerAPI.h"
#include "detection/PatternDetect.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "visionlib/Message.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/RgbFrame.h"
#include "visionlib/filter/VideoMediaType.h"

using vision::FaceTrackerAPI;
using vision::FaceTrackingSettings;
using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;
using vision::PinFormat;
using vision::RgbFrame;

namespace {

const LONG FACE_SAMPLE_SIZE = vision::FACE_INFO_SAMPLE_SIZE;
// Both trackers scan with a 19 x 19 model window.
const int kModelSize = 19;

const AMOVIESETUP_MEDIATYPE videoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_MEDIATYPE faceTypes[] = {{&MEDIATYPE_FaceInfo, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {
    {L"Video In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
    {L"Video Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
    {L"Face info Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, faceTypes},
};

// The pins at run time: the video out is a top-down copy of the input frame.
const PinFormat formats[] = {
    PinFormat::video(L"Video In", &MEDIASUBTYPE_RGB24, PinFormat::ANY_ROWS, PinFormat::GIVEN_SIZE),
    PinFormat::video(L"Video Out", &MEDIASUBTYPE_RGB24, PinFormat::TOP_DOWN, PinFormat::SOURCE_SIZE,
                     PinFormat::COPY_OF_SOURCE),
    PinFormat::faceInfo(L"FaceInfo Out"),
};

// 1 frontal cascade file, 2 multi-view model directory.
bool pathFitsMode(const std::string& path, int mode) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return false;
    const bool directory = S_ISDIR(st.st_mode);
    return directory ? mode == 2 : mode == 1;
}

}  // namespace

const AMOVIESETUP_FILTER DetectionFilterSetup = {&CLSID_DetectionFilter, L"Strelmont Face Detector Filter",
                                                 MERIT_DO_NOT_USE, 3, pins};

DetectionFilter::DetectionFilter(const TCHAR* name, LPUNKNOWN outer)
    : MultiPinTransformFilter(name, outer, CLSID_DetectionFilter, 1, 2),
      mode(0),
      threshold(0.0f),
      normalised(false),
      listener(nullptr),
      tracker(nullptr),
      liveSettings(nullptr),
      pendingSettings(nullptr),
      maxFaces(FaceTrackingSettings::MAX_FACES_LIMIT),
      enabled(true),
      rebuild(false),
      inputWidth(0),
      inputHeight(0),
      modelRefused(false),
      pathReported(false),
      trackerWidth(0),
      trackerHeight(0),
      tooSmallWidth(0),
      tooSmallHeight(0) {}

DetectionFilter::~DetectionFilter() {
    if (listener && tracker) listener->onTrackerReset();
    delete tracker;
    delete liveSettings;
    delete pendingSettings;
}

CUnknown* DetectionFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return vision::createFilterInstance<DetectionFilter>(outer, phr);
}

HRESULT DetectionFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IFaceDetector) return GetInterface(static_cast<IFaceDetector*>(this), ppv);
    return MultiPinTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

// ---- IFaceDetector ----

HRESULT DetectionFilter::SetListener(FaceDetectionListener* newListener) {
    if (listener) listener->detector = nullptr;
    listener = newListener;
    if (listener) listener->detector = this;
    return S_OK;
}

HRESULT DetectionFilter::SetModel(int newMode, const char* path, float newThreshold, bool newNormalised) {
    CAutoLock l(&settingsLock);
    mode = newMode;
    modelPath = path ? path : "";
    threshold = newThreshold;
    normalised = newNormalised;
    // A new model may well be usable: try (and report) again.
    modelRefused = false;
    pathReported = false;
    return S_OK;
}

HRESULT DetectionFilter::SetEnabled(bool on) {
    CAutoLock l(&settingsLock);
    if (tracker) tracker->setEnabled(on);
    enabled = on;
    return S_OK;
}

HRESULT DetectionFilter::SetSettings(FaceTrackingSettings* settings) {
    CAutoLock l(&settingsLock);
    if (tracker) rebuild = true;
    delete pendingSettings;
    pendingSettings = settings;
    return S_OK;
}

HRESULT DetectionFilter::GetSettings(FaceTrackingSettings** settings) {
    if (settings == nullptr) return E_POINTER;
    CAutoLock l(&settingsLock);
    *settings = liveSettings;
    return S_OK;
}

HRESULT DetectionFilter::SetMaxFaces(int count) {
    CAutoLock l(&settingsLock);
    if (tracker) rebuild = true;
    maxFaces = FaceTrackingSettings::clampMaxFaces(count);
    return S_OK;
}

HRESULT DetectionFilter::GetMotion(int* motion) {
    if (motion == nullptr) return E_POINTER;
    CAutoLock l(&settingsLock);
    *motion = tracker ? tracker->n_moving : 0;
    return S_OK;
}

HRESULT DetectionFilter::SetInputResolution(int width, int height) {
    CAutoLock l(&settingsLock);
    inputWidth = width;
    inputHeight = height;
    return S_OK;
}

// ---- Pins and media types ----

const PinFormat* DetectionFilter::pinFormats() const { return formats; }

vision::FrameSize DetectionFilter::givenSize(unsigned pin) {
    CAutoLock l(&settingsLock);
    return {inputWidth, inputHeight};
}

// ---- Per frame ----

void DetectionFilter::resetTracker(bool keepSettings) {
    if (listener) listener->onTrackerReset();
    delete tracker;
    tracker = nullptr;
    if (keepSettings && pendingSettings == nullptr)
        pendingSettings = liveSettings;
    else
        delete liveSettings;
    liveSettings = nullptr;
    rebuild = false;
}

bool DetectionFilter::buildTracker(int width, int height) {
    FaceTrackingSettings* settings = new FaceTrackingSettings(maxFaces, width, height);
    // The handed-over object's own maximum number of faces replaces the filter's.
    if (pendingSettings) settings->copyFrom(*pendingSettings);
    // A frame too small for the windows says nothing about the model: pass frames through until
    // the frame size or the settings change, and keep the handed-over values for then.
    int smallest = 0, largest = 0;
    if (!vision::PatternDetect::windowRange(width, height, kModelSize, kModelSize, settings->min_size.value,
                                            settings->max_size.value, &smallest, &largest)) {
        if (width != tooSmallWidth || height != tooSmallHeight)
            vision::warning("DetectionFilter: frames of %dx%d cannot hold a face window of %d pixels; frames pass "
                            "through", width, height, smallest);
        tooSmallWidth = width;
        tooSmallHeight = height;
        delete settings;
        return false;
    }
    tooSmallWidth = tooSmallHeight = 0;
    FaceTrackerAPI* made = nullptr;
    const bool built = vision::runRecoverable([&] {
        if (mode == 1)
            made = new vision::FaceTrackerAPI_MCTMSMFF_2(modelPath.c_str(), threshold, settings, false);
        else
            made = new vision::FaceTrackerAPI_MCTMSMFMV_1(modelPath.c_str(), threshold, normalised, settings, false);
    });
    if (!built) {
        // The library has printed why; the handed-over values wait for a usable model.
        delete settings;
        modelRefused = true;
        vision::warning("DetectionFilter: the face model \"%s\" cannot be used; frames pass through",
                        modelPath.c_str());
        return false;
    }
    delete pendingSettings;
    pendingSettings = nullptr;
    liveSettings = settings;
    tracker = made;
    trackerWidth = width;
    trackerHeight = height;
    if (listener) listener->onTrackerCreated(width, height);
    return true;
}

HRESULT DetectionFilter::Transform() {
    CAutoLock l(&settingsLock);

    RgbFrame input = vision::frameInSample(inputs[0].sample, inputs[0].pin->CurrentMediaType(), false);
    // A sample shorter than its frame (or none) is not a frame: skip it.
    if (input.data == nullptr || input.format != RgbFrame::RGB24) return S_FALSE;

    RgbFrame video(nullptr, 0, 0, RgbFrame::RGB24, true);
    if (outputs[0].sample)
        video = vision::frameInSample(outputs[0].sample, outputs[0].pin->CurrentMediaType(), true);
    BYTE* faceSample = nullptr;
    if (outputs[1].sample && SUCCEEDED(outputs[1].sample->GetPointer(&faceSample)) &&
        outputs[1].sample->GetSize() >= FACE_SAMPLE_SIZE)
        outputs[1].sample->SetActualDataLength(FACE_SAMPLE_SIZE);
    else
        faceSample = nullptr;

    auto copyVideo = [&] {
        if (video.data) input.copyTo(video);
    };
    auto zeroFaces = [&] {
        if (faceSample) std::memset(faceSample, 0, FACE_SAMPLE_SIZE);
    };
    auto passThrough = [&] {
        copyVideo();
        zeroFaces();
        return S_OK;
    };

    if (tracker && (rebuild || input.width != trackerWidth || input.height != trackerHeight))
        resetTracker(!rebuild);  // a new frame size keeps the values the tracker ran with

    if (tracker == nullptr && mode != 0) {
        if (modelRefused) return passThrough();
        if (!pathFitsMode(modelPath, mode)) {
            // Looked up again on every frame: the model may appear later.
            if (!pathReported)
                vision::warning("DetectionFilter: no face model of mode %d at \"%s\"; frames pass through", mode,
                                modelPath.c_str());
            pathReported = true;
            return passThrough();
        }
        // Once built, the tracker writes this frame's outputs below.
        if (!buildTracker(input.width, input.height)) return passThrough();
    }

    if (tracker == nullptr || !enabled) {
        if (listener) listener->onFrame(false);
        zeroFaces();
    } else {
        if (listener) listener->onFrame(true);
        const bool ran = vision::runRecoverable([&] {
            if (input.topDown)
                tracker->processImageBGR(input.data, input.rowSize());
            else
                tracker->processReverseImageBGR(input.data, input.rowSize());
        });
        if (!ran) {
            // The tracker cannot go on with this model: pass frames through from now on.
            resetTracker(false);
            modelRefused = true;
            return passThrough();
        }
        const int n = tracker->n_faces;
        if (faceSample) {
            if (n < 1)
                zeroFaces();
            else
                vision::packFaceInfo((unsigned)n, tracker->faces, faceSample, FACE_SAMPLE_SIZE);
        }
        if (listener) {
            if (n < 1)
                listener->onNoFace();
            else
                listener->onFaces(n, tracker->faces, &input);
        }
    }
    copyVideo();
    return S_OK;
}
