// The filter graph manager.
//
// Connections are made only by direct media-type negotiation between the two pins: no converter
// is ever inserted. State changes go through the filters in dependency order: Pause and Run
// downstream first, so a renderer is ready before its source delivers; Stop upstream first, so
// when a source's Stop has returned (its streaming thread joined) nothing more flows into the
// filters below it. Run never waits for a first frame. Removing a filter from a graph that is not
// stopped stops the graph.
#include "platform/graph.h"
#include "platform/graph/Builtin.h"
#include "platform/graph/ComObjects.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarvelo::graph {

namespace {

template <class T>
void releaseAll(std::vector<T*>& list) {
    for (T* p : list)
        if (p) p->Release();
    list.clear();
}

// The pins of a filter, each with a reference.
std::vector<IPin*> pinsOf(IBaseFilter* filter) {
    std::vector<IPin*> pins;
    IEnumPins* e = nullptr;
    if (FAILED(filter->EnumPins(&e)) || !e) return pins;
    IPin* pin = nullptr;
    while (e->Next(1, &pin, nullptr) == S_OK) pins.push_back(pin);
    e->Release();
    return pins;
}

IBaseFilter* filterOfPin(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return info.pFilter;  // holds a reference
}

bool isConnected(IPin* pin) {
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
        peer->Release();
        return true;
    }
    return false;
}

class FilterGraph : public CUnknown,
                    public IGraphBuilder,
                    public IMediaControl,
                    public IMediaEventSink,
                    public IBasicVideo,
                    public IVideoWindow {
public:
    FilterGraph() : CUnknown(NAME("Filter graph"), nullptr) {}

    ~FilterGraph() override {
        // Releasing the graph stops it and takes every filter out, downstream first.
        Stop();
        std::vector<IBaseFilter*> order;
        {
            std::lock_guard<std::recursive_mutex> lock(mutex_);
            order = downstreamFirst();
            for (IBaseFilter* f : order) f->AddRef();
        }
        for (IBaseFilter* f : order) {
            RemoveFilter(f);
            f->Release();
        }
    }

    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IGraphBuilder) return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
        if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
        if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
        if (riid == IID_IDispatch) return GetInterface(static_cast<IMediaControl*>(this), ppv);
        if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
        if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    // ---- IFilterGraph ----
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        if (!filter) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (indexOf(filter) >= 0) return E_INVALIDARG;
        // Names fit FILTER_INFO; a taken name gets a number, shortened to make room for it.
        const size_t longest = MAX_FILTER_NAME - 1;
        std::wstring wanted = name && *name ? std::wstring(name) : std::wstring(L"Filter");
        if (wanted.size() > longest) wanted.resize(longest);
        std::wstring unique = wanted;
        HRESULT result = S_OK;
        for (int n = 1; nameTaken(unique); ++n) {
            if (n > 9999) return VFW_E_DUPLICATE_NAME;
            wchar_t suffix[16];
            swprintf(suffix, 16, L" %04d", n);
            const std::wstring tail = suffix;
            unique = wanted.substr(0, std::min(wanted.size(), longest - tail.size())) + tail;
            result = VFW_S_DUPLICATE_NAME;
        }
        HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
        if (FAILED(hr)) return hr;
        filter->AddRef();
        filters_.push_back({filter, unique});
        // A filter joining a running graph is brought to the graph's state.
        if (state_ != State_Stopped) {
            filter->Pause();
            if (state_ == State_Running) filter->Run(0);
        }
        return result;
    }

    HRESULT RemoveFilter(IBaseFilter* filter) override {
        if (!filter) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        int i = indexOf(filter);
        if (i < 0) return VFW_E_NOT_FOUND;
        // Pins disconnect only when stopped, and an upstream filter left running would go on
        // delivering into the removed one: the whole graph stops first.
        if (state_ != State_Stopped) stopAll();
        std::vector<IPin*> pins = pinsOf(filter);
        for (IPin* pin : pins) {
            IPin* peer = nullptr;
            if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
                peer->Disconnect();
                pin->Disconnect();
                peer->Release();
            }
        }
        releaseAll(pins);
        filters_.erase(filters_.begin() + i);
        filter->JoinFilterGraph(nullptr, nullptr);
        filter->Release();
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** out) override {
        if (!out) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::vector<IBaseFilter*> list;
        for (const Entry& e : filters_) list.push_back(e.filter);
        return FilterEnumerator::create(list, out);
    }

    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
        if (!filter || !name) return E_POINTER;
        *filter = nullptr;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        for (const Entry& e : filters_)
            if (e.name == name) {
                e.filter->AddRef();
                *filter = e.filter;
                return S_OK;
            }
        return VFW_E_NOT_FOUND;
    }

    HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mt) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        HRESULT hr = checkConnectable(output, input);
        if (FAILED(hr)) return hr;
        hr = output->Connect(input, mt);
        if (FAILED(hr)) freePins(output, input);
        return hr;
    }

    HRESULT Reconnect(IPin* pin) override {
        if (!pin) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        IPin* peer = nullptr;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
        PIN_DIRECTION dir;
        pin->QueryDirection(&dir);
        IPin* output = dir == PINDIR_OUTPUT ? pin : peer;
        IPin* input = dir == PINDIR_OUTPUT ? peer : pin;
        AM_MEDIA_TYPE mt{};
        HRESULT hr = output->ConnectionMediaType(&mt);
        output->Disconnect();
        input->Disconnect();
        // Offer the old type first; when it no longer fits, negotiate afresh.
        HRESULT again = SUCCEEDED(hr) ? output->Connect(input, &mt) : E_FAIL;
        if (FAILED(again)) again = output->Connect(input, nullptr);
        if (SUCCEEDED(hr)) FreeMediaType(mt);
        if (FAILED(again)) freePins(output, input);
        peer->Release();
        return again;
    }

    HRESULT Disconnect(IPin* pin) override {
        if (!pin) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        return pin->Disconnect();
    }

    HRESULT SetDefaultSyncSource() override { return S_OK; }

    // ---- IGraphBuilder ----
    HRESULT Connect(IPin* output, IPin* input) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        HRESULT hr = checkConnectable(output, input);
        if (FAILED(hr)) return hr;
        hr = output->Connect(input, nullptr);
        if (SUCCEEDED(hr)) return S_OK;
        freePins(output, input);
        return VFW_E_CANNOT_CONNECT;
    }
    HRESULT Render(IPin*) override { return E_NOTIMPL; }
    HRESULT RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** filter) override {
        if (filter) *filter = nullptr;
        return E_NOTIMPL;
    }
    HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
    HRESULT Abort() override { return S_OK; }
    HRESULT ShouldOperationContinue() override { return S_OK; }

    // ---- IMediaControl ----
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT Run() override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (state_ == State_Running) return S_OK;
        if (state_ == State_Stopped) {
            HRESULT hr = pauseAll();
            if (FAILED(hr)) return hr;
        }
        std::vector<IBaseFilter*> order = downstreamFirst();
        for (IBaseFilter* f : order) {
            HRESULT hr = f->Run(0);
            if (FAILED(hr)) {
                stopAll();
                return hr;
            }
        }
        state_ = State_Running;
        return S_OK;
    }

    HRESULT Pause() override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (state_ == State_Paused) return S_OK;
        return pauseAll();
    }

    HRESULT Stop() override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (state_ == State_Stopped) return S_OK;
        return stopAll();
    }

    HRESULT GetState(LONG, OAFilterState* state) override {
        if (!state) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        *state = state_;
        return S_OK;
    }
    HRESULT RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT AddSourceFilter(BSTR, IDispatch** unknown) override {
        if (unknown) *unknown = nullptr;
        return E_NOTIMPL;
    }
    HRESULT get_FilterCollection(IDispatch** unknown) override {
        if (unknown) *unknown = nullptr;
        return E_NOTIMPL;
    }
    HRESULT get_RegFilterCollection(IDispatch** unknown) override {
        if (unknown) *unknown = nullptr;
        return E_NOTIMPL;
    }
    HRESULT StopWhenReady() override { return Stop(); }

    // ---- IMediaEventSink ----
    // Called from streaming threads: it takes only the event lock, never the graph's.
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
        std::lock_guard<std::mutex> lock(eventMutex_);
        try {
            events_.push_back({code, param1, param2});
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        if (events_.size() > 256) events_.pop_front();
        return S_OK;
    }

    std::vector<GraphEvent> events() {
        std::lock_guard<std::mutex> lock(eventMutex_);
        return std::vector<GraphEvent>(events_.begin(), events_.end());
    }

    // ---- IBasicVideo and IVideoWindow: handed to the renderer ----
#define TARVELO_FORWARD(Iface, method, params, args)          \
    HRESULT method params override {                          \
        Iface* target = nullptr;                              \
        HRESULT hr = find(IID_##Iface, reinterpret_cast<void**>(&target)); \
        if (FAILED(hr)) return hr;                            \
        hr = target->method args;                             \
        target->Release();                                    \
        return hr;                                            \
    }
#define BV(method, params, args) TARVELO_FORWARD(IBasicVideo, method, params, args)
#define VW(method, params, args) TARVELO_FORWARD(IVideoWindow, method, params, args)
    BV(get_AvgTimePerFrame, (REFTIME * v), (v))
    BV(get_BitRate, (LONG * v), (v))
    BV(get_BitErrorRate, (LONG * v), (v))
    BV(get_VideoWidth, (LONG * v), (v))
    BV(get_VideoHeight, (LONG * v), (v))
    BV(put_SourceLeft, (LONG v), (v))
    BV(get_SourceLeft, (LONG * v), (v))
    BV(put_SourceWidth, (LONG v), (v))
    BV(get_SourceWidth, (LONG * v), (v))
    BV(put_SourceTop, (LONG v), (v))
    BV(get_SourceTop, (LONG * v), (v))
    BV(put_SourceHeight, (LONG v), (v))
    BV(get_SourceHeight, (LONG * v), (v))
    BV(put_DestinationLeft, (LONG v), (v))
    BV(get_DestinationLeft, (LONG * v), (v))
    BV(put_DestinationWidth, (LONG v), (v))
    BV(get_DestinationWidth, (LONG * v), (v))
    BV(put_DestinationTop, (LONG v), (v))
    BV(get_DestinationTop, (LONG * v), (v))
    BV(put_DestinationHeight, (LONG v), (v))
    BV(get_DestinationHeight, (LONG * v), (v))
    BV(SetSourcePosition, (LONG l, LONG t, LONG w, LONG h), (l, t, w, h))
    BV(GetSourcePosition, (LONG * l, LONG * t, LONG * w, LONG * h), (l, t, w, h))
    BV(SetDefaultSourcePosition, (), ())
    BV(SetDestinationPosition, (LONG l, LONG t, LONG w, LONG h), (l, t, w, h))
    BV(GetDestinationPosition, (LONG * l, LONG * t, LONG * w, LONG * h), (l, t, w, h))
    BV(SetDefaultDestinationPosition, (), ())
    BV(GetVideoSize, (LONG * w, LONG * h), (w, h))
    BV(GetVideoPaletteEntries, (LONG s, LONG c, LONG * r, LONG * p), (s, c, r, p))
    BV(GetCurrentImage, (LONG * size, LONG * image), (size, image))
    BV(IsUsingDefaultSource, (), ())
    BV(IsUsingDefaultDestination, (), ())

    VW(put_Caption, (BSTR v), (v))
    VW(get_Caption, (BSTR * v), (v))
    VW(put_WindowStyle, (LONG v), (v))
    VW(get_WindowStyle, (LONG * v), (v))
    VW(put_WindowStyleEx, (LONG v), (v))
    VW(get_WindowStyleEx, (LONG * v), (v))
    VW(put_AutoShow, (LONG v), (v))
    VW(get_AutoShow, (LONG * v), (v))
    VW(put_WindowState, (LONG v), (v))
    VW(get_WindowState, (LONG * v), (v))
    VW(put_BackgroundPalette, (LONG v), (v))
    VW(get_BackgroundPalette, (LONG * v), (v))
    VW(put_Visible, (LONG v), (v))
    VW(get_Visible, (LONG * v), (v))
    VW(put_Left, (LONG v), (v))
    VW(get_Left, (LONG * v), (v))
    VW(put_Width, (LONG v), (v))
    VW(get_Width, (LONG * v), (v))
    VW(put_Top, (LONG v), (v))
    VW(get_Top, (LONG * v), (v))
    VW(put_Height, (LONG v), (v))
    VW(get_Height, (LONG * v), (v))
    VW(put_Owner, (OAHWND v), (v))
    VW(get_Owner, (OAHWND * v), (v))
    VW(put_MessageDrain, (OAHWND v), (v))
    VW(get_MessageDrain, (OAHWND * v), (v))
    VW(get_BorderColor, (LONG * v), (v))
    VW(put_BorderColor, (LONG v), (v))
    VW(get_FullScreenMode, (LONG * v), (v))
    VW(put_FullScreenMode, (LONG v), (v))
    VW(SetWindowForeground, (LONG v), (v))
    VW(NotifyOwnerMessage, (OAHWND w, LONG m, LONG_PTR a, LONG_PTR b), (w, m, a, b))
    VW(SetWindowPosition, (LONG l, LONG t, LONG w, LONG h), (l, t, w, h))
    VW(GetWindowPosition, (LONG * l, LONG * t, LONG * w, LONG * h), (l, t, w, h))
    VW(GetMinIdealImageSize, (LONG * w, LONG * h), (w, h))
    VW(GetMaxIdealImageSize, (LONG * w, LONG * h), (w, h))
    VW(GetRestorePosition, (LONG * l, LONG * t, LONG * w, LONG * h), (l, t, w, h))
    VW(HideCursor, (LONG v), (v))
    VW(IsCursorHidden, (LONG * v), (v))
#undef BV
#undef VW
#undef TARVELO_FORWARD

private:
    struct Entry {
        IBaseFilter* filter;
        std::wstring name;
    };

    int indexOf(IBaseFilter* filter) const {
        for (size_t i = 0; i < filters_.size(); ++i)
            if (filters_[i].filter == filter) return static_cast<int>(i);
        return -1;
    }

    bool nameTaken(const std::wstring& name) const {
        return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.name == name; });
    }

    bool inGraph(IPin* pin) {
        IBaseFilter* f = filterOfPin(pin);
        if (!f) return false;
        bool in = indexOf(f) >= 0;
        f->Release();
        return in;
    }

    HRESULT checkConnectable(IPin* output, IPin* input) {
        if (!output || !input) return E_POINTER;
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!inGraph(output) || !inGraph(input)) return VFW_E_NOT_IN_GRAPH;
        PIN_DIRECTION outDir, inDir;
        if (FAILED(output->QueryDirection(&outDir)) || FAILED(input->QueryDirection(&inDir)) ||
            outDir != PINDIR_OUTPUT || inDir != PINDIR_INPUT)
            return VFW_E_INVALID_DIRECTION;
        if (isConnected(output) || isConnected(input)) return VFW_E_ALREADY_CONNECTED;
        return S_OK;
    }

    // A failed negotiation must not leave either pin half-connected.
    static void freePins(IPin* output, IPin* input) {
        if (isConnected(output)) output->Disconnect();
        if (isConnected(input)) input->Disconnect();
    }

    // Every filter after all the filters it delivers to.
    std::vector<IBaseFilter*> downstreamFirst() {
        const size_t n = filters_.size();
        std::vector<std::vector<size_t>> below(n);
        for (size_t i = 0; i < n; ++i) {
            std::vector<IPin*> pins = pinsOf(filters_[i].filter);
            for (IPin* pin : pins) {
                PIN_DIRECTION dir;
                IPin* peer = nullptr;
                if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) continue;
                if (FAILED(pin->ConnectedTo(&peer)) || !peer) continue;
                if (IBaseFilter* f = filterOfPin(peer)) {
                    int j = indexOf(f);
                    if (j >= 0) below[i].push_back(static_cast<size_t>(j));
                    f->Release();
                }
                peer->Release();
            }
            releaseAll(pins);
        }
        std::vector<int> mark(n, 0);  // 0 new, 1 in progress, 2 placed
        std::vector<IBaseFilter*> order;
        std::function<void(size_t)> visit = [&](size_t i) {
            if (mark[i]) return;  // placed, or a cycle that no connection rule allows
            mark[i] = 1;
            for (size_t j : below[i]) visit(j);
            mark[i] = 2;
            order.push_back(filters_[i].filter);
        };
        for (size_t i = 0; i < n; ++i) visit(i);
        return order;
    }

    HRESULT pauseAll() {
        std::vector<IBaseFilter*> order = downstreamFirst();
        for (IBaseFilter* f : order) {
            HRESULT hr = f->Pause();
            if (FAILED(hr)) {
                // A source that cannot start (a camera held elsewhere) fails the whole change.
                stopAll();
                return hr;
            }
        }
        state_ = State_Paused;
        return S_OK;
    }

    HRESULT stopAll() {
        std::vector<IBaseFilter*> order = downstreamFirst();
        std::reverse(order.begin(), order.end());
        HRESULT result = S_OK;
        for (IBaseFilter* f : order) {
            HRESULT hr = f->Stop();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        state_ = State_Stopped;
        return result;
    }

    // The first filter of the graph that has the interface (the renderer).
    HRESULT find(REFIID riid, void** ppv) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        for (const Entry& e : filters_)
            if (SUCCEEDED(e.filter->QueryInterface(riid, ppv))) return S_OK;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    std::recursive_mutex mutex_;
    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;
    std::mutex eventMutex_;
    std::deque<GraphEvent> events_;
};

}  // namespace

CUnknown* createFilterGraph(LPUNKNOWN, HRESULT*) { return new FilterGraph(); }

std::vector<GraphEvent> graphEvents(IUnknown* graph) {
    if (!graph) return {};
    IGraphBuilder* builder = nullptr;
    if (FAILED(graph->QueryInterface(IID_IGraphBuilder, reinterpret_cast<void**>(&builder)))) return {};
    // Only our own graph manager answers IGraphBuilder in this library.
    std::vector<GraphEvent> list = static_cast<FilterGraph*>(builder)->events();
    builder->Release();
    return list;
}

}  // namespace tarvelo::graph
