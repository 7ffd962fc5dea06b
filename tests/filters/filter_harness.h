#pragma once
// Small filters that drive a filter under test through real pin connections: a source whose output
// pins push numbered samples, and a sink whose input pins record what reaches them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/streams.h"

namespace harness {

DEFINE_GUID(CLSID_TestSource, 0x7d1a0001, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x01);
DEFINE_GUID(CLSID_TestSink, 0x7d1a0002, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x02);

// A video type of width x height (negative height: top-down) with a whole VIDEOINFOHEADER.
inline CMediaType videoType(const GUID& subtype, LONG width, LONG height, WORD bitCount,
                            REFERENCE_TIME frameTime = 333333) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    std::memset(vih, 0, sizeof *vih);
    vih->AvgTimePerFrame = frameTime;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = bitCount;
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

inline CMediaType majorOnly(const GUID& major) {
    CMediaType mt;
    mt.SetType(&major);
    mt.SetSubtype(&GUID_NULL);
    mt.SetFormatType(&FORMAT_None);
    return mt;
}

inline const VIDEOINFOHEADER* vihOf(const CMediaType& mt) {
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
}

// ---- Source ----
class TestSource;

class SourcePin : public CBaseOutputPin {
public:
    SourcePin(TestSource* filter, CCritSec* lock, int index, const CMediaType& type, LONG buffers, LONG size);
    HRESULT CheckMediaType(const CMediaType* mt) override { return *mt == type ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = type;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = buffers;
        request->cbBuffer = size;
        if (request->cbAlign <= 0) request->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(request, &actual);
    }
    // Fills a buffer with `fill` (or with `bytes` when given) and delivers it; never waits for a buffer.
    HRESULT push(unsigned char fill, const std::vector<unsigned char>* bytes = nullptr, DWORD streamId = AM_STREAM_MEDIA,
                 LONG length = -1, REFERENCE_TIME start = 1000, bool discontinuity = false) {
        IMediaSample* sample = nullptr;
        REFERENCE_TIME stop = start + 10;
        HRESULT hr = GetDeliveryBuffer(&sample, &start, &stop, AM_GBF_NOWAIT);
        if (FAILED(hr)) return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG n = sample->GetSize();
        if (bytes)
            std::memcpy(data, bytes->data(), std::min<size_t>(bytes->size(), (size_t)n));
        else
            std::memset(data, fill, (size_t)n);
        sample->SetActualDataLength(length >= 0 ? length : (bytes ? (LONG)bytes->size() : n));
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
        if (streamId != AM_STREAM_MEDIA) {
            IMediaSample2* s2 = nullptr;
            sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&s2));
            AM_SAMPLE2_PROPERTIES p{};
            const DWORD size = (DWORD)offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer);
            s2->GetProperties(size, reinterpret_cast<BYTE*>(&p));
            p.cbData = size;
            p.dwStreamId = streamId;
            s2->SetProperties(size, reinterpret_cast<const BYTE*>(&p));
            s2->Release();
        }
        hr = Deliver(sample);
        sample->Release();
        return hr;
    }
    LONG outstanding() {
        CBaseAllocator* a = dynamic_cast<CBaseAllocator*>(m_pAllocator);
        return a ? a->OutstandingSamples() : -1;
    }

    CMediaType type;
    LONG buffers, size;
};

class TestSource : public CBaseFilter {
public:
    TestSource() : CBaseFilter("test source", nullptr, &lock, CLSID_TestSource) {}
    ~TestSource() override = default;
    SourcePin* addPin(const CMediaType& type, LONG buffers, LONG size) {
        pins.emplace_back(new SourcePin(this, &lock, (int)pins.size(), type, buffers, size));
        return pins.back().get();
    }
    int GetPinCount() override { return (int)pins.size(); }
    CBasePin* GetPin(int n) override { return n >= 0 && n < (int)pins.size() ? pins[n].get() : nullptr; }

    CCritSec lock;
    std::vector<std::unique_ptr<SourcePin>> pins;
};

inline SourcePin::SourcePin(TestSource* filter, CCritSec* lock, int index, const CMediaType& type_, LONG buffers_,
                            LONG size_)
    : CBaseOutputPin("source pin", filter, lock, nullptr, (L"Out" + std::to_wstring(index)).c_str()),
      type(type_),
      buffers(buffers_),
      size(size_) {}

// ---- Sink ----
// An allocator that records the flags of every buffer request and can be told to refuse them.
class RecordingAllocator : public CMemAllocator {
public:
    RecordingAllocator() : CMemAllocator("recording allocator", nullptr, nullptr) {}
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override {
        requestFlags.push_back(flags);
        if (failRequests) return E_OUTOFMEMORY;
        return CMemAllocator::GetBuffer(sample, start, stop, flags);
    }
    std::vector<DWORD> requestFlags;
    bool failRequests = false;
};

struct Arrival {
    unsigned char first;  // first data byte
    LONG length;
    DWORD streamId;
    DWORD flags;
    REFERENCE_TIME start;
    std::vector<unsigned char> bytes;
};

class SinkPin : public CBaseInputPin {
public:
    SinkPin(CBaseFilter* filter, CCritSec* lock, int index)
        : CBaseInputPin("sink pin", filter, lock, nullptr, (L"In" + std::to_wstring(index)).c_str()) {
        allocator = new RecordingAllocator();
        allocator->NonDelegatingAddRef();
    }
    ~SinkPin() override { allocator->NonDelegatingRelease(); }
    HRESULT CheckMediaType(const CMediaType* mt) override { return S_OK; }
    HRESULT GetAllocator(IMemAllocator** out) override {
        *out = allocator;
        allocator->NonDelegatingAddRef();
        return S_OK;
    }
    HRESULT Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        Arrival a{data ? data[0] : (unsigned char)0, sample->GetActualDataLength(), m_SampleProps.dwStreamId,
                  m_SampleProps.dwSampleFlags, m_SampleProps.tStart, {}};
        if (keepBytes && data) a.bytes.assign(data, data + sample->GetActualDataLength());
        arrivals.push_back(std::move(a));
        return S_OK;
    }
    HRESULT EndOfStream() override {
        endOfStreams++;
        return S_OK;
    }
    HRESULT BeginFlush() override {
        beginFlushes++;
        return CBaseInputPin::BeginFlush();
    }
    HRESULT EndFlush() override {
        endFlushes++;
        return CBaseInputPin::EndFlush();
    }

    RecordingAllocator* allocator;
    std::vector<Arrival> arrivals;
    bool keepBytes = false;
    int endOfStreams = 0, beginFlushes = 0, endFlushes = 0;
};

class TestSink : public CBaseFilter {
public:
    TestSink() : CBaseFilter("test sink", nullptr, &lock, CLSID_TestSink) {}
    SinkPin* addPin() {
        pins.emplace_back(new SinkPin(this, &lock, (int)pins.size()));
        return pins.back().get();
    }
    int GetPinCount() override { return (int)pins.size(); }
    CBasePin* GetPin(int n) override { return n >= 0 && n < (int)pins.size() ? pins[n].get() : nullptr; }

    CCritSec lock;
    std::vector<std::unique_ptr<SinkPin>> pins;
};

// A reference-counted filter held for the test's length.
template <class F>
struct Held {
    F* f;
    template <class... A>
    explicit Held(A&&... a) : f(new F(std::forward<A>(a)...)) {
        f->NonDelegatingAddRef();
    }
    ~Held() { f->NonDelegatingRelease(); }
    F* operator->() const { return f; }
    F* get() const { return f; }
};

inline HRESULT connect(CBasePin* out, CBasePin* in, const CMediaType* mt = nullptr) {
    return out->Connect(in, mt);
}

// Pins disconnect both ends, so that filters can be destroyed in any order.
inline void disconnect(CBasePin* out) {
    IPin* peer = nullptr;
    if (out->ConnectedTo(&peer) == S_OK && peer) {
        peer->Disconnect();
        peer->Release();
    }
    out->Disconnect();
}

}  // namespace harness
