#include "visionlib/filter/VideoMediaType.h"

#include <cstdlib>
#include <cstring>

namespace vision {

const VIDEOINFOHEADER* videoInfoOf(const AM_MEDIA_TYPE* mt) {
    if (mt == nullptr || mt->formattype != FORMAT_VideoInfo || mt->pbFormat == nullptr ||
        mt->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
}

bool hasUsableFrameSize(const VIDEOINFOHEADER* vih) {
    if (vih == nullptr) return false;
    const LONG w = vih->bmiHeader.biWidth, h = vih->bmiHeader.biHeight;
    return w > 0 && w <= MAX_VIDEO_SIDE && h != 0 && h >= -MAX_VIDEO_SIDE && h <= MAX_VIDEO_SIDE;
}

bool fitsFrameSize(const VIDEOINFOHEADER* vih, LONG width, LONG height) {
    if (width == 0 || height == 0) return true;
    return vih->bmiHeader.biWidth == width && std::abs(vih->bmiHeader.biHeight) == height;
}

bool makeTopDownVideoType(CMediaType* mt, const GUID& subtype, int bytesPerPixel, LONG width, LONG height,
                          REFERENCE_TIME avgTimePerFrame) {
    const ULONG stride = (ULONG)((bytesPerPixel * width + 3) & ~3);
    const ULONG sampleSize = stride * (ULONG)height;

    VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (vih == nullptr) return false;
    std::memset(vih, 0, sizeof(VIDEOINFOHEADER));
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&subtype);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetSampleSize(sampleSize);
    mt->SetTemporalCompression(FALSE);

    vih->dwBitRate = avgTimePerFrame > 0 ? (DWORD)(8LL * sampleSize * UNITS / avgTimePerFrame) : 0;
    vih->dwBitErrorRate = 0;
    vih->AvgTimePerFrame = avgTimePerFrame;
    BITMAPINFOHEADER& bi = vih->bmiHeader;
    bi.biSize = sizeof(BITMAPINFOHEADER);
    bi.biWidth = width;
    bi.biHeight = -height;
    bi.biPlanes = 1;
    bi.biBitCount = (WORD)(8 * bytesPerPixel);
    bi.biCompression = BI_RGB;
    bi.biSizeImage = sampleSize;
    return true;
}

HRESULT makeTopDownCopyOfVideoType(CMediaType* mt, const GUID& subtype, const CMediaType& input) {
    const VIDEOINFOHEADER* vih = videoInfoOf(&input);
    if (vih == nullptr) return E_UNEXPECTED;
    BYTE* block = mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memcpy(block, vih, sizeof(VIDEOINFOHEADER));
    VIDEOINFOHEADER* out = reinterpret_cast<VIDEOINFOHEADER*>(block);
    out->bmiHeader.biHeight = -std::abs(out->bmiHeader.biHeight);
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&subtype);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetSampleSize(input.lSampleSize ? input.lSampleSize : GetBitmapSize(&out->bmiHeader));
    mt->SetTemporalCompression(FALSE);
    return S_OK;
}

HRESULT decideSingleBuffer(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG size) {
    request->cBuffers = 1;
    request->cbBuffer = size;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    // A smaller buffer would have the transform write past its end.
    if (actual.cBuffers != 1 || actual.cbBuffer < size) return E_FAIL;
    return S_OK;
}

HRESULT decideSingleFrameBuffer(CBasePin* pin, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    const VIDEOINFOHEADER* vih = videoInfoOf(&pin->CurrentMediaType());
    if (allocator == nullptr || request == nullptr || !hasUsableFrameSize(vih)) return E_UNEXPECTED;
    return decideSingleBuffer(allocator, request, (LONG)GetBitmapSize(&vih->bmiHeader));
}

RgbFrame frameInSample(IMediaSample* sample, const AM_MEDIA_TYPE& connectionType, bool outputBuffer) {
    RgbFrame none(nullptr, 0, 0, RgbFrame::RGB24, true);
    int format;
    if (connectionType.subtype == MEDIASUBTYPE_RGB24)
        format = RgbFrame::RGB24;
    else if (connectionType.subtype == MEDIASUBTYPE_RGB32 || connectionType.subtype == MEDIASUBTYPE_ARGB32)
        format = RgbFrame::RGB32;
    else
        return none;
    const VIDEOINFOHEADER* vih = videoInfoOf(&connectionType);
    BYTE* data = nullptr;
    if (sample == nullptr || !hasUsableFrameSize(vih) || FAILED(sample->GetPointer(&data)) || data == nullptr)
        return none;
    const LONG h = vih->bmiHeader.biHeight;
    RgbFrame frame(data, vih->bmiHeader.biWidth, std::abs(h), format, h < 0);
    const LONG available = outputBuffer ? sample->GetSize() : sample->GetActualDataLength();
    if (available < frame.frameSize()) return none;
    return frame;
}

}  // namespace vision
