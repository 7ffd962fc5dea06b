// The video renderer: RGB24 or RGB32 video in either row order, handed to the frame sink that is
// registered for its owner window.
//
// Receive only copies the frame into a one-frame mailbox and wakes the presentation thread, so a
// slow sink never holds up the streaming thread; frames that arrive while the sink is busy replace
// the one waiting. The presentation thread lives from Pause to Stop; on Stop, and when the filter
// goes away, the sink is told that the renderer detached from its window.
#include "platform/graph.h"
#include "platform/graph/Builtin.h"
#include "platform/graph/ComObjects.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace tarvelo::graph {

// ---- Frame sink registry ----
namespace {

struct SinkRegistry {
    std::mutex mutex;
    std::condition_variable idle;
    std::map<HWND, FrameSink*> sinks;
    std::map<HWND, int> busy;
};

SinkRegistry& registry() {
    static SinkRegistry* instance = new SinkRegistry();
    return *instance;
}

// The owner whose sink the current thread is calling, so that a sink may unregister itself from
// inside its own callback.
thread_local HWND t_callingOwner = nullptr;
thread_local bool t_calling = false;

// Calls fn(sink) for the owner's sink, if any, marking the call in progress.
template <class Fn>
void withSink(HWND owner, Fn fn) {
    SinkRegistry& r = registry();
    FrameSink* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.sinks.find(owner);
        if (it == r.sinks.end() || !it->second) return;
        sink = it->second;
        ++r.busy[owner];
    }
    // Ended however fn ends: a sink that throws must not leave unregisterFrameSink waiting.
    struct Done {
        SinkRegistry& r;
        HWND owner;
        ~Done() {
            t_calling = false;
            {
                std::lock_guard<std::mutex> lock(r.mutex);
                if (--r.busy[owner] == 0) r.busy.erase(owner);
            }
            r.idle.notify_all();
        }
    } done{r, owner};
    t_calling = true;
    t_callingOwner = owner;
    fn(sink);
}

}  // namespace

void registerFrameSink(HWND owner, FrameSink* sink) {
    SinkRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (sink) r.sinks[owner] = sink;
    else r.sinks.erase(owner);
}

void unregisterFrameSink(HWND owner) {
    SinkRegistry& r = registry();
    std::unique_lock<std::mutex> lock(r.mutex);
    r.sinks.erase(owner);
    const int own = (t_calling && t_callingOwner == owner) ? 1 : 0;
    r.idle.wait(lock, [&] {
        auto it = r.busy.find(owner);
        return it == r.busy.end() || it->second <= own;
    });
}

namespace {

constexpr LONG OATRUE = -1;
constexpr HRESULT VFW_E_NO_PALETTE_AVAILABLE = TARVELO_HR(0x8004021C);
// The window properties, like the platform's, need a connected input.
#define RETURN_IF_NOT_CONNECTED \
    if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED
constexpr LONG OAFALSE = 0;

class VideoRenderer;

class RendererInputPin : public CBaseInputPin {
public:
    RendererInputPin(VideoRenderer* renderer, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT CompleteConnect(IPin* receivePin) override;

private:
    VideoRenderer* renderer_;
};

class VideoRenderer : public CBaseFilter, public IBasicVideo, public IVideoWindow {
public:
    VideoRenderer() : CBaseFilter(NAME("Video renderer"), nullptr, &lock_, CLSID_VideoRenderer) {
        HRESULT hr = S_OK;
        input_.reset(new RendererInputPin(this, &lock_, &hr));
    }

    ~VideoRenderer() override {
        stopPresenting();
        detach();
    }

    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? input_.get() : nullptr; }

    HRESULT Pause() override {
        CAutoLock lock(&lock_);
        HRESULT hr = CBaseFilter::Pause();
        if (SUCCEEDED(hr)) startPresenting();
        return hr;
    }

    HRESULT Stop() override {
        HRESULT hr;
        {
            CAutoLock lock(&lock_);
            hr = CBaseFilter::Stop();
        }
        stopPresenting();
        detach();
        return hr;
    }

    // From the streaming thread: copy, normalised to top-down rows.
    void takeFrame(IMediaSample* sample) {
        const CMediaType& mt = input_->CurrentMediaType();
        const BITMAPINFOHEADER& bih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || !data) return;
        const LONG height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
        const DWORD stride = DIBWIDTHBYTES(bih);
        if (sample->GetActualDataLength() < static_cast<LONG>(stride * static_cast<DWORD>(height))) return;
        std::lock_guard<std::mutex> l(frameMutex_);
        pending_.width = bih.biWidth;
        pending_.height = height;
        pending_.bitCount = bih.biBitCount;
        pending_.stride = stride;
        pending_.pixels.resize(static_cast<size_t>(stride) * height);
        for (LONG y = 0; y < height; ++y) {
            const LONG from = bih.biHeight < 0 ? y : height - 1 - y;
            std::memcpy(&pending_.pixels[static_cast<size_t>(y) * stride], data + static_cast<size_t>(from) * stride, stride);
        }
        REFERENCE_TIME start = 0, stop = 0;
        pending_.start = SUCCEEDED(sample->GetTime(&start, &stop)) ? start : 0;
        havePending_ = true;
        ++framesReceived_;
        frameReady_.notify_one();
    }

    void connected() {
        // A fresh connection places the window at the video's own size unless told otherwise.
        LONG w = 0, h = 0;
        videoSize(&w, &h);
        std::lock_guard<std::mutex> l(frameMutex_);
        if (!sizeSet_) {
            windowRect_.right = windowRect_.left + w;
            windowRect_.bottom = windowRect_.top + h;
        }
    }

    // ---- IDispatch (not dispatched) ----
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

    // ---- IBasicVideo ----
    HRESULT get_AvgTimePerFrame(REFTIME* time) override {
        if (!time) return E_POINTER;
        const VIDEOINFOHEADER* vih = videoInfo();
        if (!vih) return VFW_E_NOT_CONNECTED;
        *time = static_cast<double>(vih->AvgTimePerFrame) / UNITS;
        return S_OK;
    }
    HRESULT get_BitRate(LONG* rate) override { return getInfo(rate, [](const VIDEOINFOHEADER* v) { return static_cast<LONG>(v->dwBitRate); }); }
    HRESULT get_BitErrorRate(LONG* rate) override { return getInfo(rate, [](const VIDEOINFOHEADER* v) { return static_cast<LONG>(v->dwBitErrorRate); }); }
    HRESULT get_VideoWidth(LONG* width) override {
        LONG h;
        return width ? videoSize(width, &h) : E_POINTER;
    }
    HRESULT get_VideoHeight(LONG* height) override {
        LONG w;
        return height ? videoSize(&w, height) : E_POINTER;
    }
    HRESULT put_SourceLeft(LONG v) override { return setRect(source_, 0, v); }
    HRESULT get_SourceLeft(LONG* v) override { return getRect(source_, 0, v); }
    HRESULT put_SourceWidth(LONG v) override { return setRect(source_, 2, v); }
    HRESULT get_SourceWidth(LONG* v) override { return getRect(source_, 2, v); }
    HRESULT put_SourceTop(LONG v) override { return setRect(source_, 1, v); }
    HRESULT get_SourceTop(LONG* v) override { return getRect(source_, 1, v); }
    HRESULT put_SourceHeight(LONG v) override { return setRect(source_, 3, v); }
    HRESULT get_SourceHeight(LONG* v) override { return getRect(source_, 3, v); }
    HRESULT put_DestinationLeft(LONG v) override { return setRect(destination_, 0, v); }
    HRESULT get_DestinationLeft(LONG* v) override { return getRect(destination_, 0, v); }
    HRESULT put_DestinationWidth(LONG v) override { return setRect(destination_, 2, v); }
    HRESULT get_DestinationWidth(LONG* v) override { return getRect(destination_, 2, v); }
    HRESULT put_DestinationTop(LONG v) override { return setRect(destination_, 1, v); }
    HRESULT get_DestinationTop(LONG* v) override { return getRect(destination_, 1, v); }
    HRESULT put_DestinationHeight(LONG v) override { return setRect(destination_, 3, v); }
    HRESULT get_DestinationHeight(LONG* v) override { return getRect(destination_, 3, v); }
    HRESULT SetSourcePosition(LONG l, LONG t, LONG w, LONG h) override { return setPosition(source_, l, t, w, h); }
    HRESULT GetSourcePosition(LONG* l, LONG* t, LONG* w, LONG* h) override { return getPosition(source_, l, t, w, h); }
    HRESULT SetDefaultSourcePosition() override {
        source_.custom = false;
        return S_OK;
    }
    HRESULT SetDestinationPosition(LONG l, LONG t, LONG w, LONG h) override { return setPosition(destination_, l, t, w, h); }
    HRESULT GetDestinationPosition(LONG* l, LONG* t, LONG* w, LONG* h) override {
        return getPosition(destination_, l, t, w, h);
    }
    HRESULT SetDefaultDestinationPosition() override {
        destination_.custom = false;
        return S_OK;
    }
    HRESULT GetVideoSize(LONG* width, LONG* height) override {
        if (!width || !height) return E_POINTER;
        return videoSize(width, height);
    }
    HRESULT GetVideoPaletteEntries(LONG, LONG, LONG*, LONG*) override { return VFW_E_NO_PALETTE_AVAILABLE; }
    HRESULT GetCurrentImage(LONG* bufferSize, LONG* dibImage) override {
        if (!bufferSize) return E_POINTER;
        std::lock_guard<std::mutex> l(frameMutex_);
        if (lastShown_.pixels.empty()) return E_UNEXPECTED;
        const LONG needed = static_cast<LONG>(sizeof(BITMAPINFOHEADER) + lastShown_.pixels.size());
        if (!dibImage) {
            *bufferSize = needed;
            return S_OK;
        }
        if (*bufferSize < needed) return E_OUTOFMEMORY;
        BITMAPINFOHEADER bih{};
        bih.biSize = sizeof bih;
        bih.biWidth = lastShown_.width;
        bih.biHeight = -lastShown_.height;
        bih.biPlanes = 1;
        bih.biBitCount = lastShown_.bitCount;
        bih.biCompression = BI_RGB;
        bih.biSizeImage = static_cast<DWORD>(lastShown_.pixels.size());
        std::memcpy(dibImage, &bih, sizeof bih);
        std::memcpy(reinterpret_cast<BYTE*>(dibImage) + sizeof bih, lastShown_.pixels.data(), lastShown_.pixels.size());
        return S_OK;
    }
    HRESULT IsUsingDefaultSource() override { return source_.custom ? S_FALSE : S_OK; }
    HRESULT IsUsingDefaultDestination() override { return destination_.custom ? S_FALSE : S_OK; }

    // ---- IVideoWindow: recorded, and handed to the sink with every frame ----
    HRESULT put_Caption(BSTR caption) override {
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        caption_ = caption ? caption : L"";
        return S_OK;
    }
    HRESULT get_Caption(BSTR* caption) override {
        if (!caption) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        *caption = SysAllocString(caption_.c_str());
        return *caption ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_WindowStyle(LONG v) override { return setValue(style_, v); }
    HRESULT get_WindowStyle(LONG* v) override { return getValue(style_, v); }
    HRESULT put_WindowStyleEx(LONG v) override { return setValue(styleEx_, v); }
    HRESULT get_WindowStyleEx(LONG* v) override { return getValue(styleEx_, v); }
    HRESULT put_AutoShow(LONG v) override { return setValue(autoShow_, v); }
    HRESULT get_AutoShow(LONG* v) override { return getValue(autoShow_, v); }
    HRESULT put_WindowState(LONG v) override { return setValue(windowState_, v); }
    HRESULT get_WindowState(LONG* v) override { return getValue(windowState_, v); }
    HRESULT put_BackgroundPalette(LONG v) override { return setValue(backgroundPalette_, v); }
    HRESULT get_BackgroundPalette(LONG* v) override { return getValue(backgroundPalette_, v); }
    HRESULT put_Visible(LONG v) override { return setValue(visible_, v); }
    HRESULT get_Visible(LONG* v) override { return getValue(visible_, v); }
    HRESULT put_Left(LONG v) override { return moveEdge(&windowRect_.left, &windowRect_.right, v); }
    HRESULT get_Left(LONG* v) override { return getWindow(v, [this] { return windowRect_.left; }); }
    HRESULT put_Width(LONG v) override { return resize(&windowRect_.left, &windowRect_.right, v); }
    HRESULT get_Width(LONG* v) override { return getWindow(v, [this] { return windowRect_.right - windowRect_.left; }); }
    HRESULT put_Top(LONG v) override { return moveEdge(&windowRect_.top, &windowRect_.bottom, v); }
    HRESULT get_Top(LONG* v) override { return getWindow(v, [this] { return windowRect_.top; }); }
    HRESULT put_Height(LONG v) override { return resize(&windowRect_.top, &windowRect_.bottom, v); }
    HRESULT get_Height(LONG* v) override { return getWindow(v, [this] { return windowRect_.bottom - windowRect_.top; }); }
    HRESULT put_Owner(OAHWND owner) override {
        RETURN_IF_NOT_CONNECTED;
        HWND previous;
        {
            std::lock_guard<std::mutex> l(frameMutex_);
            previous = owner_;
            owner_ = reinterpret_cast<HWND>(owner);
        }
        if (previous && previous != reinterpret_cast<HWND>(owner)) withSink(previous, [&](FrameSink* s) { s->detached(previous); });
        return S_OK;
    }
    HRESULT get_Owner(OAHWND* owner) override {
        if (!owner) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        *owner = reinterpret_cast<OAHWND>(owner_);
        return S_OK;
    }
    HRESULT put_MessageDrain(OAHWND drain) override {
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        drain_ = reinterpret_cast<HWND>(drain);
        return S_OK;
    }
    HRESULT get_MessageDrain(OAHWND* drain) override {
        if (!drain) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        *drain = reinterpret_cast<OAHWND>(drain_);
        return S_OK;
    }
    HRESULT get_BorderColor(LONG* v) override { return getValue(borderColour_, v); }
    HRESULT put_BorderColor(LONG v) override { return setValue(borderColour_, v); }
    HRESULT get_FullScreenMode(LONG* v) override {
        if (!v) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        *v = OAFALSE;
        return S_OK;
    }
    HRESULT put_FullScreenMode(LONG v) override { return v == OAFALSE ? S_OK : E_NOTIMPL; }
    HRESULT SetWindowForeground(LONG) override { return S_OK; }
    HRESULT NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
    HRESULT SetWindowPosition(LONG l, LONG t, LONG w, LONG h) override {
        RETURN_IF_NOT_CONNECTED;
        if (w < 0 || h < 0) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(frameMutex_);
        windowRect_ = RECT{l, t, l + w, t + h};
        sizeSet_ = true;
        return S_OK;
    }
    HRESULT GetWindowPosition(LONG* l, LONG* t, LONG* w, LONG* h) override {
        if (!l || !t || !w || !h) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(frameMutex_);
        *l = windowRect_.left;
        *t = windowRect_.top;
        *w = windowRect_.right - windowRect_.left;
        *h = windowRect_.bottom - windowRect_.top;
        return S_OK;
    }
    HRESULT GetMinIdealImageSize(LONG* w, LONG* h) override { return GetVideoSize(w, h); }
    HRESULT GetMaxIdealImageSize(LONG* w, LONG* h) override { return GetVideoSize(w, h); }
    HRESULT GetRestorePosition(LONG* l, LONG* t, LONG* w, LONG* h) override { return GetWindowPosition(l, t, w, h); }
    HRESULT HideCursor(LONG hide) override { return setValue(cursorHidden_, hide); }
    HRESULT IsCursorHidden(LONG* hidden) override { return getValue(cursorHidden_, hidden); }

    LONG framesReceived() {
        std::lock_guard<std::mutex> l(frameMutex_);
        return framesReceived_;
    }

private:
    struct Placement {
        LONG v[4] = {0, 0, 0, 0};  // left, top, width, height
        bool custom = false;
    };

    const VIDEOINFOHEADER* videoInfo() {
        if (!input_->IsConnected()) return nullptr;
        const CMediaType& mt = input_->CurrentMediaType();
        if (mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
        return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    }
    template <class Get>
    HRESULT getInfo(LONG* out, Get get) {
        if (!out) return E_POINTER;
        const VIDEOINFOHEADER* vih = videoInfo();
        if (!vih) return VFW_E_NOT_CONNECTED;
        *out = get(vih);
        return S_OK;
    }
    HRESULT videoSize(LONG* w, LONG* h) {
        const VIDEOINFOHEADER* vih = videoInfo();
        if (!vih) return VFW_E_NOT_CONNECTED;
        *w = vih->bmiHeader.biWidth;
        *h = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
        return S_OK;
    }
    HRESULT setRect(Placement& p, int i, LONG v) {
        RETURN_IF_NOT_CONNECTED;
        if (i >= 2 && v <= 0) return E_INVALIDARG;
        std::lock_guard<std::mutex> l(frameMutex_);
        fillDefault(p);
        p.v[i] = v;
        p.custom = true;
        return S_OK;
    }
    HRESULT getRect(Placement& p, int i, LONG* v) {
        if (!v) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        fillDefault(p);
        *v = p.v[i];
        return S_OK;
    }
    HRESULT setPosition(Placement& p, LONG l, LONG t, LONG w, LONG h) {
        RETURN_IF_NOT_CONNECTED;
        if (w <= 0 || h <= 0) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(frameMutex_);
        p.v[0] = l;
        p.v[1] = t;
        p.v[2] = w;
        p.v[3] = h;
        p.custom = true;
        return S_OK;
    }
    HRESULT getPosition(Placement& p, LONG* l, LONG* t, LONG* w, LONG* h) {
        if (!l || !t || !w || !h) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(frameMutex_);
        fillDefault(p);
        *l = p.v[0];
        *t = p.v[1];
        *w = p.v[2];
        *h = p.v[3];
        return S_OK;
    }
    // The default source and destination are the whole video.
    void fillDefault(Placement& p) {
        if (p.custom) return;
        const VIDEOINFOHEADER* vih = videoInfo();
        p.v[0] = p.v[1] = 0;
        p.v[2] = vih ? vih->bmiHeader.biWidth : 0;
        p.v[3] = vih ? std::abs(vih->bmiHeader.biHeight) : 0;
    }
    HRESULT setValue(LONG& field, LONG v) {
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        field = v;
        return S_OK;
    }
    HRESULT getValue(LONG& field, LONG* v) {
        if (!v) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        *v = field;
        return S_OK;
    }
    HRESULT moveEdge(LONG* low, LONG* high, LONG v) {
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        const LONG extent = *high - *low;
        *low = v;
        *high = v + extent;
        return S_OK;
    }
    HRESULT resize(LONG* low, LONG* high, LONG v) {
        RETURN_IF_NOT_CONNECTED;
        if (v < 0) return E_INVALIDARG;
        std::lock_guard<std::mutex> l(frameMutex_);
        *high = *low + v;
        sizeSet_ = true;
        return S_OK;
    }
    template <class Get>
    HRESULT getWindow(LONG* v, Get get) {
        if (!v) return E_POINTER;
        RETURN_IF_NOT_CONNECTED;
        std::lock_guard<std::mutex> l(frameMutex_);
        *v = get();
        return S_OK;
    }
    void startPresenting() {
        std::lock_guard<std::mutex> l(frameMutex_);
        if (presenter_.joinable()) return;
        quit_ = false;
        presenter_ = std::thread([this] { present(); });
    }

    void stopPresenting() {
        std::thread t;
        {
            std::lock_guard<std::mutex> l(frameMutex_);
            quit_ = true;
            havePending_ = false;
            t.swap(presenter_);
        }
        frameReady_.notify_all();
        if (t.joinable()) t.join();
    }

    // A throw (from the sink, or a frame that cannot be copied) ends the presentation as the
    // renderer's error; Stop joins the thread as usual.
    void present() {
        guardStreaming(this, "video renderer", [this] { presentFrames(); });
    }

    void presentFrames() {
        std::unique_lock<std::mutex> l(frameMutex_);
        for (;;) {
            frameReady_.wait(l, [this] { return quit_ || havePending_; });
            if (quit_) return;
            VideoFrame frame;
            frame.width = pending_.width;
            frame.height = pending_.height;
            frame.bitCount = pending_.bitCount;
            frame.stride = pending_.stride;
            frame.start = pending_.start;
            frame.pixels.swap(pending_.pixels);
            havePending_ = false;
            frame.window = windowRect_;
            frame.style = style_;
            frame.messageDrain = drain_;
            const HWND owner = owner_;
            const bool shown = visible_ != OAFALSE;
            l.unlock();
            if (owner && shown) {
                withSink(owner, [&](FrameSink* s) { s->presentFrame(owner, frame); });
                attached_ = true;
            }
            l.lock();
            lastShown_ = std::move(frame);
        }
    }

    void detach() {
        HWND owner;
        {
            std::lock_guard<std::mutex> l(frameMutex_);
            owner = owner_;
        }
        if (owner && attached_.exchange(false)) withSink(owner, [&](FrameSink* s) { s->detached(owner); });
    }

    CCritSec lock_;
    std::unique_ptr<RendererInputPin> input_;

    std::mutex frameMutex_;
    std::condition_variable frameReady_;
    std::thread presenter_;
    bool quit_ = false;
    bool havePending_ = false;
    VideoFrame pending_;
    VideoFrame lastShown_;
    LONG framesReceived_ = 0;
    std::atomic<bool> attached_{false};

    HWND owner_ = nullptr;
    HWND drain_ = nullptr;
    std::wstring caption_;
    LONG style_ = 0;
    LONG styleEx_ = 0;
    LONG autoShow_ = OATRUE;
    LONG windowState_ = 0;
    LONG backgroundPalette_ = OAFALSE;
    LONG visible_ = OATRUE;
    LONG borderColour_ = 0;
    LONG cursorHidden_ = OAFALSE;
    RECT windowRect_{0, 0, 0, 0};
    bool sizeSet_ = false;
    Placement source_;
    Placement destination_;
};

RendererInputPin::RendererInputPin(VideoRenderer* renderer, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(NAME("Video renderer input"), renderer, lock, phr, L"Input"), renderer_(renderer) {}

HRESULT RendererInputPin::CheckMediaType(const CMediaType* mt) {
    if (!mt || mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo ||
        mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER& bih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
    WORD bits = 0;
    if (mt->subtype == MEDIASUBTYPE_RGB24) bits = 24;
    else if (mt->subtype == MEDIASUBTYPE_RGB32) bits = 32;
    else return VFW_E_TYPE_NOT_ACCEPTED;
    if (bih.biBitCount != bits || bih.biWidth <= 0 || bih.biHeight == 0 || bih.biWidth > 16384 ||
        bih.biHeight > 16384 || bih.biHeight < -16384 || (bih.biCompression != BI_RGB && bih.biCompression != BI_BITFIELDS))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT RendererInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return guardStreaming(renderer_, "video renderer", [&] { renderer_->takeFrame(sample); });
}

HRESULT RendererInputPin::CompleteConnect(IPin* receivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) renderer_->connected();
    return hr;
}

}  // namespace

#undef RETURN_IF_NOT_CONNECTED

CUnknown* createVideoRenderer(LPUNKNOWN, HRESULT*) { return new VideoRenderer(); }

}  // namespace tarvelo::graph
