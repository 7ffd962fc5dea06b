// Capture filters of webcams and replay cameras.
//
// Each output pin offers RGB24 video (FORMAT_VideoInfo, bottom-up rows; top-down is accepted
// too), the source's current size first, and tells its pin category through IKsPropertySet.
// The device is opened for streaming when the filter leaves the stopped state, so a camera that
// another program holds fails Pause, and with it the graph's Run. Frames are produced only while
// running, on one streaming thread per filter that never takes the filter lock: Stop wakes it,
// decommits the allocators (which wakes a thread waiting for a buffer) and joins it.
#include "platform/graph/Builtin.h"
#include "platform/graph/ComObjects.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/ReplayCamera.h"
#include "platform/capture/V4l2Device.h"

namespace tarvelo::graph {

namespace {

// {5D3C0C1E-8A9B-4C65-9E1A-2B7C4D1A6F01}
DEFINE_GUID(CLSID_TarveloCaptureFilter, 0x5d3c0c1e, 0x8a9b, 0x4c65, 0x9e, 0x1a, 0x2b, 0x7c, 0x4d, 0x1a, 0x6f, 0x01);

constexpr HRESULT E_PROP_SET_UNSUPPORTED = HRESULT_FROM_WIN32(50);  // ERROR_NOT_SUPPORTED
constexpr HRESULT E_PROP_ID_UNSUPPORTED = HRESULT_FROM_WIN32(1168);  // ERROR_NOT_FOUND
constexpr DWORD ERROR_BUSY = 170;

HRESULT fromErrno(int error) {
    switch (error) {
    case EBUSY: return HRESULT_FROM_WIN32(ERROR_BUSY);
    case ENOENT:
    case ENODEV:
    case ENXIO: return VFW_E_NO_CAPTURE_HARDWARE;
    case EACCES:
    case EPERM: return E_ACCESSDENIED;
    case ENOMEM: return E_OUTOFMEMORY;
    default: return E_FAIL;
    }
}

void makeRgb24Type(const tarvelo::capture::SourceFormat& f, CMediaType* mt) {
    FreeMediaType(*mt);  // InitMediaType only clears: let go of a format block first
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&MEDIASUBTYPE_RGB24);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetTemporalCompression(FALSE);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    std::memset(vih, 0, sizeof *vih);
    vih->AvgTimePerFrame = f.frameInterval;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = f.width;
    vih->bmiHeader.biHeight = f.height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = DIBSIZE(vih->bmiHeader);
    if (f.frameInterval > 0)
        vih->dwBitRate = static_cast<DWORD>(static_cast<double>(vih->bmiHeader.biSizeImage) * 8 * UNITS / f.frameInterval);
    mt->SetSampleSize(vih->bmiHeader.biSizeImage);
}

class CaptureFilter;

class CapturePin : public CBaseOutputPin, public IKsPropertySet {
public:
    CapturePin(CBaseFilter* filter, CaptureFilter* owner, CCritSec* lock, HRESULT* phr, LPCWSTR name,
               const GUID& category)
        : CBaseOutputPin(NAME("Capture pin"), filter, lock, phr, name), owner_(owner), category_(category) {}

    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
        return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        return setBufferSize(allocator, request, static_cast<LONG>(DIBSIZE(header())), 3);
    }

    // IKsPropertySet: the pin category, read-only.
    HRESULT Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT Get(REFGUID propSet, DWORD id, LPVOID, DWORD, LPVOID data, DWORD length, DWORD* returned) override {
        if (propSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
        if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (!data && !returned) return E_POINTER;
        if (returned) *returned = sizeof(GUID);
        if (!data) return S_OK;
        if (length < sizeof(GUID)) return E_UNEXPECTED;
        std::memcpy(data, &category_, sizeof(GUID));
        return S_OK;
    }
    HRESULT QuerySupported(REFGUID propSet, DWORD id, DWORD* support) override {
        if (propSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
        if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (support) *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

    const BITMAPINFOHEADER& header() {
        return reinterpret_cast<const VIDEOINFOHEADER*>(CurrentMediaType().pbFormat)->bmiHeader;
    }

    tarvelo::capture::SourceFormat negotiated() {
        const BITMAPINFOHEADER& bih = header();
        tarvelo::capture::SourceFormat f;
        f.width = bih.biWidth;
        f.height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
        f.frameInterval = reinterpret_cast<const VIDEOINFOHEADER*>(CurrentMediaType().pbFormat)->AvgTimePerFrame;
        return f;
    }

    // On the streaming thread.
    void deliverFrame(const tarvelo::capture::FrameImage& image, REFERENCE_TIME start, REFERENCE_TIME stop) {
        IMediaSample* sample = nullptr;
        if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) return;
        const SampleHold hold(sample);
        BYTE* data = nullptr;
        const BITMAPINFOHEADER bih = header();
        const LONG size = static_cast<LONG>(DIBSIZE(bih));
        if (SUCCEEDED(sample->GetPointer(&data)) && data && sample->GetSize() >= size) {
            const LONG height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
            tarvelo::capture::writeBitmap(image, data, bih.biWidth, height, 24, bih.biHeight < 0);
            sample->SetActualDataLength(size);
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
            Deliver(sample);
        }
    }

private:
    CaptureFilter* owner_;
    GUID category_;
};

class CaptureFilter : public CBaseFilter {
public:
    CaptureFilter(std::unique_ptr<tarvelo::capture::FrameSource> source, const std::vector<tarvelo::capture::PinKind>& pins,
                  const std::string& name)
        : CBaseFilter(NAME("Capture filter"), nullptr, &lock_, CLSID_TarveloCaptureFilter),
          source_(std::move(source)), what_("camera '" + name + "'") {
        formats_ = source_->formats();
        for (tarvelo::capture::PinKind kind : pins) {
            HRESULT hr = S_OK;
            const bool preview = kind == tarvelo::capture::PinKind::Preview;
            pins_.emplace_back(new CapturePin(this, this, &lock_, &hr, preview ? L"Preview" : L"Capture",
                                              preview ? PIN_CATEGORY_PREVIEW : PIN_CATEGORY_CAPTURE));
        }
    }

    ~CaptureFilter() override {
        requestStop();
        joinThread();
        if (sourceStarted_) source_->stop();
    }

    int GetPinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* GetPin(int n) override {
        return n >= 0 && static_cast<size_t>(n) < pins_.size() ? pins_[static_cast<size_t>(n)].get() : nullptr;
    }

    const std::vector<tarvelo::capture::SourceFormat>& formats() const { return formats_; }

    HRESULT Pause() override {
        CAutoLock lock(&lock_);
        if (m_State == State_Running) {
            requestStop();
            joinThread();
        }
        if (m_State == State_Stopped && !sourceStarted_) {
            CapturePin* first = firstConnected();
            if (first) {
                int error = ENOMEM;
                try {
                    error = source_->start(first->negotiated());
                } catch (...) {
                    // A source that cannot start does not take the caller down with it.
                }
                if (error) return fromErrno(error);
                sourceStarted_ = true;
            }
        }
        HRESULT hr = CBaseFilter::Pause();
        if (FAILED(hr) && sourceStarted_) {
            source_->stop();
            sourceStarted_ = false;
        }
        return hr;
    }

    HRESULT Run(REFERENCE_TIME start) override {
        CAutoLock lock(&lock_);
        HRESULT hr = CBaseFilter::Run(start);
        if (FAILED(hr)) return hr;
        if (sourceStarted_ && !thread_.joinable()) {
            stopRequested_ = false;
            thread_ = std::thread([this] { stream(); });
        }
        return hr;
    }

    HRESULT Stop() override {
        requestStop();
        HRESULT hr;
        {
            CAutoLock lock(&lock_);
            hr = CBaseFilter::Stop();
        }
        joinThread();
        CAutoLock lock(&lock_);
        if (sourceStarted_) {
            source_->stop();
            sourceStarted_ = false;
        }
        return hr;
    }

private:
    CapturePin* firstConnected() {
        for (auto& p : pins_)
            if (p->IsConnected()) return p.get();
        return nullptr;
    }

    void requestStop() {
        stopRequested_ = true;
        source_->interrupt();
    }

    void joinThread() {
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    }

    void stream() {
        // What the source or the filters downstream throw ends the stream as a camera error.
        guardStreaming(this, what_.c_str(), [this] { produce(); });
    }

    void produce() {
        const auto origin = std::chrono::steady_clock::now();
        REFERENCE_TIME interval = formats_.empty() ? 666666 : formats_.front().frameInterval;
        if (CapturePin* p = firstConnected()) interval = p->negotiated().frameInterval;
        bool dropping = false;
        while (!stopRequested_) {
            tarvelo::capture::FrameImage image;
            tarvelo::capture::FrameSource::Result r = source_->read(image, 250);
            if (stopRequested_) break;
            // A wake-up meant for the thread before this one (it ended without waiting again).
            if (r == tarvelo::capture::FrameSource::Result::Interrupted) continue;
            if (r == tarvelo::capture::FrameSource::Result::Error) {
                // The device went away under us: say so and stop producing.
                NotifyEvent(EC_ERRORABORT, VFW_E_NO_CAPTURE_HARDWARE, 0);
                break;
            }
            if (r == tarvelo::capture::FrameSource::Result::Dropped) {
                // One line for a run of bad frames, however long: a camera that sends nothing
                // else would otherwise flood standard error with a line a frame.
                if (!dropping)
                    std::fprintf(stderr, "%s: dropping damaged frames: %s\n", what_.c_str(),
                                 source_->dropReason().c_str());
                dropping = true;
                continue;
            }
            if (r != tarvelo::capture::FrameSource::Result::Frame) continue;
            dropping = false;
            const REFERENCE_TIME start =
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - origin).count() / 100;
            for (auto& p : pins_)
                if (p->IsConnected()) p->deliverFrame(image, start, start + interval);
        }
    }

    CCritSec lock_;
    std::unique_ptr<tarvelo::capture::FrameSource> source_;
    std::vector<tarvelo::capture::SourceFormat> formats_;
    std::vector<std::unique_ptr<CapturePin>> pins_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    bool sourceStarted_ = false;
    std::string what_;  // how its lines on standard error name it
};

HRESULT CapturePin::CheckMediaType(const CMediaType* mt) {
    if (!mt || mt->majortype != MEDIATYPE_Video || mt->subtype != MEDIASUBTYPE_RGB24 ||
        mt->formattype != FORMAT_VideoInfo || mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER& bih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
    if (bih.biBitCount != 24 || bih.biCompression != BI_RGB) return VFW_E_TYPE_NOT_ACCEPTED;
    const LONG height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
    for (const tarvelo::capture::SourceFormat& f : owner_->formats())
        if (f.width == bih.biWidth && f.height == height) return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CapturePin::GetMediaType(int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    const auto& formats = owner_->formats();
    if (static_cast<size_t>(position) >= formats.size()) return VFW_S_NO_MORE_ITEMS;
    makeRgb24Type(formats[static_cast<size_t>(position)], mt);
    return S_OK;
}

HRESULT makeCaptureFilter(const CaptureDevice& device, IBaseFilter** filter);

}  // namespace

HRESULT createCaptureFilter(const CaptureDevice& device, IBaseFilter** filter) {
    if (!filter) return E_POINTER;
    *filter = nullptr;
    try {
        return makeCaptureFilter(device, filter);
    } catch (...) {
        // Opening the source read the device or its first frame; nothing of that may escape.
        return E_OUTOFMEMORY;
    }
}

namespace {

HRESULT makeCaptureFilter(const CaptureDevice& device, IBaseFilter** filter) {
    std::unique_ptr<tarvelo::capture::FrameSource> source;
    std::vector<tarvelo::capture::PinKind> pins;
    if (device.kind == CaptureDevice::Kind::Replay) {
        std::string why;
        std::unique_ptr<tarvelo::capture::ReplaySource> replay = tarvelo::capture::ReplaySource::open(device.replay, &why);
        if (!replay) {
            std::fprintf(stderr, "replay camera '%s': %s\n", device.friendlyName.c_str(), why.c_str());
            return VFW_E_NO_CAPTURE_HARDWARE;
        }
        source = std::move(replay);
        pins = device.replay.pins;
    } else {
        auto webcam = std::make_unique<tarvelo::capture::V4l2Source>(device.path);
        if (!webcam->usable()) return VFW_E_NO_CAPTURE_HARDWARE;
        source = std::move(webcam);
        // A V4L2 node has one stream: it is the capture pin.
        pins = {tarvelo::capture::PinKind::Capture};
    }
    auto* f = new CaptureFilter(std::move(source), pins, device.friendlyName);
    return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace

}  // namespace tarvelo::graph
