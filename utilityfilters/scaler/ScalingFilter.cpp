#include "utilityfilters/scaler/ScalingFilter.h"

#include "visionlib/filter/VideoMediaType.h"

using vision::PinFormat;
using vision::RgbFrame;

namespace {

const AMOVIESETUP_MEDIATYPE videoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN pins[] = {
    {L"Video In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
    {L"Video out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
};

// The pins at run time: both take the size given through ITamsel, or any.
const PinFormat formats[] = {
    PinFormat::video(L"Video In", &MEDIASUBTYPE_RGB24, PinFormat::ANY_ROWS, PinFormat::GIVEN_SIZE),
    PinFormat::video(L"Video Out", &MEDIASUBTYPE_RGB24, PinFormat::TOP_DOWN, PinFormat::GIVEN_SIZE),
};

}  // namespace

const AMOVIESETUP_FILTER ScalingFilterSetup = {&CLSID_ScalingFilter, L"Strelmont Image Scaler Filter",
                                               MERIT_DO_NOT_USE, 2, pins};

ScalingFilter::ScalingFilter(const TCHAR* name, LPUNKNOWN outer)
    : MultiPinTransformFilter(name, outer, CLSID_ScalingFilter, 1, 1),
      inputWidth(0),
      inputHeight(0),
      outputWidth(0),
      outputHeight(0) {
    scaler.reset();
}

ScalingFilter::~ScalingFilter() {}

CUnknown* ScalingFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return vision::createFilterInstance<ScalingFilter>(outer, phr);
}

HRESULT ScalingFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_ITamsel) return GetInterface(static_cast<ITamsel*>(this), ppv);
    return MultiPinTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT ScalingFilter::SetInputResolution(unsigned width, unsigned height) {
    CAutoLock l(&lock);
    inputWidth = width;
    inputHeight = height;
    return S_OK;
}

HRESULT ScalingFilter::SetOutputResolution(unsigned width, unsigned height) {
    CAutoLock l(&lock);
    outputWidth = width;
    outputHeight = height;
    return S_OK;
}

const PinFormat* ScalingFilter::pinFormats() const { return formats; }

vision::FrameSize ScalingFilter::givenSize(unsigned pin) {
    // Without the lock: the checks and the offer run inside graph building, on the program's thread.
    return pin == 0 ? vision::FrameSize{(LONG)inputWidth, (LONG)inputHeight}
                    : vision::FrameSize{(LONG)outputWidth, (LONG)outputHeight};
}

HRESULT ScalingFilter::Transform() {
    CAutoLock l(&lock);
    IMediaSample* inSample = inputs[0].sample;
    if (inSample == nullptr) return S_FALSE;
    RgbFrame in = vision::frameInSample(inSample, inputs[0].pin->CurrentMediaType(), false);
    // A sample shorter than its frame is skipped rather than read past its end.
    if (in.data == nullptr) return S_FALSE;
    if (outputs[0].sample) {
        RgbFrame out = vision::frameInSample(outputs[0].sample, outputs[0].pin->CurrentMediaType(), true);
        if (out.data == nullptr) return S_FALSE;
        static const unsigned char black[4] = {0, 0, 0, 255};
        scaler.scale(in, out, black);
    }
    return S_OK;
}
