#pragma once
// Helpers of the graph tests: COM set-up, declared replay cameras, a recording frame sink, a
// test filter whose input takes one video size only, and small pin and thread utilities.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/graph.h"
#include "platform/streams.h"
#include "capture_fixtures.h"

template <class T>
void safeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Threads of the process. The first thread started may bring a sanitizer's helper thread
// with it, so one is started and joined before the first count.
inline int listedThreads() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

inline int threadCount() {
    // The warm-up thread, though joined, may stay listed for a while: wait (bounded) until it has
    // left, or the baseline counts it.
    static const bool warmedUp = [] {
        const int before = listedThreads();
        std::thread([] {}).join();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (listedThreads() > before && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return true;
    }();
    (void)warmedUp;
    return listedThreads();
}

// The thread count once the threads already joined have left /proc. pthread_join returns when the
// kernel clears the thread's id, before it reaps the task; on a loaded machine an ended thread can
// stay listed for a while. The wait is bounded; the count returned is the first one at or below
// expected, or the last one seen.
inline int settledThreadCount(int expected) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int n = threadCount();
    while (n > expected && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        n = threadCount();
    }
    return n;
}

// Waits (bounded) until pred holds; the bound only keeps a broken build from hanging.
template <class Pred>
bool eventually(Pred pred, int seconds = 10) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The n-th pin of a direction, with a reference.
inline IPin* pinOf(IBaseFilter* filter, PIN_DIRECTION wanted, int index) {
    IEnumPins* e = nullptr;
    if (FAILED(filter->EnumPins(&e))) return nullptr;
    IPin* pin = nullptr;
    IPin* found = nullptr;
    while (!found && e->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        pin->QueryDirection(&dir);
        if (dir == wanted && index-- == 0) found = pin;
        else pin->Release();
    }
    e->Release();
    return found;
}

inline int pinCount(IBaseFilter* filter) {
    IEnumPins* e = nullptr;
    if (FAILED(filter->EnumPins(&e))) return -1;
    int n = 0;
    IPin* pin = nullptr;
    while (e->Next(1, &pin, nullptr) == S_OK) {
        ++n;
        pin->Release();
    }
    e->Release();
    return n;
}

inline bool connected(IPin* pin) {
    IPin* peer = nullptr;
    HRESULT hr = pin->ConnectedTo(&peer);
    if (peer) peer->Release();
    return hr == S_OK;
}

inline std::wstring pinName(IPin* pin) {
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    return info.achName;
}

inline GUID pinCategory(IPin* pin) {
    GUID category = GUID_NULL;
    IKsPropertySet* ks = nullptr;
    if (SUCCEEDED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&ks)))) {
        DWORD returned = 0;
        ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &returned);
        ks->Release();
    }
    return category;
}

template <class I>
I* create(REFCLSID clsid, REFIID iid) {
    I* p = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&p));
    EXPECT_EQ(S_OK, hr);
    return p;
}

// A process environment for one test: COM on this thread, no webcams unless asked, and the
// replay cameras of a declaration file written by the test.
class GraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TARVELO_V4L2_DEVICES", "", 1);
        ::unsetenv("TARVELO_REPLAY_CAMERAS");
        baselineObjects_ = tarvelo::streams::liveObjectCount();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    void TearDown() override {
        CoUninitialize();
        ::unsetenv("TARVELO_REPLAY_CAMERAS");
        ::unsetenv("TARVELO_V4L2_DEVICES");
    }

    // Declares cameras ("name | folder | options" lines) with folders relative to the test's
    // temporary folder.
    void declare(const std::string& lines) {
        writeFile(dir_.path + "/cameras.txt", lines);
        ::setenv("TARVELO_REPLAY_CAMERAS", (dir_.path + "/cameras.txt").c_str(), 1);
    }

    // A folder of frames w x h whose top half is `top` and bottom half `bottom` (gray levels).
    std::string frames(const std::string& name, int w, int h, int count, int top = 200, int bottom = 50) {
        const std::string folder = dir_.path + "/" + name;
        ::mkdir(folder.c_str(), 0700);
        for (int i = 0; i < count; ++i) {
            std::string pixels;
            for (int y = 0; y < h; ++y) pixels += std::string(static_cast<size_t>(w), static_cast<char>(y < h / 2 ? top : bottom));
            char file[64];
            std::snprintf(file, sizeof file, "/frame%04d.pgm", i);
            writeFile(folder + file, "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + pixels);
        }
        return folder;
    }

    LONG liveObjects() const { return tarvelo::streams::liveObjectCount() - baselineObjects_; }

    TempDir dir_;
    LONG baselineObjects_ = 0;
};

// The device monikers of the video input category, in enumeration order.
inline HRESULT videoDevices(std::vector<IMoniker*>& out) {
    ICreateDevEnum* devEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&devEnum));
    if (FAILED(hr)) return hr;
    IEnumMoniker* e = nullptr;
    hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0);
    devEnum->Release();
    if (hr != S_OK) return hr;
    IMoniker* m = nullptr;
    while (e->Next(1, &m, nullptr) == S_OK) out.push_back(m);
    e->Release();
    return S_OK;
}

inline HRESULT friendlyName(IMoniker* m, std::string& name) {
    IPropertyBag* bag = nullptr;
    HRESULT hr = m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    if (FAILED(hr)) return hr;
    VARIANT v;
    VariantInit(&v);
    hr = bag->Read(L"FriendlyName", &v, nullptr);
    if (SUCCEEDED(hr)) name = tarvelo::com::narrow(v.bstrVal);
    VariantClear(&v);
    bag->Release();
    return hr;
}

// The capture filter of the first device of that name.
inline IBaseFilter* findCamera(const std::string& wanted) {
    std::vector<IMoniker*> devices;
    IBaseFilter* filter = nullptr;
    if (videoDevices(devices) == S_OK) {
        for (IMoniker* m : devices) {
            std::string name;
            if (!filter && SUCCEEDED(friendlyName(m, name)) && name == wanted)
                m->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        }
    }
    for (IMoniker* m : devices) m->Release();
    return filter;
}

// Records what a renderer hands over, and on which threads.
class RecordingSink : public tarvelo::graph::FrameSink {
public:
    void presentFrame(HWND owner, const tarvelo::graph::VideoFrame& frame) override {
        std::lock_guard<std::mutex> l(mutex);
        frames.push_back(frame);
        owners.push_back(owner);
        threads.push_back(std::this_thread::get_id());
    }
    void detached(HWND) override { ++detaches; }
    size_t count() {
        std::lock_guard<std::mutex> l(mutex);
        return frames.size();
    }
    std::mutex mutex;
    std::vector<tarvelo::graph::VideoFrame> frames;
    std::vector<HWND> owners;
    std::vector<std::thread::id> threads;
    std::atomic<int> detaches{0};
};

// A sink filter whose input accepts RGB24 of one size only, as a detector with a fixed input
// resolution does; it offers no type of its own.
class SizedSink : public CBaseFilter {
public:
    SizedSink(LONG width, LONG height) : CBaseFilter(NAME("Sized sink"), nullptr, &lock_, GUID_NULL), width_(width), height_(height) {
        HRESULT hr = S_OK;
        pin_.reset(new Input(this, &hr));
        AddRef();
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
    std::atomic<int> received{0};
    bool throwOnReceive = false;  // as a filter that breaks the rule that nothing crosses Receive

private:
    class Input : public CBaseInputPin {
    public:
        Input(SizedSink* f, HRESULT* phr) : CBaseInputPin(NAME("Sized sink input"), f, &f->lock_, phr, L"In"), f_(f) {}
        HRESULT CheckMediaType(const CMediaType* mt) override {
            if (mt->subtype != MEDIASUBTYPE_RGB24 || mt->formattype != FORMAT_VideoInfo) return VFW_E_TYPE_NOT_ACCEPTED;
            const BITMAPINFOHEADER& b = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
            return b.biWidth == f_->width_ && std::abs(b.biHeight) == f_->height_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT Receive(IMediaSample* s) override {
            HRESULT hr = CBaseInputPin::Receive(s);
            if (hr == S_OK) ++f_->received;
            if (f_->throwOnReceive) throw std::runtime_error("sized sink refuses");
            return hr;
        }

    private:
        SizedSink* f_;
    };
    CCritSec lock_;
    LONG width_, height_;
    std::unique_ptr<Input> pin_;
};

// A filter that writes every state change it is given into a shared log ("Pause B"), with an
// input and/or an output that connect to each other with any type.
class Relay : public CBaseFilter {
public:
    Relay(const std::string& name, std::vector<std::string>* log, bool hasInput, bool hasOutput)
        : CBaseFilter(NAME("Relay"), nullptr, &lock_, GUID_NULL), name_(name), log_(log) {
        HRESULT hr = S_OK;
        if (hasInput) in_.reset(new In(this, &hr));
        if (hasOutput) out_.reset(new Out(this, &hr));
        AddRef();
    }
    HRESULT Stop() override { return record("Stop", CBaseFilter::Stop()); }
    HRESULT Pause() override { return record("Pause", CBaseFilter::Pause()); }
    HRESULT Run(REFERENCE_TIME t) override { return record("Run", CBaseFilter::Run(t)); }
    int GetPinCount() override { return (in_ ? 1 : 0) + (out_ ? 1 : 0); }
    CBasePin* GetPin(int n) override {
        if (in_ && n == 0) return in_.get();
        if (out_ && n == (in_ ? 1 : 0)) return out_.get();
        return nullptr;
    }

private:
    HRESULT record(const char* what, HRESULT hr) {
        log_->push_back(std::string(what) + " " + name_);
        return hr;
    }
    class In : public CBaseInputPin {
    public:
        In(Relay* f, HRESULT* phr) : CBaseInputPin(NAME("Relay input"), f, &f->lock_, phr, L"In") {}
        HRESULT CheckMediaType(const CMediaType* mt) override { return mt->IsValid() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    };
    class Out : public CBaseOutputPin {
    public:
        Out(Relay* f, HRESULT* phr) : CBaseOutputPin(NAME("Relay output"), f, &f->lock_, phr, L"Out") {}
        HRESULT CheckMediaType(const CMediaType* mt) override { return mt->IsValid() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
        HRESULT GetMediaType(int position, CMediaType* mt) override {
            if (position != 0) return VFW_S_NO_MORE_ITEMS;
            mt->InitMediaType();
            mt->SetType(&MEDIATYPE_Video);
            mt->SetSubtype(&MEDIASUBTYPE_RGB24);
            mt->SetFormatType(&FORMAT_None);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* request) override {
            request->cBuffers = 1;
            request->cbBuffer = 16;
            request->cbAlign = 1;
            ALLOCATOR_PROPERTIES actual{};
            return a->SetProperties(request, &actual);
        }
    };
    CCritSec lock_;
    std::string name_;
    std::vector<std::string>* log_;
    std::unique_ptr<In> in_;
    std::unique_ptr<Out> out_;
};
