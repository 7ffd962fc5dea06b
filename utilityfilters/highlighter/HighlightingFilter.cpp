#include "utilityfilters/highlighter/HighlightingFilter.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "visionlib/filter/VideoMediaType.h"

using vision::FaceInfo;
using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;
using vision::RgbFrame;

namespace {


const AMOVIESETUP_MEDIATYPE videoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
                                            {&MEDIATYPE_Video, &MEDIASUBTYPE_ARGB32}};
const AMOVIESETUP_MEDIATYPE faceInfoTypes[] = {{&MEDIATYPE_FaceInfo, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {
    {L"Video In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, videoTypes},
    {L"Face info In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, faceInfoTypes},
    {L"Video Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, videoTypes},
};

// Subtype and bytes per pixel of a draw mode; null for a mode that takes no type.
const GUID* subtypeOf(int32_t mode, int* bytesPerPixel) {
    if (mode == HighlightingFilter::DRAW_RGB24) {
        if (bytesPerPixel) *bytesPerPixel = 3;
        return &MEDIASUBTYPE_RGB24;
    }
    if (mode == HighlightingFilter::DRAW_ARGB32) {
        if (bytesPerPixel) *bytesPerPixel = 4;
        return &MEDIASUBTYPE_ARGB32;
    }
    return nullptr;
}

// Coordinates beyond the frame are pulled in to just outside it: an axis-aligned edge keeps exactly
// its visible pixels, and no coordinate overflows on the way to the line drawer.
long long clampOutside(long long v, int size) { return std::max(-1LL, std::min(v, (long long)size)); }

}  // namespace

const AMOVIESETUP_FILTER HighlightingFilterSetup = {&CLSID_HighlightingFilter, L"Strelmont Face Highlighter Filter",
                                                    MERIT_DO_NOT_USE, 3, pins};

HighlightingFilter::HighlightingFilter(const TCHAR* name, LPUNKNOWN outer)
    : MultiPinTransformFilter(name, outer, CLSID_HighlightingFilter, 2, 1), drawMode(DRAW_RGB24), painter(nullptr) {}

HighlightingFilter::~HighlightingFilter() {}

CUnknown* HighlightingFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return vision::createFilterInstance<HighlightingFilter>(outer, phr);
}

HRESULT HighlightingFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IHighlighting) return GetInterface(static_cast<IHighlighting*>(this), ppv);
    return MultiPinTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT HighlightingFilter::SetDrawMode(int mode) {
    drawMode = mode;
    return S_OK;
}

HRESULT HighlightingFilter::GetDrawMode(int* mode) {
    if (mode == nullptr) return E_POINTER;
    *mode = drawMode;
    return S_OK;
}

HRESULT HighlightingFilter::SetPainter(HighlightPainter* newPainter) {
    if (painter) painter->owner = nullptr;
    painter = newPainter;
    if (painter) painter->owner = this;
    return S_OK;
}

bool HighlightingFilter::CreatePins() {
    HRESULT hr = S_OK;
    inputs[0].pin = new MultiPinInputPin(nullptr, this, &hr, L"Video In");
    inputs[1].pin = new MultiPinInputPin(nullptr, this, &hr, L"FaceInfo In");
    outputs[0].pin = new MultiPinOutputPin(nullptr, this, &hr, L"Video Out");
    return SUCCEEDED(hr);
}

HRESULT HighlightingFilter::CheckInputType(MultiPinInputPin* pin, const CMediaType* mt) {
    if (mt == nullptr) return E_POINTER;
    if (pin == inputs[0].pin) {
        const GUID* subtype = subtypeOf(drawMode, nullptr);
        if (subtype == nullptr || mt->majortype != MEDIATYPE_Video || mt->subtype != *subtype)
            return VFW_E_TYPE_NOT_ACCEPTED;
        // The frame is read by the size in the format block, so the block must hold a usable one.
        if (!vision::hasUsableFrameSize(vision::videoInfoOf(mt))) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    if (pin == inputs[1].pin && mt->majortype == MEDIATYPE_FaceInfo) return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT HighlightingFilter::CheckOutputType(MultiPinOutputPin* pin, const CMediaType* mt) {
    if (mt == nullptr) return E_POINTER;
    const GUID* subtype = subtypeOf(drawMode, nullptr);
    if (subtype == nullptr || mt->majortype != MEDIATYPE_Video || mt->subtype != *subtype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const VIDEOINFOHEADER* vih = vision::videoInfoOf(mt);
    if (vih == nullptr) return E_INVALIDARG;
    if (vih->bmiHeader.biHeight > 0 || !vision::hasUsableFrameSize(vih)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT HighlightingFilter::GetMediaType(MultiPinOutputPin* pin, int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (!inputs[0].pin->IsConnected()) return E_UNEXPECTED;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    int bytesPerPixel = 0;
    const GUID* subtype = subtypeOf(drawMode, &bytesPerPixel);
    const VIDEOINFOHEADER* in = vision::videoInfoOf(&inputs[0].pin->CurrentMediaType());
    if (subtype == nullptr || in == nullptr) return VFW_S_NO_MORE_ITEMS;
    return vision::makeTopDownVideoType(mt, *subtype, bytesPerPixel, in->bmiHeader.biWidth,
                                        std::abs(in->bmiHeader.biHeight), in->AvgTimePerFrame)
               ? S_OK
               : E_OUTOFMEMORY;
}

HRESULT HighlightingFilter::DecideBufferSize(MultiPinOutputPin* pin, IMemAllocator* allocator,
                                             ALLOCATOR_PROPERTIES* request) {
    return vision::decideSingleFrameBuffer(pin, allocator, request);
}

void HighlightingFilter::drawFaceBox(RgbFrame& out, const FaceInfo& face) {
    if (face.bbx_width <= 0 || face.bbx_height <= 0) return;
    const long long left = face.bbx_x, top = face.bbx_y;
    const long long right = left + face.bbx_width - 1, bottom = top + face.bbx_height - 1;
    if (right < 0 || bottom < 0 || left >= out.width || top >= out.height) return;
    const long long x0 = clampOutside(left, out.width), x1 = clampOutside(right, out.width);
    const long long y0 = clampOutside(top, out.height), y1 = clampOutside(bottom, out.height);
    static const PixelBytes red(0xFFFF0000u);
    out.drawRect(vision::DrawRect((double)x0, (double)y0, (double)(x1 - x0 + 1), (double)(y1 - y0 + 1)), red.bytes);
}

HRESULT HighlightingFilter::Transform() {
    CAutoLock l(&lock);
    // Face information alone (no video connected, or its sample missing) has nothing to show.
    RgbFrame in = vision::frameInSample(inputs[0].sample, inputs[0].pin->CurrentMediaType(), false);
    if (in.data == nullptr) return S_FALSE;

    unsigned count = 0;
    FaceInfo* faces = nullptr;
    IMediaSample* info = inputs[1].sample;
    BYTE* infoData = nullptr;
    if (inputs[1].pin->IsConnected() && info && SUCCEEDED(info->GetPointer(&infoData)) && infoData) {
        const LONG length = info->GetActualDataLength();
        // The count is bounded by the records the sample's length holds.
        if (!vision::unpackFaceInfo(infoData, length > 0 ? (size_t)length : 0, &count, &faces)) count = 0;
    }
    std::unique_ptr<FaceInfo[]> ownFaces(count ? faces : nullptr);
    if (count == 0) faces = nullptr;

    if (outputs[0].sample) {
        RgbFrame out = vision::frameInSample(outputs[0].sample, outputs[0].pin->CurrentMediaType(), true);
        if (out.data == nullptr) return S_FALSE;
        if (!(painter && painter->copyFrame(&out, &in))) in.copyTo(out);
        if (!(painter && painter->paintFaces(&out, &in, count, faces)))
            for (unsigned i = 0; i < count; i++) drawFaceBox(out, faces[i]);
    }
    return S_OK;
}
