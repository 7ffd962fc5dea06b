#include "utilityfilters/highlighter/HighlightingFilter.h"

#include <algorithm>
#include <array>
#include <memory>

#include "visionlib/filter/VideoMediaType.h"

using vision::FaceInfo;
using vision::PinFormat;
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

// The pins at run time, one table per draw mode: both video pins carry the mode's pixel format. The
// output is drawn on a copy of the input frame, clipped to the output's size.
std::array<PinFormat, 3> pinsFor(const GUID* subtype) {
    return {PinFormat::video(L"Video In", subtype, PinFormat::ANY_ROWS, PinFormat::ANY_SIZE),
            PinFormat::faceInfo(L"FaceInfo In"),
            PinFormat::video(L"Video Out", subtype, PinFormat::TOP_DOWN, PinFormat::ANY_SIZE)};
}
const std::array<PinFormat, 3> rgb24Formats = pinsFor(&MEDIASUBTYPE_RGB24);
const std::array<PinFormat, 3> argb32Formats = pinsFor(&MEDIASUBTYPE_ARGB32);
// Another draw mode takes no video type.
const std::array<PinFormat, 3> noVideoFormats = pinsFor(nullptr);

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

const PinFormat* HighlightingFilter::pinFormats() const {
    if (drawMode == DRAW_RGB24) return rgb24Formats.data();
    if (drawMode == DRAW_ARGB32) return argb32Formats.data();
    return noVideoFormats.data();
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
