// Filters and pins: states, connection and media type negotiation, allocator negotiation, and the
// streaming checks of input pins.
#include "platform/streams.h"

#include <cwchar>
#include <new>

namespace {

WCHAR* copyName(LPCWSTR name) {
    if (!name) return nullptr;
    size_t n = std::wcslen(name) + 1;
    auto* copy = new (std::nothrow) WCHAR[n];
    if (copy) std::wmemcpy(copy, name, n);
    return copy;
}

void copyTruncated(WCHAR* target, size_t capacity, LPCWSTR source) {
    target[0] = 0;
    if (!source) return;
    size_t n = std::wcslen(source);
    if (n >= capacity) n = capacity - 1;
    std::wmemcpy(target, source, n);
    target[n] = 0;
}

// Failures that say only "not this type" become VFW_E_TYPE_NOT_ACCEPTED, as the platform reports.
HRESULT typeRefusal(HRESULT hr) {
    return (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
}

}  // namespace

// ======================= CBaseFilter =======================
CBaseFilter::CBaseFilter(const TCHAR* name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr)
    : CUnknown(name, outer, phr), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::~CBaseFilter() {
    delete[] m_pName;
    if (m_pClock) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(m_pLock);
    if (clock) clock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = clock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    CAutoLock lock(m_pLock);
    *clock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
    }
    m_State = State_Stopped;
    return result;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Run(start);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::StreamTime(CRefTime& time) {
    if (!m_pClock) return VFW_E_NO_CLOCK;
    REFERENCE_TIME now = 0;
    HRESULT hr = m_pClock->GetTime(&now);
    if (FAILED(hr)) return hr;
    time = now - m_tStart.m_time;
    return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion; }
void CBaseFilter::IncrementPinVersion() { ++m_PinVersion; }

HRESULT CBaseFilter::EnumPins(IEnumPins** enumPins) {
    if (!enumPins) return E_POINTER;
    *enumPins = new (std::nothrow) CEnumPins(this, nullptr);
    return *enumPins ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    CAutoLock lock(m_pLock);
    int n = GetPinCount();
    for (int i = 0; i < n; ++i) {
        CBasePin* p = GetPin(i);
        if (p && p->Name() && std::wcscmp(p->Name(), id) == 0) {
            *pin = p;
            p->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    copyTruncated(info->achName, MAX_FILTER_NAME, m_pName);
    info->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CAutoLock lock(m_pLock);
    m_pGraph = graph;
    m_pSink = nullptr;
    if (graph) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            m_pSink = sink;
            sink->Release();  // weak: the graph outlives its membership
        }
    }
    delete[] m_pName;
    m_pName = graph ? copyName(name) : nullptr;
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = m_pSink;
    if (!sink) return E_NOTIMPL;
    if (eventCode == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(eventCode, param1, param2);
}

// ======================= CBasePin =======================
CBasePin::CBasePin(const TCHAR* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName,
                   PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr, phr), m_pName(copyName(pinName)), m_dir(dir), m_pLock(lock), m_pFilter(filter) {}

CBasePin::~CBasePin() {
    delete[] m_pName;
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    if (mt) {
        CMediaType type(*mt);
        return AgreeMediaType(receivePin, &type);
    }
    return AgreeMediaType(receivePin, nullptr);
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* mt) {
    if (mt && !mt->IsPartiallySpecified()) return AttemptConnection(receivePin, mt);

    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int i = 0; i < 2; ++i) {
        IEnumMediaTypes* types = nullptr;
        // Round 0 is the peer's types unless we try ours first.
        bool peerTypes = (i == 0) != m_bTryMyTypesFirst;
        HRESULT hr = peerTypes ? receivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (SUCCEEDED(hr) && types) {
            hr = TryMediaTypes(receivePin, mt, types);
            types->Release();
            if (SUCCEEDED(hr)) return S_OK;
            if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED) failure = hr;
        }
    }
    return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types) {
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    types->Reset();
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || !candidate) break;
        CMediaType type(*candidate);
        DeleteMediaType(candidate);
        if (partial && !type.MatchesPartial(partial)) continue;
        HRESULT hr = AttemptConnection(receivePin, &type);
        if (SUCCEEDED(hr)) return hr;
        if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED) failure = hr;
    }
    return failure;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* mt) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(mt);
    if (hr == S_OK) {
        m_Connected = receivePin;
        m_Connected->AddRef();
        hr = SetMediaType(mt);
        if (SUCCEEDED(hr)) {
            hr = receivePin->ReceiveConnection(static_cast<IPin*>(this), mt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(receivePin);
                if (SUCCEEDED(hr)) return hr;
                receivePin->Disconnect();
            }
        }
    } else {
        hr = typeRefusal(hr);
    }
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    m_mt = CMediaType();
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    CMediaType type(*mt);
    hr = CheckMediaType(&type);
    if (hr != S_OK) {
        BreakConnect();
        return typeRefusal(hr);
    }
    m_Connected = connector;
    m_Connected->AddRef();
    hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(connector);
        if (SUCCEEDED(hr)) return S_OK;
    }
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    m_mt = CMediaType();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!m_Connected) return S_FALSE;
    HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    m_mt = CMediaType();
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pin = m_Connected;
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        std::memset(mt, 0, sizeof *mt);
        mt->lSampleSize = 1;
        mt->bFixedSizeSamples = TRUE;
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(mt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = m_pFilter;
    m_pFilter->AddRef();
    info->dir = m_dir;
    copyTruncated(info->achName, MAX_PIN_NAME, m_pName);
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    size_t n = (m_pName ? std::wcslen(m_pName) : 0) + 1;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(n * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    if (m_pName)
        std::wmemcpy(*id, m_pName, n);
    else
        (*id)[0] = 0;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    CMediaType type(*mt);
    return CheckMediaType(&type) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** enumTypes) {
    if (!enumTypes) return E_POINTER;
    *enumTypes = new (std::nothrow) CEnumMediaTypes(this, nullptr);
    return *enumTypes ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    m_tStart = start;
    m_tStop = stop;
    m_dRate = rate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBasePin::SetSink(IQualityControl* sink) {
    m_pQSink = sink;  // weak, as the platform keeps it
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mt) { return m_mt.Set(*mt); }

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION dir;
    HRESULT hr = pin->QueryDirection(&dir);
    if (FAILED(hr)) return hr;
    return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }
LONG CBasePin::GetMediaTypeVersion() { return m_TypeVersion; }
void CBasePin::IncrementTypeVersion() { ++m_TypeVersion; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }
HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

// ======================= CBaseOutputPin =======================
CBaseOutputPin::CBaseOutputPin(const TCHAR* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                               LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (m_pAllocator) m_pAllocator->Release();
    if (m_pInputPin) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    if (FAILED(hr) || !m_pInputPin) {
        m_pInputPin = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) { return DecideAllocator(m_pInputPin, &m_pAllocator); }

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
    if (!pin || !allocator) return E_POINTER;
    auto drop = [allocator]() {
        if (*allocator) {
            (*allocator)->Release();
            *allocator = nullptr;
        }
    };
    drop();
    ALLOCATOR_PROPERTIES props{};
    pin->GetAllocatorRequirements(&props);
    if (props.cbAlign == 0) props.cbAlign = 1;
    // Sizes the buffers of *allocator and hands it to the input pin.
    auto settle = [&]() {
        HRESULT hr = DecideBufferSize(*allocator, &props);
        return SUCCEEDED(hr) ? pin->NotifyAllocator(*allocator, FALSE) : hr;
    };

    // The input pin's own allocator first, then this pin's.
    HRESULT hr = pin->GetAllocator(allocator);
    if (SUCCEEDED(hr) && *allocator && SUCCEEDED(hr = settle())) return S_OK;
    drop();
    hr = InitAllocator(allocator);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = settle())) return S_OK;
    drop();
    return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
    HRESULT hr = S_OK;
    auto* a = new (std::nothrow) CMemAllocator("CMemAllocator", nullptr, &hr);
    if (!a) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete a;
        return hr;
    }
    return a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(start, stop, rate);
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

// ======================= CBaseInputPin =======================
CBaseInputPin::CBaseInputPin(const TCHAR* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                             LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator) m_pAllocator->Release();
    DeleteMediaType(m_pOwnedSampleType);
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pAllocator) {
        HRESULT hr = S_OK;
        auto* a = new (std::nothrow) CMemAllocator("CMemAllocator", nullptr, &hr);
        if (!a) return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete a;
            return hr;
        }
        hr = a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&m_pAllocator));
        if (FAILED(hr)) return hr;
    }
    *allocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (!allocator) return E_POINTER;
    CAutoLock lock(m_pLock);
    allocator->AddRef();
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = allocator;
    m_bReadOnly = readOnly;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;

    DeleteMediaType(m_pOwnedSampleType);
    m_pOwnedSampleType = nullptr;
    IMediaSample2* sample2 = nullptr;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2))) && sample2) {
        hr = sample2->GetProperties(sizeof m_SampleProps, reinterpret_cast<BYTE*>(&m_SampleProps));
        sample2->Release();
        if (FAILED(hr)) return hr;
    } else {
        AM_SAMPLE2_PROPERTIES& p = m_SampleProps;
        p = AM_SAMPLE2_PROPERTIES{};
        p.cbData = sizeof p;
        p.dwStreamId = AM_STREAM_MEDIA;
        hr = sample->GetTime(&p.tStart, &p.tStop);
        if (SUCCEEDED(hr)) {
            p.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
            if (hr != VFW_S_NO_STOP_TIME) p.dwSampleFlags |= AM_SAMPLE_STOPVALID;
        }
        if (sample->IsSyncPoint() == S_OK) p.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
        if (sample->IsPreroll() == S_OK) p.dwSampleFlags |= AM_SAMPLE_PREROLL;
        if (sample->IsDiscontinuity() == S_OK) p.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        if (sample->GetMediaType(&m_pOwnedSampleType) == S_OK && m_pOwnedSampleType) {
            p.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
            p.pMediaType = m_pOwnedSampleType;
        }
        p.lActual = sample->GetActualDataLength();
        p.cbBuffer = sample->GetSize();
        sample->GetPointer(&p.pbBuffer);
    }

    if ((m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && m_SampleProps.pMediaType) {
        CMediaType type(*m_SampleProps.pMediaType);
        if (CheckMediaType(&type) != S_OK) {
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (count-- > 0) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
    int n = m_pFilter->GetPinCount();
    int outputs = 0;
    for (int i = 0; i < n; ++i) {
        CBasePin* pin = m_pFilter->GetPin(i);
        if (!pin || pin->Direction() != PINDIR_OUTPUT) continue;
        ++outputs;
        IPin* peer = pin->GetConnected();
        if (!peer) continue;
        IMemInputPin* input = nullptr;
        if (SUCCEEDED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input))) && input) {
            HRESULT hr = input->ReceiveCanBlock();
            input->Release();
            if (hr != S_FALSE) return S_OK;
        } else {
            return S_OK;
        }
    }
    return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    m_bFlushing = false;
    return m_pAllocator->Decommit();
}
