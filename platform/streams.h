// The DirectShow base classes of the platform stand-in: objects and COM identity (CBaseObject,
// CUnknown), locks (CCritSec, CAutoLock, CAMEvent), filters and pins (CBaseFilter, CBasePin,
// CBaseInputPin, CBaseOutputPin), media types (CMediaType), enumerators, the memory allocator and
// its media samples, the seeking pass-through, and the class factory templates of filter modules.
//
// Threads: a filter's lock (the CCritSec handed to CBaseFilter and its pins) is recursive and
// guards states and connections. The allocator has its own lock: GetBuffer blocks while every
// buffer is out (unless AM_GBF_NOWAIT) and wakes with VFW_E_NOT_COMMITTED when the allocator is
// decommitted; Decommit while samples are out frees the buffers only when the last one comes back.
// Every outstanding sample holds a reference on its allocator.
//
// Identity: CUnknown keeps a separate non-delegating IUnknown (GetNonDelegatingUnknown); without an
// outer object it is also the owner that the interfaces' IUnknown methods forward to.
//
// Object counts: every CBaseObject (filters, pins, allocators, samples, enumerators, factories) is
// counted process-wide (tarvelo::streams::liveObjectCount). Objects made by a module's class
// factory are also counted for that module, which DllCanUnloadNow consults.
#pragma once

#include "platform/dshow.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define TARVELO_EXPORT __attribute__((visibility("default")))
#define TARVELO_HIDDEN __attribute__((visibility("hidden")))

// Returns `failure` (usually E_POINTER) from the calling method when `p` is null.
#define CheckPointer(p, failure) \
    do {                         \
        if ((p) == nullptr) return failure; \
    } while (0)

// ---- Locks ----
class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() {
        m_mutex.lock();
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        ++m_count;
    }
    void Unlock() {
        if (--m_count == 0) m_owner.store(std::thread::id(), std::memory_order_relaxed);
        m_mutex.unlock();
    }
    bool OwnedByCurrentThread() const {
        return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }

private:
    std::recursive_mutex m_mutex;
    std::atomic<std::thread::id> m_owner{};
    LONG m_count = 0;
};
inline bool CritCheckIn(const CCritSec* lock) { return lock->OwnedByCurrentThread(); }
inline bool CritCheckOut(const CCritSec* lock) { return !lock->OwnedByCurrentThread(); }

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : m_lock(lock) { m_lock->Lock(); }
    ~CAutoLock() { m_lock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* m_lock;
};

// An event: auto-reset by default (a successful Wait clears it), manual-reset on request.
class CAMEvent {
public:
    explicit CAMEvent(BOOL manualReset = FALSE) : m_manual(manualReset != FALSE) {}
    void Set() {
        std::lock_guard<std::mutex> l(m_mutex);
        m_set = true;
        m_cv.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> l(m_mutex);
        m_set = false;
    }
    BOOL Wait(DWORD milliseconds = INFINITE) {
        std::unique_lock<std::mutex> l(m_mutex);
        auto ready = [this] { return m_set; };
        if (milliseconds == INFINITE)
            m_cv.wait(l, ready);
        else if (!m_cv.wait_for(l, std::chrono::milliseconds(milliseconds), ready))
            return FALSE;
        if (!m_manual) m_set = false;
        return TRUE;
    }
    BOOL Check() { return Wait(0); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_manual;
    bool m_set = false;
};

// ---- Objects and COM identity ----
class TARVELO_PLATFORM_API CBaseObject {
public:
    explicit CBaseObject(const TCHAR* name);
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();
    // Live CBaseObjects of the whole process.
    static LONG ObjectsActive();
    const char* ObjectName() const { return m_name.c_str(); }
    // Counts this object for a module until it is destroyed (done by the module's class factory).
    void attachModuleCount(std::atomic<LONG>* count);

private:
    std::string m_name;
    std::atomic<LONG>* m_moduleCount = nullptr;
};

struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
};
typedef INonDelegatingUnknown* PNDUNKNOWN;

class TARVELO_PLATFORM_API CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr = nullptr);
    // The unknown that the object's interfaces forward to: the outer object, or our own identity.
    LPUNKNOWN GetOwner() const { return m_owner; }
    // The object's own identity, which never delegates (what an aggregating object holds).
    LPUNKNOWN GetNonDelegatingUnknown() { return &m_inner; }

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

protected:
    std::atomic<LONG> m_cRef{0};

private:
    struct Inner : IUnknown {
        CUnknown* self;
        explicit Inner(CUnknown* s) : self(s) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return self->NonDelegatingQueryInterface(riid, ppv); }
        ULONG AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG Release() override { return self->NonDelegatingRelease(); }
    };
    Inner m_inner{this};
    LPUNKNOWN m_owner;
};

// Hands out an interface with a reference (the helper of NonDelegatingQueryInterface).
TARVELO_PLATFORM_API HRESULT GetInterface(LPUNKNOWN unknown, void** ppv);

// The IUnknown methods of a CUnknown-derived class's interfaces, forwarding to its owner.
#define DECLARE_IUNKNOWN                                                                           \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
    ULONG AddRef() override { return GetOwner()->AddRef(); }                                       \
    ULONG Release() override { return GetOwner()->Release(); }

// ---- Reference time ----
class CRefTime {
public:
    REFERENCE_TIME m_time = 0;
    CRefTime() = default;
    CRefTime(LONG milliseconds) : m_time(REFERENCE_TIME(milliseconds) * MILLISECONDS) {}
    CRefTime(REFERENCE_TIME t) : m_time(t) {}
    operator REFERENCE_TIME() const { return m_time; }
    CRefTime& operator=(REFERENCE_TIME t) {
        m_time = t;
        return *this;
    }
    LONG Millisecs() const { return LONG(m_time / MILLISECONDS); }
    REFERENCE_TIME GetUnits() const { return m_time; }
};

// ---- Media types ----
class TARVELO_PLATFORM_API CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majorType);
    CMediaType(const AM_MEDIA_TYPE& type, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& type, HRESULT* phr = nullptr);
    ~CMediaType();
    CMediaType& operator=(const CMediaType& type);
    CMediaType& operator=(const AM_MEDIA_TYPE& type);
    // Same major type, subtype, format type and format block.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }
    HRESULT Set(const CMediaType& type);
    HRESULT Set(const AM_MEDIA_TYPE& type);

    BOOL IsValid() const { return majortype != GUID_NULL; }
    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    void SetSampleSize(ULONG size);
    void SetVariableSize();
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Copies the block in; FALSE when memory runs out.
    BOOL SetFormat(const BYTE* format, ULONG length);
    // A zeroed-if-new block of `length` bytes (kept when it already has that size).
    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();
    // Zeroes everything, then fixed-size samples of 1 byte.
    void InitMediaType();
    // GUID_NULL fields of `partial` match anything; a format block given there must be equal.
    BOOL MatchesPartial(const CMediaType* partial) const;
    BOOL IsPartiallySpecified() const;
};

// ---- Filters and pins ----
class CBasePin;
class CBaseInputPin;
class CBaseOutputPin;
class CEnumPins;
class CEnumMediaTypes;

struct AMOVIESETUP_MEDIATYPE {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};
typedef AMOVIESETUP_MEDIATYPE REGPINTYPES;
struct AMOVIESETUP_PIN {
    const WCHAR* strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    const WCHAR* strConnectsToPin;
    UINT nMediaTypes;
    const AMOVIESETUP_MEDIATYPE* lpMediaType;
};
typedef AMOVIESETUP_PIN REGFILTERPINS;
struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};
typedef AMOVIESETUP_FILTER* LPAMOVIESETUP_FILTER;
typedef const AMOVIESETUP_FILTER* PCAMOVIESETUP_FILTER;

class TARVELO_PLATFORM_API CBaseFilter : public CUnknown, public IBaseFilter {
public:
    CBaseFilter(const TCHAR* name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    // IBaseFilter, IMediaFilter, IPersist.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    HRESULT GetClassID(CLSID* clsid) override;
    // IMediaFilter. Stop deactivates the connected pins (decommitting their allocators); Pause
    // from stopped activates them; Run from stopped pauses first, then runs the connected pins.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** enumPins) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    // Keeps the graph and its event sink without a reference (the graph owns the filter).
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

    // Stream time = clock time - start time; VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTime(CRefTime& time);
    virtual LONG GetPinVersion();
    void IncrementPinVersion();
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;
    virtual LPAMOVIESETUP_FILTER GetSetupData() { return nullptr; }

    BOOL IsActive() const { return m_State != State_Stopped; }
    BOOL IsStopped() const { return m_State == State_Stopped; }
    // Hands an event to the graph's event sink; E_NOTIMPL when the filter is in no graph.
    HRESULT NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2);
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    LPCWSTR GetFilterName() const { return m_pName; }
    CCritSec* GetFilterLock() const { return m_pLock; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;
    CRefTime m_tStart;
    CLSID m_clsid;
    CCritSec* m_pLock;
    WCHAR* m_pName = nullptr;
    IFilterGraph* m_pGraph = nullptr;
    std::atomic<IMediaEventSink*> m_pSink{nullptr};  // read by streaming threads
    std::atomic<LONG> m_PinVersion{1};
};

class TARVELO_PLATFORM_API CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(const TCHAR* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName,
             PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    // IPin, IQualityControl.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // A pin lives as long as its filter: references go to the filter.
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // IPin. Connect and ReceiveConnection need a stopped filter and a free pin.
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumTypes) override;
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT EndOfStream() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT Notify(IBaseFilter* self, Quality q) override;
    HRESULT SetSink(IQualityControl* sink) override;

    // Connection hooks.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* mt);
    // Refuses a peer of the same direction (VFW_E_INVALID_DIRECTION).
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The types this pin offers; VFW_S_NO_MORE_ITEMS past the last (base: E_UNEXPECTED, none).
    virtual HRESULT GetMediaType(int position, CMediaType* mt);
    virtual LONG GetMediaTypeVersion();
    void IncrementTypeVersion();
    // State hooks, called by the filter for connected pins.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME start);

    BOOL IsConnected() const { return m_Connected != nullptr; }
    BOOL IsStopped() const { return m_pFilter->IsStopped(); }
    IPin* GetConnected() const { return m_Connected; }
    CMediaType& CurrentMediaType() { return m_mt; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }
    LPCWSTR Name() const { return m_pName; }
    CBaseFilter* Filter() const { return m_pFilter; }
    PIN_DIRECTION Direction() const { return m_dir; }

protected:
    // Tries the given complete type, else the peer's types and then our own (or the reverse when
    // m_bTryMyTypesFirst), each filtered by a partial type.
    virtual HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* mt);
    virtual HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mt);
    virtual HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* mt, IEnumMediaTypes* types);
    HRESULT DisconnectInternal();

    WCHAR* m_pName = nullptr;
    IPin* m_Connected = nullptr;
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    std::atomic<LONG> m_TypeVersion{1};
    CMediaType m_mt;
    CRefTime m_tStart;
    CRefTime m_tStop{REFERENCE_TIME(0x7FFFFFFFFFFFFFFFLL)};
    double m_dRate = 1.0;
};

class TARVELO_PLATFORM_API CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const TCHAR* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);
    ~CBaseOutputPin() override;

    // Takes the peer's IMemInputPin (E_NOINTERFACE without one).
    HRESULT CheckConnect(IPin* pin) override;
    // Decides the allocator; a failure refuses the connection.
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    // Commit and decommit the allocator (VFW_E_NO_ALLOCATOR without one).
    HRESULT Active() override;
    HRESULT Inactive() override;
    // Output pins receive no stream notifications.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // The peer's allocator first, then our own CMemAllocator; DecideBufferSize sets the sizes.
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    virtual HRESULT InitAllocator(IMemAllocator** allocator);
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags);
    // The peer's Receive; VFW_E_NOT_CONNECTED when unconnected.
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

class TARVELO_PLATFORM_API CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const TCHAR* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    // Adds IMemInputPin.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin. GetAllocator makes a CMemAllocator on first demand.
    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    // The checks every Receive begins with: CheckStreaming, then the sample's properties are
    // recorded (SampleProps) and a changed media type is checked.
    HRESULT Receive(IMediaSample* sample) override;
    // Receive for each sample while it answers S_OK.
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override;

    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT BreakConnect() override;
    // Clears the flush and run-time error states and decommits the allocator.
    HRESULT Inactive() override;
    // VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE while stopped, S_FALSE while flushing,
    // VFW_E_RUNTIME_ERROR after a run-time error, otherwise S_OK.
    virtual HRESULT CheckStreaming();

    BOOL IsFlushing() const { return m_bFlushing; }
    BOOL IsReadOnly() const { return m_bReadOnly; }
    AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    BOOL m_bReadOnly = FALSE;
    std::atomic<bool> m_bFlushing{false};
    AM_SAMPLE2_PROPERTIES m_SampleProps{};
    AM_MEDIA_TYPE* m_pOwnedSampleType = nullptr;  // from a sample without IMediaSample2
};

// ---- Enumerators ----
class TARVELO_PLATFORM_API CEnumPins : public IEnumPins, public CBaseObject {
public:
    // VFW_E_ENUM_OUT_OF_SYNC once the filter's pin version changed; Reset catches up.
    CEnumPins(CBaseFilter* filter, CEnumPins* toCopy);
    ~CEnumPins() override;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** copy) override;

private:
    std::atomic<LONG> m_cRef{1};
    CBaseFilter* m_pFilter;
    int m_position = 0;
    LONG m_version;
};

class TARVELO_PLATFORM_API CEnumMediaTypes : public IEnumMediaTypes, public CBaseObject {
public:
    CEnumMediaTypes(CBasePin* pin, CEnumMediaTypes* toCopy);
    ~CEnumMediaTypes() override;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** copy) override;

private:
    std::atomic<LONG> m_cRef{1};
    CBasePin* m_pPin;
    int m_position = 0;
    LONG m_version;
};

// ---- Allocator and samples ----
class CBaseAllocator;

class TARVELO_PLATFORM_API CMediaSample : public IMediaSample2, public CBaseObject {
public:
    CMediaSample(const TCHAR* name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer = nullptr,
                 LONG length = 0);
    ~CMediaSample() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    // The last release hands the sample back to its allocator.
    ULONG Release() override;

    HRESULT SetPointer(BYTE* buffer, LONG length);
    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL sync) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override;
    // VFW_E_BUFFER_OVERFLOW beyond the buffer's size.
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** mt) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL discontinuity) override;
    HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
    HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;
    HRESULT GetProperties(DWORD size, BYTE* properties) override;
    HRESULT SetProperties(DWORD size, const BYTE* properties) override;

protected:
    friend class CBaseAllocator;
    // Clears flags, times, stream id and type for the next user; the data length becomes the
    // whole buffer.
    void ResetForReuse();

    static constexpr DWORD MediaTimeValid = 0x20;  // internal flag beside the AM_SAMPLE_* ones
    DWORD m_dwFlags = 0;
    DWORD m_dwTypeSpecificFlags = 0;
    BYTE* m_pBuffer;
    LONG m_lActual;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONGLONG m_MediaEnd = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    DWORD m_dwStreamId = AM_STREAM_MEDIA;
    std::atomic<LONG> m_cRef{0};
};

class TARVELO_PLATFORM_API CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // VFW_E_ALREADY_COMMITTED while committed, VFW_E_BUFFERS_OUTSTANDING while samples are out,
    // VFW_E_BADALIGN for an alignment that is not a power of two.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
    // VFW_E_SIZENOTSET before SetProperties; a Commit during a deferred decommit cancels it.
    HRESULT Commit() override;
    // Wakes every waiting GetBuffer; buffers are freed once the last outstanding sample returns.
    HRESULT Decommit() override;
    // VFW_E_NOT_COMMITTED when not (or no longer) committed; blocks for a free buffer unless
    // AM_GBF_NOWAIT (then VFW_E_TIMEOUT). The sample's time is set from start/stop when given.
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

    // For tests and diagnostics.
    LONG OutstandingSamples();
    bool IsCommitted();
    bool IsDecommitPending();

protected:
    // Called under the allocator's lock.
    virtual HRESULT Alloc();
    virtual void Free() = 0;

    std::mutex m_mutex;
    std::condition_variable m_freeCv;
    std::vector<CMediaSample*> m_all;   // every sample the allocator made
    std::vector<CMediaSample*> m_free;  // those not handed out
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    bool m_bChanged = false;
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;
};

// Buffers in one block of memory, aligned and prefixed as asked.
class TARVELO_PLATFORM_API CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr);
    ~CMemAllocator() override;
    // Rounds the buffer size so that prefix + buffer is a multiple of the alignment.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

protected:
    HRESULT Alloc() override;
    void Free() override;
    void FreeBlock();

    BYTE* m_pBuffer = nullptr;
};

// ---- Seeking pass-through ----
// IMediaSeeking and IMediaPosition forwarded to the peer of the given pin (E_NOTIMPL when the pin
// is unconnected or its peer does not seek).
class TARVELO_PLATFORM_API CPosPassThru : public CUnknown, public IMediaSeeking, public IMediaPosition {
public:
    CPosPassThru(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr, IPin* pin);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* capabilities) override;
    HRESULT CheckCapabilities(DWORD* capabilities) override;
    HRESULT IsFormatSupported(const GUID* format) override;
    HRESULT QueryPreferredFormat(GUID* format) override;
    HRESULT GetTimeFormat(GUID* format) override;
    HRESULT IsUsingTimeFormat(const GUID* format) override;
    HRESULT SetTimeFormat(const GUID* format) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT GetCurrentPosition(LONGLONG* current) override;
    HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                              const GUID* sourceFormat) override;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(LONGLONG* preroll) override;
    // IDispatch (not dispatched by the stand-in)
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override;
    // IMediaPosition
    HRESULT get_Duration(REFTIME* length) override;
    HRESULT put_CurrentPosition(REFTIME time) override;
    HRESULT get_CurrentPosition(REFTIME* time) override;
    HRESULT get_StopTime(REFTIME* time) override;
    HRESULT put_StopTime(REFTIME time) override;
    HRESULT get_PrerollTime(REFTIME* time) override;
    HRESULT put_PrerollTime(REFTIME time) override;
    HRESULT put_Rate(double rate) override;
    HRESULT get_Rate(double* rate) override;
    HRESULT CanSeekForward(LONG* canSeek) override;
    HRESULT CanSeekBackward(LONG* canSeek) override;

private:
    HRESULT GetPeerSeeking(IMediaSeeking** seeking);
    HRESULT GetPeerPosition(IMediaPosition** position);
    IPin* m_pPin;  // no reference: the pin belongs to the filter that aggregates us
};

// Makes a seeking pass-through over `pin`, aggregated by `outer`; *passThru is its
// non-delegating unknown with one reference.
TARVELO_PLATFORM_API HRESULT CreatePosPassThru(LPUNKNOWN outer, BOOL renderer, IPin* pin, IUnknown** passThru);

// ---- Class factory templates and module glue ----
typedef CUnknown* (*LPFNNewCOMObject)(LPUNKNOWN outer, HRESULT* phr);
typedef void (*LPFNInitRoutine)(BOOL loading, const CLSID* clsid);

// An aggregate, filled by each module's g_Templates table.
class CFactoryTemplate {
public:
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    BOOL IsClassID(REFCLSID clsid) const { return m_ClsID && *m_ClsID == clsid; }
    CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr) const { return m_lpfnNew(outer, phr); }
};

namespace tarvelo::streams {

// Per-module counts behind DllCanUnloadNow.
struct ModuleState {
    std::atomic<LONG> objects{0};  // live objects made by the module's factories, factories included
    std::atomic<LONG> locks{0};    // IClassFactory::LockServer
};

// DllGetClassObject over a template table: E_NOINTERFACE unless IClassFactory or IUnknown is asked,
// CLASS_E_CLASSNOTAVAILABLE for a class not in the table, E_OUTOFMEMORY when the factory cannot be
// made.
TARVELO_PLATFORM_API HRESULT getClassObject(const CFactoryTemplate* templates, int count, ModuleState* state,
                                            REFCLSID clsid, REFIID riid, void** ppv);
// S_FALSE while objects or locks exist, else S_OK.
TARVELO_PLATFORM_API HRESULT canUnloadNow(const ModuleState* state);
// AMovieDllRegisterServer2 for the module holding `addressInModule`: enters (or removes) each
// template's class as an in-process server of that module, threading model "Both", and its filter
// registration.
TARVELO_PLATFORM_API HRESULT registerServer(const CFactoryTemplate* templates, int count,
                                            const void* addressInModule, BOOL doRegister);

// Enters a class of this library (or of the program) in the COM class table.
TARVELO_PLATFORM_API void registerBuiltinTemplate(const CFactoryTemplate* factoryTemplate);
struct BuiltinClassRegistrar {
    explicit BuiltinClassRegistrar(const CFactoryTemplate* factoryTemplate) {
        registerBuiltinTemplate(factoryTemplate);
    }
};

// Live CBaseObjects of the process, and their object names (for leak reports in tests).
TARVELO_PLATFORM_API LONG liveObjectCount();
TARVELO_PLATFORM_API std::vector<std::string> liveObjectNames();

}  // namespace tarvelo::streams

// Defined in platform/dllentry.h, once per filter module, over that module's g_Templates.
TARVELO_HIDDEN HRESULT AMovieDllRegisterServer2(BOOL doRegister);
