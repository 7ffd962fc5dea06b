#include "visionlib/filter/MultiPinTransformFilter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/VideoMediaType.h"

namespace vision {

// ---- Input pin ----

MultiPinInputPin::MultiPinInputPin(const TCHAR* objectName, MultiPinTransformFilter* filter_, HRESULT* phr,
                                   LPCWSTR pinName)
    : CBaseInputPin(objectName, filter_, filter_->filterLockOf(), phr, pinName), filter(filter_) {}

HRESULT MultiPinInputPin::CheckMediaType(const CMediaType* mt) { return filter->CheckInputType(this, mt); }

HRESULT MultiPinInputPin::SetMediaType(const CMediaType* mt) {
    HRESULT hr = CBaseInputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    filter->SetMediaType(this, mt);
    return S_OK;
}

HRESULT MultiPinInputPin::CheckConnect(IPin* pin) {
    HRESULT hr = filter->CheckConnect(this, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT MultiPinInputPin::BreakConnect() {
    filter->BreakConnect(this);
    return CBaseInputPin::BreakConnect();
}

HRESULT MultiPinInputPin::CompleteConnect(IPin* receivePin) {
    filter->CompleteConnect(this, receivePin);
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT MultiPinInputPin::Receive(IMediaSample* sample) {
    CAutoLock lock(filter->receiveLockOf());
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return filter->receive(sample, this);
}

HRESULT MultiPinInputPin::EndOfStream() {
    CAutoLock lock(filter->receiveLockOf());
    HRESULT hr = CheckStreaming();
    if (hr == S_OK) filter->deliverEndOfStream(this);
    return hr;
}

HRESULT MultiPinInputPin::BeginFlush() {
    {
        CAutoLock lock(filter->filterLockOf());
        HRESULT hr = CBaseInputPin::BeginFlush();
        if (FAILED(hr)) return hr;
        filter->deliverBeginFlush(this);
    }
    // Downstream is flushing now, so a streaming thread inside this filter gets out; then the
    // sample this input holds can go (the other lock is not held while waiting for this one).
    filter->releaseHeldSamples(this);
    return S_OK;
}

HRESULT MultiPinInputPin::EndFlush() {
    CAutoLock lock(filter->filterLockOf());
    HRESULT hr = CBaseInputPin::EndFlush();
    if (FAILED(hr)) return hr;
    filter->deliverEndFlush(this);
    return S_OK;
}

HRESULT MultiPinInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBaseInputPin::NewSegment(start, stop, rate);
    filter->deliverNewSegment(this, start, stop, rate);
    return S_OK;
}

// ---- Output pin ----

MultiPinOutputPin::MultiPinOutputPin(const TCHAR* objectName, MultiPinTransformFilter* filter_, HRESULT* phr,
                                     LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter_, filter_->filterLockOf(), phr, pinName), filter(filter_), position(nullptr) {}

MultiPinOutputPin::~MultiPinOutputPin() {
    if (position) position->Release();
}

HRESULT MultiPinOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
        if (position == nullptr) {
            HRESULT hr = CreatePosPassThru(GetOwner(), FALSE, filter->sourceInputOf(this), &position);
            if (FAILED(hr)) {
                position = nullptr;
                return hr;
            }
        }
        return position->QueryInterface(riid, ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT MultiPinOutputPin::CheckMediaType(const CMediaType* mt) {
    MultiPinInputPin* source = filter->sourceInputOf(this);
    if (source == nullptr || !source->IsConnected()) return E_UNEXPECTED;
    return filter->CheckOutputType(this, mt);
}

HRESULT MultiPinOutputPin::SetMediaType(const CMediaType* mt) {
    HRESULT hr = CBaseOutputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    filter->SetMediaType(this, mt);
    return S_OK;
}

HRESULT MultiPinOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = filter->CheckConnect(this, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT MultiPinOutputPin::BreakConnect() {
    filter->BreakConnect(this);
    return CBaseOutputPin::BreakConnect();
}

HRESULT MultiPinOutputPin::CompleteConnect(IPin* receivePin) {
    filter->CompleteConnect(this, receivePin);
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT MultiPinOutputPin::GetMediaType(int pos, CMediaType* mt) {
    if (filter->sourceInputOf(this) == nullptr) return VFW_S_NO_MORE_ITEMS;
    return filter->GetMediaType(this, pos, mt);
}

HRESULT MultiPinOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    return filter->DecideBufferSize(this, allocator, request);
}

HRESULT MultiPinOutputPin::Notify(IBaseFilter* self, Quality q) { return E_NOTIMPL; }

HRESULT MultiPinOutputPin::deliver(IMediaSample* sample) {
    if (!IsConnected() || m_pInputPin == nullptr) return S_OK;
    return m_pInputPin->Receive(sample);
}

// ---- Filter ----

MultiPinTransformFilter::MultiPinTransformFilter(const TCHAR* name, LPUNKNOWN outer, REFCLSID clsid,
                                                 unsigned inputCount_, unsigned outputCount_)
    : CBaseFilter(name, outer, &filterLock, clsid),
      sampleSkipped(false),
      inputCount(inputCount_ ? inputCount_ : 1),
      outputCount(outputCount_),
      inputs(nullptr),
      outputs(nullptr) {
    inputs = new InputSlot[inputCount]();
    outputs = outputCount ? new OutputSlot[outputCount]() : nullptr;
}

MultiPinTransformFilter::~MultiPinTransformFilter() {
    releaseOutputSamples();
    for (unsigned i = 0; i < inputCount; i++) {
        if (inputs[i].sample) inputs[i].sample->Release();
        delete inputs[i].pin;
    }
    delete[] inputs;
    for (unsigned i = 0; i < outputCount; i++) delete outputs[i].pin;
    delete[] outputs;
}

int MultiPinTransformFilter::GetPinCount() { return (int)(inputCount + outputCount); }

// ---- Pin formats ----

bool MultiPinTransformFilter::CreatePins() {
    const PinFormat* formats = pinFormats();
    if (formats == nullptr) return false;
    HRESULT hr = S_OK;
    for (unsigned i = 0; i < inputCount; i++) inputs[i].pin = new MultiPinInputPin(nullptr, this, &hr, formats[i].name);
    for (unsigned o = 0; o < outputCount; o++)
        outputs[o].pin = new MultiPinOutputPin(nullptr, this, &hr, formats[inputCount + o].name);
    return SUCCEEDED(hr);
}

int MultiPinTransformFilter::indexOfPin(const CBasePin* pin) const {
    if (pin == nullptr) return -1;
    for (unsigned i = 0; i < inputCount; i++)
        if (inputs[i].pin == pin) return (int)i;
    for (unsigned o = 0; o < outputCount; o++)
        if (outputs[o].pin == pin) return (int)(inputCount + o);
    return -1;
}

MultiPinInputPin* MultiPinTransformFilter::sourceOfOutput(unsigned index) const {
    const unsigned source = outputs[index - inputCount].source;
    return source < inputCount ? inputs[source].pin : nullptr;
}

HRESULT MultiPinTransformFilter::checkPinType(int index, const CMediaType* mt) {
    const PinFormat* formats = pinFormats();
    if (formats == nullptr || index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    if (mt == nullptr) return E_POINTER;
    const PinFormat& format = formats[index];
    if (format.stream == PinFormat::FACE_INFO) return mt->majortype == MEDIATYPE_FaceInfo ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;

    if (format.subtype == nullptr || mt->majortype != MEDIATYPE_Video || mt->subtype != *format.subtype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (mt->formattype != FORMAT_VideoInfo) return E_INVALIDARG;
    // A short block or a frame of no size would have every later step read past the buffers.
    const VIDEOINFOHEADER* vih = videoInfoOf(mt);
    if (!hasUsableFrameSize(vih)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (format.rows == PinFormat::TOP_DOWN && vih->bmiHeader.biHeight > 0) return VFW_E_TYPE_NOT_ACCEPTED;
    if (format.size == PinFormat::GIVEN_SIZE) {
        const FrameSize given = givenSize((unsigned)index);
        if (!fitsFrameSize(vih, given.width, given.height)) return VFW_E_TYPE_NOT_ACCEPTED;
    } else if (format.size == PinFormat::SOURCE_SIZE && (unsigned)index >= inputCount) {
        // Another size would be a different picture; checked once the source has a size.
        MultiPinInputPin* source = sourceOfOutput((unsigned)index);
        const VIDEOINFOHEADER* in = source ? videoInfoOf(&source->CurrentMediaType()) : nullptr;
        if (in && !fitsFrameSize(vih, in->bmiHeader.biWidth, std::abs(in->bmiHeader.biHeight)))
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT MultiPinTransformFilter::CheckInputType(MultiPinInputPin* pin, const CMediaType* mt) {
    const int index = indexOfPin(pin);
    return checkPinType(index < (int)inputCount ? index : -1, mt);
}

HRESULT MultiPinTransformFilter::CheckOutputType(MultiPinOutputPin* pin, const CMediaType* mt) {
    const int index = indexOfPin(pin);
    return checkPinType(index >= (int)inputCount ? index : -1, mt);
}

HRESULT MultiPinTransformFilter::GetMediaType(MultiPinOutputPin* pin, int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (mt == nullptr) return E_POINTER;
    const PinFormat* formats = pinFormats();
    const int index = indexOfPin(pin);
    if (formats == nullptr || index < (int)inputCount) return E_INVALIDARG;
    const PinFormat& format = formats[index];

    if (format.stream == PinFormat::FACE_INFO) {
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        if (mt->majortype == MEDIATYPE_FaceInfo) return S_OK;
        mt->ResetFormatBuffer();
        mt->SetFormatType(&FORMAT_FaceInfo);
        mt->SetType(&MEDIATYPE_FaceInfo);
        mt->SetSubtype(&GUID_NULL);
        mt->SetSampleSize(FACE_INFO_SAMPLE_SIZE);
        mt->SetTemporalCompression(FALSE);
        return S_OK;
    }

    MultiPinInputPin* source = sourceOfOutput((unsigned)index);
    if (source == nullptr || !source->IsConnected()) return E_UNEXPECTED;
    if (position > 0 || format.subtype == nullptr) return VFW_S_NO_MORE_ITEMS;
    if (format.offer == PinFormat::COPY_OF_SOURCE)
        return makeTopDownCopyOfVideoType(mt, *format.subtype, source->CurrentMediaType());

    const VIDEOINFOHEADER* in = videoInfoOf(&source->CurrentMediaType());
    if (in == nullptr) return E_UNEXPECTED;
    LONG width = in->bmiHeader.biWidth, height = std::abs(in->bmiHeader.biHeight);
    if (format.size == PinFormat::GIVEN_SIZE) {
        const FrameSize given = givenSize((unsigned)index);
        if (given.width != 0 && given.height != 0) {
            width = given.width;
            height = given.height;
        }
    }
    const int bytesPerPixel = *format.subtype == MEDIASUBTYPE_RGB24 ? 3 : 4;
    if (width <= 0 || width > MAX_VIDEO_SIDE || height <= 0 || height > MAX_VIDEO_SIDE) return VFW_S_NO_MORE_ITEMS;
    return makeTopDownVideoType(mt, *format.subtype, bytesPerPixel, width, height, in->AvgTimePerFrame)
               ? S_OK
               : E_OUTOFMEMORY;
}

HRESULT MultiPinTransformFilter::DecideBufferSize(MultiPinOutputPin* pin, IMemAllocator* allocator,
                                                  ALLOCATOR_PROPERTIES* request) {
    if (allocator == nullptr || request == nullptr) return E_POINTER;
    const PinFormat* formats = pinFormats();
    const int index = indexOfPin(pin);
    if (formats == nullptr || index < (int)inputCount) return E_UNEXPECTED;
    if (formats[index].stream == PinFormat::FACE_INFO) return decideSingleBuffer(allocator, request, FACE_INFO_SAMPLE_SIZE);
    MultiPinInputPin* source = sourceOfOutput((unsigned)index);
    if (source == nullptr || !source->IsConnected()) return E_UNEXPECTED;
    // A copy of the source frame is the source's size, whether or not this pin is connected yet.
    CBasePin* sized = formats[index].size == PinFormat::SOURCE_SIZE ? static_cast<CBasePin*>(source) : pin;
    return decideSingleFrameBuffer(sized, allocator, request);
}

CBasePin* MultiPinTransformFilter::GetPin(int n) {
    if (inputs[0].pin == nullptr) {
        bool made = false;
        try {
            made = CreatePins();
        } catch (...) {
            made = false;
        }
        if (!made) return nullptr;
    }
    if (n < 0) return nullptr;
    if ((unsigned)n < inputCount) return inputs[n].pin;
    if ((unsigned)n - inputCount < outputCount) return outputs[n - inputCount].pin;
    return nullptr;
}

HRESULT MultiPinTransformFilter::Stop() {
    HRESULT hr;
    {
        CAutoLock lock(&filterLock);
        // Decommits the output allocators first, which wakes a streaming thread waiting for a buffer.
        hr = CBaseFilter::Stop();
    }
    releaseHeldSamples(nullptr);
    return hr;
}

MultiPinInputPin* MultiPinTransformFilter::sourceInputOf(const MultiPinOutputPin* pin) const {
    for (unsigned i = 0; i < outputCount; i++)
        if (outputs[i].pin == pin) return outputs[i].source < inputCount ? inputs[outputs[i].source].pin : nullptr;
    return nullptr;
}

void MultiPinTransformFilter::releaseHeldSamples(MultiPinInputPin* pin) {
    CAutoLock lock(&receiveLock);
    releaseInputSamplesLocked(pin);
}

void MultiPinTransformFilter::releaseInputSamplesLocked(MultiPinInputPin* pin) {
    for (unsigned i = 0; i < inputCount; i++)
        if ((pin == nullptr || inputs[i].pin == pin) && inputs[i].sample) {
            inputs[i].sample->Release();
            inputs[i].sample = nullptr;
        }
}

void MultiPinTransformFilter::releaseOutputSamples() {
    for (unsigned i = 0; i < outputCount; i++)
        if (outputs[i].sample) {
            outputs[i].sample->Release();
            outputs[i].sample = nullptr;
        }
}

HRESULT MultiPinTransformFilter::receive(IMediaSample* sample, MultiPinInputPin* pin) {
    // Control samples are not part of the pairing: they go through as they are.
    if (pin->SampleProps()->dwStreamId != AM_STREAM_MEDIA) {
        HRESULT result = S_OK;
        for (unsigned i = 0; i < outputCount; i++) {
            if (outputs[i].pin == nullptr) continue;
            HRESULT hr = outputs[i].pin->deliver(sample);
            if (FAILED(hr)) result = hr;
        }
        return result;
    }

    for (unsigned i = 0; i < inputCount; i++)
        if (inputs[i].pin == pin) {
            if (inputs[i].sample) inputs[i].sample->Release();
            sample->AddRef();
            inputs[i].sample = sample;
        }
    for (unsigned i = 0; i < inputCount; i++)
        if (inputs[i].pin && inputs[i].pin->IsConnected() && inputs[i].sample == nullptr) return S_OK;

    for (unsigned o = 0; o < outputCount; o++) {
        MultiPinOutputPin* out = outputs[o].pin;
        const unsigned src = outputs[o].source;
        if (out == nullptr || !out->IsConnected() || src >= inputCount || inputs[src].pin == nullptr ||
            !inputs[src].pin->IsConnected())
            continue;
        HRESULT hr = initializeOutputSample(src, o);
        if (FAILED(hr)) {
            // No cycle without its buffers; the held samples go too, so that upstream allocators
            // are not kept empty by a filter that cannot deliver.
            releaseOutputSamples();
            releaseInputSamplesLocked(nullptr);
            return hr;
        }
    }

    HRESULT hr;
    try {
        hr = Transform();
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_FAIL;
    }

    HRESULT result = hr;
    if (hr == S_OK) {
        for (unsigned o = 0; o < outputCount; o++) {
            if (outputs[o].sample == nullptr) continue;
            HRESULT dhr = outputs[o].pin->deliver(outputs[o].sample);
            if (FAILED(dhr)) result = dhr;
        }
        sampleSkipped = false;
    } else if (hr == S_FALSE) {
        sampleSkipped = true;
        result = S_OK;
    }
    releaseOutputSamples();
    releaseInputSamplesLocked(nullptr);
    return result;
}

HRESULT MultiPinTransformFilter::initializeOutputSample(unsigned inputSlot, unsigned outputSlot) {
    IMediaSample* in = inputs[inputSlot].sample;
    AM_SAMPLE2_PROPERTIES* props = inputs[inputSlot].pin->SampleProps();
    MultiPinOutputPin* pin = outputs[outputSlot].pin;
    IMemAllocator* allocator = pin->Allocator();
    if (in == nullptr) return E_UNEXPECTED;
    if (allocator == nullptr) return VFW_E_NO_ALLOCATOR;

    REFERENCE_TIME* start = (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &props->tStart : nullptr;
    REFERENCE_TIME* stop = (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &props->tStop : nullptr;
    DWORD flags = 0;
    if (sampleSkipped) flags |= AM_GBF_PREVFRAMESKIPPED;
    if (!(props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) flags |= AM_GBF_NOTASYNCPOINT;

    IMediaSample* out = nullptr;
    HRESULT hr = allocator->GetBuffer(&out, start, stop, flags);
    if (FAILED(hr)) return hr;
    if (out == nullptr) return E_UNEXPECTED;
    outputs[outputSlot].sample = out;

    IMediaSample2* out2 = nullptr;
    if (SUCCEEDED(out->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&out2))) && out2) {
        const DWORD size = (DWORD)offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer);
        AM_SAMPLE2_PROPERTIES own{};
        own.cbData = size;
        hr = out2->GetProperties(size, reinterpret_cast<BYTE*>(&own));
        if (SUCCEEDED(hr)) {
            own.cbData = size;
            own.dwTypeSpecificFlags = props->dwTypeSpecificFlags;
            own.dwSampleFlags = (own.dwSampleFlags & AM_SAMPLE_TYPECHANGED) | (props->dwSampleFlags & ~AM_SAMPLE_TYPECHANGED);
            own.tStart = props->tStart;
            own.tStop = props->tStop;
            hr = out2->SetProperties(size, reinterpret_cast<const BYTE*>(&own));
        }
        out2->Release();
        if (FAILED(hr)) return hr;
        if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) sampleSkipped = false;
    } else {
        if (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) out->SetTime(&props->tStart, &props->tStop);
        if (props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) out->SetSyncPoint(TRUE);
        if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) {
            out->SetDiscontinuity(TRUE);
            sampleSkipped = false;
        }
        LONGLONG mediaStart, mediaEnd;
        if (in->GetMediaTime(&mediaStart, &mediaEnd) == S_OK) out->SetMediaTime(&mediaStart, &mediaEnd);
    }
    return S_OK;
}

template <class Action>
void MultiPinTransformFilter::forEachOutputFedBy(MultiPinInputPin* pin, Action action) {
    for (unsigned o = 0; o < outputCount; o++)
        if (outputs[o].pin && outputs[o].pin->IsConnected() && outputs[o].source < inputCount &&
            inputs[outputs[o].source].pin == pin)
            action(outputs[o].pin);
}

void MultiPinTransformFilter::deliverEndOfStream(MultiPinInputPin* pin) {
    forEachOutputFedBy(pin, [](MultiPinOutputPin* out) { out->DeliverEndOfStream(); });
}

void MultiPinTransformFilter::deliverBeginFlush(MultiPinInputPin* pin) {
    forEachOutputFedBy(pin, [](MultiPinOutputPin* out) { out->DeliverBeginFlush(); });
}

void MultiPinTransformFilter::deliverEndFlush(MultiPinInputPin* pin) {
    forEachOutputFedBy(pin, [](MultiPinOutputPin* out) { out->DeliverEndFlush(); });
}

void MultiPinTransformFilter::deliverNewSegment(MultiPinInputPin* pin, REFERENCE_TIME start, REFERENCE_TIME stop,
                                                double rate) {
    forEachOutputFedBy(pin, [&](MultiPinOutputPin* out) { out->DeliverNewSegment(start, stop, rate); });
}

}  // namespace vision
