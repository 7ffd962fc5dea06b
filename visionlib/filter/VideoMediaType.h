#pragma once
// Media-type helpers shared by the video filters: reading a proposed type's video format safely,
// building the one uncompressed type a filter offers, and the one-buffer allocator rule.
#include "platform/streams.h"
#include "visionlib/filter/RgbFrame.h"

namespace vision {

// Largest frame side a filter takes: keeps every row and frame size inside 32 bits.
constexpr LONG MAX_VIDEO_SIDE = 16384;

// The type's VIDEOINFOHEADER when its format type is FORMAT_VideoInfo and its block holds one
// whole; null otherwise.
const VIDEOINFOHEADER* videoInfoOf(const AM_MEDIA_TYPE* mt);

// Width above 0, height not 0, both sides within MAX_VIDEO_SIDE.
bool hasUsableFrameSize(const VIDEOINFOHEADER* vih);

// The frame is width x |height| pixels, or width or height is 0 (any size wanted).
bool fitsFrameSize(const VIDEOINFOHEADER* vih, LONG width, LONG height);

// Fills mt with an uncompressed top-down video type of width x height: the given subtype, fixed-size
// samples of height x stride bytes, a VIDEOINFOHEADER with the frame duration copied and the data
// rate that follows from it. False when memory runs out.
bool makeTopDownVideoType(CMediaType* mt, const GUID& subtype, int bytesPerPixel, LONG width, LONG height,
                          REFERENCE_TIME avgTimePerFrame);

// Fills mt with the input's type turned top-down: the subtype, the input's sample size (its bitmap size
// when it has none), no temporal compression, a copy of its VIDEOINFOHEADER with biHeight = -|biHeight|.
// E_UNEXPECTED when the input has no video format, E_OUTOFMEMORY when memory runs out.
HRESULT makeTopDownCopyOfVideoType(CMediaType* mt, const GUID& subtype, const CMediaType& input);

// Asks for one buffer of size bytes (alignment and prefix as proposed): the allocator's failure,
// E_FAIL unless exactly one buffer of at least that size was granted, else S_OK.
HRESULT decideSingleBuffer(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG size);

// Asks for one buffer of the connection format's bitmap size (alignment and prefix as proposed): the
// allocator's failure, E_FAIL unless exactly one buffer of at least that size was granted, else S_OK.
HRESULT decideSingleFrameBuffer(CBasePin* pin, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request);

// The frame in a sample, as the connection type describes it (RGB24, or RGB32 / ARGB32 as RGB32).
// Its data is null when the type has no usable frame or the sample is too short for the frame: for an
// output buffer the whole buffer counts, for an arriving sample its data length.
RgbFrame frameInSample(IMediaSample* sample, const AM_MEDIA_TYPE& connectionType, bool outputBuffer);

}  // namespace vision
