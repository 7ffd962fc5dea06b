// Small filters on the base classes for the platform tests: a source with its own streaming
// thread, a one-buffer pass-through, and a counting sink.
#pragma once

#include "platform/streams.h"

#include <atomic>
#include <thread>

namespace toy {

DEFINE_GUID(CLSID_ToySource, 0x5a1d0c11, 0x2b7e, 0x4f0a, 0x9c, 0x31, 0x6e, 0x0b, 0x7d, 0x42, 0x11, 0x01);
DEFINE_GUID(CLSID_ToyTransform, 0x5a1d0c11, 0x2b7e, 0x4f0a, 0x9c, 0x31, 0x6e, 0x0b, 0x7d, 0x42, 0x11, 0x02);
DEFINE_GUID(CLSID_ToySink, 0x5a1d0c11, 0x2b7e, 0x4f0a, 0x9c, 0x31, 0x6e, 0x0b, 0x7d, 0x42, 0x11, 0x03);

// An RGB video type with a VIDEOINFOHEADER, bottom-up.
inline CMediaType videoType(const GUID& subtype, int width, int height, int bits) {
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = WORD(bits);
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = DIBSIZE(vih->bmiHeader);
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

inline bool isRgb24(const CMediaType* mt) {
    return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == MEDIASUBTYPE_RGB24 &&
           *mt->FormatType() == FORMAT_VideoInfo && mt->FormatLength() >= sizeof(VIDEOINFOHEADER);
}

// ---- Source: offers RGB32 320x240 first, then RGB24 160x120; Run starts a thread that pushes
// `framesPerRun` frames (first byte = frame number) and then end of stream.
class ToySource;
class ToySourcePin : public CBaseOutputPin {
public:
    ToySourcePin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
        : CBaseOutputPin("ToySourcePin", filter, lock, phr, L"Out") {}
    HRESULT GetMediaType(int position, CMediaType* mt) override {
        if (position < 0) return E_INVALIDARG;
        if (position == 0) *mt = videoType(MEDIASUBTYPE_RGB32, 320, 240, 32);
        else if (position == 1) *mt = videoType(MEDIASUBTYPE_RGB24, 160, 120, 24);
        else return VFW_S_NO_MORE_ITEMS;
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return *mt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 2;
        request->cbBuffer = LONG(m_mt.GetSampleSize());
        ALLOCATOR_PROPERTIES actual;
        HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer >= request->cbBuffer ? S_OK : E_FAIL;
    }
};

class ToySource : public CBaseFilter {
public:
    explicit ToySource(int framesPerRun) : CBaseFilter("ToySource", nullptr, &m_lock, CLSID_ToySource),
                                           m_framesPerRun(framesPerRun) {
        HRESULT hr = S_OK;
        m_pin = new ToySourcePin(this, &m_lock, &hr);
    }
    ~ToySource() override {
        joinThread();
        delete m_pin;
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    HRESULT Run(REFERENCE_TIME start) override {
        bool wasRunning = m_State == State_Running;
        HRESULT hr = CBaseFilter::Run(start);
        if (SUCCEEDED(hr) && !wasRunning && m_pin->IsConnected()) {
            joinThread();
            m_stop = false;
            m_thread = std::thread([this] { push(); });
        }
        return hr;
    }
    HRESULT Stop() override {
        m_stop = true;
        HRESULT hr = CBaseFilter::Stop();  // decommits: a blocked GetDeliveryBuffer returns
        joinThread();
        return hr;
    }
    std::atomic<int> delivered{0};
    std::atomic<HRESULT> lastError{S_OK};

private:
    void joinThread() {
        if (m_thread.joinable()) m_thread.join();
    }
    void push() {
        for (int i = 0; i < m_framesPerRun && !m_stop; ++i) {
            IMediaSample* sample = nullptr;
            REFERENCE_TIME start = REFERENCE_TIME(i) * 333333, stop = start + 333333;
            HRESULT hr = m_pin->GetDeliveryBuffer(&sample, &start, &stop, 0);
            if (FAILED(hr)) {
                lastError = hr;
                return;
            }
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            std::memset(data, 0, size_t(sample->GetSize()));
            data[0] = BYTE(i);
            sample->SetSyncPoint(TRUE);
            hr = m_pin->Deliver(sample);
            sample->Release();
            if (hr != S_OK) {
                lastError = hr;
                return;
            }
            ++delivered;
        }
        if (!m_stop) m_pin->DeliverEndOfStream();
    }

    CCritSec m_lock;
    ToySourcePin* m_pin;
    int m_framesPerRun;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

// ---- Pass-through: RGB24 in, the same type out through a one-buffer allocator ----
class ToyTransform;
class ToyTransformInput : public CBaseInputPin {
public:
    ToyTransformInput(ToyTransform* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override { return isRgb24(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

private:
    ToyTransform* m_owner;
};

class ToyTransformOutput : public CBaseOutputPin {
public:
    ToyTransformOutput(ToyTransform* filter, CCritSec* lock, HRESULT* phr);
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 1;
        request->cbBuffer = LONG(m_mt.GetSampleSize());
        ALLOCATOR_PROPERTIES actual;
        HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cBuffers == 1 ? S_OK : E_FAIL;
    }

private:
    ToyTransform* m_owner;
};

class ToyTransform : public CBaseFilter {
public:
    ToyTransform() : CBaseFilter("ToyTransform", nullptr, &m_lock, CLSID_ToyTransform) {
        HRESULT hr = S_OK;
        m_in = new ToyTransformInput(this, &m_lock, &hr);
        m_out = new ToyTransformOutput(this, &m_lock, &hr);
    }
    ~ToyTransform() override {
        delete m_in;
        delete m_out;
    }
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(m_in) : n == 1 ? m_out : nullptr; }
    ToyTransformInput* input() { return m_in; }
    ToyTransformOutput* output() { return m_out; }
    CCritSec m_receiveLock;

private:
    CCritSec m_lock;
    ToyTransformInput* m_in;
    ToyTransformOutput* m_out;
};

inline ToyTransformInput::ToyTransformInput(ToyTransform* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("ToyTransformInput", filter, lock, phr, L"In"), m_owner(filter) {}

inline HRESULT ToyTransformInput::Receive(IMediaSample* sample) {
    CAutoLock lock(&m_owner->m_receiveLock);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    ToyTransformOutput* out = m_owner->output();
    if (!out->IsConnected()) return S_OK;
    IMediaSample* copy = nullptr;
    REFERENCE_TIME start = m_SampleProps.tStart, stop = m_SampleProps.tStop;
    hr = out->GetDeliveryBuffer(&copy, &start, &stop, 0);
    if (FAILED(hr)) return hr;
    BYTE *from = nullptr, *to = nullptr;
    sample->GetPointer(&from);
    copy->GetPointer(&to);
    LONG n = sample->GetActualDataLength();
    if (n > copy->GetSize()) n = copy->GetSize();
    std::memcpy(to, from, size_t(n));
    copy->SetActualDataLength(n);
    hr = out->Deliver(copy);
    copy->Release();
    return hr;
}

inline HRESULT ToyTransformInput::EndOfStream() {
    CAutoLock lock(&m_owner->m_receiveLock);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_owner->output()->IsConnected() ? m_owner->output()->DeliverEndOfStream() : S_OK;
}

inline ToyTransformOutput::ToyTransformOutput(ToyTransform* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("ToyTransformOutput", filter, lock, phr, L"Out"), m_owner(filter) {}

inline HRESULT ToyTransformOutput::GetMediaType(int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (!m_owner->input()->IsConnected()) return E_UNEXPECTED;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = m_owner->input()->CurrentMediaType();
    return S_OK;
}

inline HRESULT ToyTransformOutput::CheckMediaType(const CMediaType* mt) {
    if (!m_owner->input()->IsConnected()) return E_UNEXPECTED;
    return *mt == m_owner->input()->CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// ---- Sink: accepts RGB24 only, counts the frames and checks their numbering ----
class ToySink;
class ToySinkPin : public CBaseInputPin {
public:
    ToySinkPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
        : CBaseInputPin("ToySinkPin", filter, lock, phr, L"In") {}
    HRESULT CheckMediaType(const CMediaType* mt) override { return isRgb24(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (data[0] != BYTE(nextFrame++)) outOfOrder = true;
        if (!(m_SampleProps.dwSampleFlags & AM_SAMPLE_TIMEVALID)) missingTime = true;
        ++received;
        return S_OK;
    }
    HRESULT EndOfStream() override {
        nextFrame = 0;
        endOfStream.Set();
        return S_OK;
    }
    std::atomic<int> received{0};
    std::atomic<int> nextFrame{0};  // the source numbers its frames from 0 on every run
    std::atomic<bool> outOfOrder{false};
    std::atomic<bool> missingTime{false};
    CAMEvent endOfStream;
};

class ToySink : public CBaseFilter {
public:
    ToySink() : CBaseFilter("ToySink", nullptr, &m_lock, CLSID_ToySink) {
        HRESULT hr = S_OK;
        m_pin = new ToySinkPin(this, &m_lock, &hr);
    }
    ~ToySink() override { delete m_pin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    ToySinkPin* pin() { return m_pin; }

private:
    CCritSec m_lock;
    ToySinkPin* m_pin;
};

}  // namespace toy
