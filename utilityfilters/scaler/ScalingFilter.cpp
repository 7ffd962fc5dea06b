#include "utilityfilters/scaler/ScalingFilter.h"

#include <cstdlib>

#include "visionlib/filter/VideoMediaType.h"

using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;
using vision::RgbFrame;

namespace {

const AMOVIESETUP_MEDIATYPE videoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN pins[] = {
    {L"Video In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
    {L"Video out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, videoTypes},
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

bool ScalingFilter::CreatePins() {
    HRESULT hr = S_OK;
    inputs[0].pin = new MultiPinInputPin(nullptr, this, &hr, L"Video In");
    outputs[0].pin = new MultiPinOutputPin(nullptr, this, &hr, L"Video Out");
    return SUCCEEDED(hr);
}

HRESULT ScalingFilter::CheckInputType(MultiPinInputPin* pin, const CMediaType* mt) {
    if (pin != inputs[0].pin || !vision::isRgb24Video(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    const VIDEOINFOHEADER* vih = vision::videoInfoOf(mt);
    if (vih == nullptr) return E_INVALIDARG;
    if (!vision::hasUsableFrameSize(vih)) return VFW_E_TYPE_NOT_ACCEPTED;
    return vision::fitsFrameSize(vih, (LONG)inputWidth, (LONG)inputHeight) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ScalingFilter::CheckOutputType(MultiPinOutputPin* pin, const CMediaType* mt) {
    if (!vision::isRgb24Video(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    const VIDEOINFOHEADER* vih = vision::videoInfoOf(mt);
    if (vih == nullptr) return E_INVALIDARG;
    if (vih->bmiHeader.biHeight > 0 || !vision::hasUsableFrameSize(vih)) return VFW_E_TYPE_NOT_ACCEPTED;
    return vision::fitsFrameSize(vih, (LONG)outputWidth, (LONG)outputHeight) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ScalingFilter::GetMediaType(MultiPinOutputPin* pin, int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (!inputs[0].pin->IsConnected()) return E_UNEXPECTED;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    const VIDEOINFOHEADER* in = vision::videoInfoOf(&inputs[0].pin->CurrentMediaType());
    if (in == nullptr) return E_UNEXPECTED;
    LONG w = in->bmiHeader.biWidth, h = std::abs(in->bmiHeader.biHeight);
    if (outputWidth != 0 && outputHeight != 0) {
        if (outputWidth > (unsigned)vision::MAX_VIDEO_SIDE || outputHeight > (unsigned)vision::MAX_VIDEO_SIDE)
            return VFW_S_NO_MORE_ITEMS;
        w = (LONG)outputWidth;
        h = (LONG)outputHeight;
    }
    return vision::makeTopDownVideoType(mt, MEDIASUBTYPE_RGB24, 3, w, h, in->AvgTimePerFrame) ? S_OK
                                                                                              : E_OUTOFMEMORY;
}

HRESULT ScalingFilter::DecideBufferSize(MultiPinOutputPin* pin, IMemAllocator* allocator,
                                        ALLOCATOR_PROPERTIES* request) {
    return vision::decideSingleFrameBuffer(pin, allocator, request);
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
