// Media samples and the memory allocator.
#include "platform/streams.h"

#include <algorithm>
#include <cstdlib>
#include <new>

// ======================= CMediaSample =======================
CMediaSample::CMediaSample(const TCHAR* name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer, LONG length)
    : CBaseObject(name), m_pBuffer(buffer), m_lActual(length), m_cbBuffer(length), m_pAllocator(allocator) {
    if (phr && length < 0) *phr = VFW_E_BUFFER_OVERFLOW;
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample || riid == IID_IMediaSample2)
        return GetInterface(static_cast<IMediaSample2*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return ULONG(++m_cRef); }

ULONG CMediaSample::Release() {
    LONG r = --m_cRef;
    if (r == 0) {
        ResetForReuse();
        m_pAllocator->ReleaseBuffer(this);  // may free this sample
    }
    return ULONG(r > 0 ? r : 0);
}

void CMediaSample::ResetForReuse() {
    m_dwFlags = 0;
    m_dwTypeSpecificFlags = 0;
    m_dwStreamId = AM_STREAM_MEDIA;
    m_Start = m_End = 0;
    m_MediaStart = m_MediaEnd = 0;
    m_lActual = m_cbBuffer;
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
    if (length < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = buffer;
    m_cbBuffer = length;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!(m_dwFlags & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (!start || !stop) return E_POINTER;
    *start = m_Start;
    if (!(m_dwFlags & AM_SAMPLE_STOPVALID)) {
        *stop = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *stop = m_End;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start) {
        m_dwFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
        return S_OK;
    }
    m_Start = *start;
    m_dwFlags |= AM_SAMPLE_TIMEVALID;
    if (stop) {
        m_End = *stop;
        m_dwFlags |= AM_SAMPLE_STOPVALID;
    } else {
        m_dwFlags &= ~AM_SAMPLE_STOPVALID;
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return (m_dwFlags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
    if (sync)
        m_dwFlags |= AM_SAMPLE_SPLICEPOINT;
    else
        m_dwFlags &= ~AM_SAMPLE_SPLICEPOINT;
    return S_OK;
}

HRESULT CMediaSample::IsPreroll() { return (m_dwFlags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetPreroll(BOOL preroll) {
    if (preroll)
        m_dwFlags |= AM_SAMPLE_PREROLL;
    else
        m_dwFlags &= ~AM_SAMPLE_PREROLL;
    return S_OK;
}

LONG CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
    if (!mt) return E_POINTER;
    if (!(m_dwFlags & AM_SAMPLE_TYPECHANGED) || !m_pMediaType) {
        *mt = nullptr;
        return S_FALSE;
    }
    *mt = CreateMediaType(m_pMediaType);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mt) {
    if (mt == m_pMediaType && mt) {
        m_dwFlags |= AM_SAMPLE_TYPECHANGED;
        return S_OK;
    }
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (!mt) {
        m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
        return S_OK;
    }
    m_pMediaType = CreateMediaType(mt);
    if (!m_pMediaType) {
        m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= AM_SAMPLE_TYPECHANGED;
    return S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() { return (m_dwFlags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
    if (discontinuity)
        m_dwFlags |= AM_SAMPLE_DATADISCONTINUITY;
    else
        m_dwFlags &= ~AM_SAMPLE_DATADISCONTINUITY;
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
    if (!(m_dwFlags & MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    if (!start || !end) return E_POINTER;
    *start = m_MediaStart;
    *end = m_MediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
    if (!start) {
        m_dwFlags &= ~MediaTimeValid;
        return S_OK;
    }
    if (!end) return E_POINTER;
    if (*end < *start) return E_INVALIDARG;
    m_MediaStart = *start;
    m_MediaEnd = *end;
    m_dwFlags |= MediaTimeValid;
    return S_OK;
}

HRESULT CMediaSample::GetProperties(DWORD size, BYTE* properties) {
    if (!properties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES p{};
    p.cbData = std::min<DWORD>(size, sizeof p);
    p.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    p.dwSampleFlags = m_dwFlags & ~MediaTimeValid;
    p.lActual = m_lActual;
    p.tStart = m_Start;
    p.tStop = m_End;
    p.dwStreamId = m_dwStreamId;
    p.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : nullptr;
    p.pbBuffer = m_pBuffer;
    p.cbBuffer = m_cbBuffer;
    std::memcpy(properties, &p, p.cbData);
    return S_OK;
}

HRESULT CMediaSample::SetProperties(DWORD size, const BYTE* properties) {
    if (!properties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES p{};
    std::memcpy(&p, properties, std::min<DWORD>(size, sizeof p));
    if (size < offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) || p.cbData != size) return E_INVALIDARG;
    if (p.lActual < 0 || p.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    const DWORD known = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_PREROLL | AM_SAMPLE_DATADISCONTINUITY |
                        AM_SAMPLE_TYPECHANGED | AM_SAMPLE_TIMEVALID | AM_SAMPLE_TIMEDISCONTINUITY |
                        AM_SAMPLE_FLUSH_ON_PAUSE | AM_SAMPLE_STOPVALID | AM_SAMPLE_ENDOFSTREAM;
    if (size >= offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer)) {
        if (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
            HRESULT hr = SetMediaType(p.pMediaType);
            if (FAILED(hr)) return hr;
        } else {
            SetMediaType(nullptr);
        }
    }
    if (size >= offsetof(AM_SAMPLE2_PROPERTIES, pMediaType)) m_dwStreamId = p.dwStreamId;
    m_dwTypeSpecificFlags = p.dwTypeSpecificFlags;
    DWORD typeChanged = m_dwFlags & AM_SAMPLE_TYPECHANGED;
    m_dwFlags = (p.dwSampleFlags & known & ~AM_SAMPLE_TYPECHANGED) | typeChanged | (m_dwFlags & MediaTimeValid);
    m_lActual = p.lActual;
    m_Start = p.tStart;
    m_End = p.tStop;
    return S_OK;
}

// ======================= CBaseAllocator =======================
CBaseAllocator::CBaseAllocator(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr) : CUnknown(name, outer, phr) {}

CBaseAllocator::~CBaseAllocator() = default;  // the derived class frees its samples

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual) return E_POINTER;
    std::lock_guard<std::mutex> l(m_mutex);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_free.size() < m_all.size()) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0) return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
    m_lCount = request->cBuffers;
    m_lSize = request->cbBuffer;
    m_lAlignment = request->cbAlign;
    m_lPrefix = request->cbPrefix;
    m_bChanged = true;
    *actual = *request;
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    std::lock_guard<std::mutex> l(m_mutex);
    props->cBuffers = m_lCount;
    props->cbBuffer = m_lSize;
    props->cbAlign = m_lAlignment;
    props->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CBaseAllocator::Commit() {
    std::lock_guard<std::mutex> l(m_mutex);
    if (m_bCommitted) return S_OK;
    if (m_bDecommitInProgress) {
        // The buffers never went away: take them up again.
        m_bDecommitInProgress = false;
        m_bCommitted = true;
        return S_OK;
    }
    if (m_lSize <= 0 || m_lCount <= 0) return VFW_E_SIZENOTSET;
    HRESULT hr = Alloc();
    if (FAILED(hr)) return hr;
    m_bCommitted = true;
    return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
    std::lock_guard<std::mutex> l(m_mutex);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = false;
    if (m_free.size() < m_all.size())
        m_bDecommitInProgress = true;
    else
        Free();
    m_freeCv.notify_all();
    return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    CMediaSample* s = nullptr;
    {
        std::unique_lock<std::mutex> l(m_mutex);
        for (;;) {
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_free.empty()) break;
            if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            m_freeCv.wait(l);
        }
        s = m_free.back();
        m_free.pop_back();
        s->m_cRef = 1;
    }
    AddRef();  // held for as long as the sample is out
    if (start) s->SetTime(start, stop);
    *sample = s;
    return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        auto it = std::find_if(m_all.begin(), m_all.end(),
                               [sample](CMediaSample* s) { return static_cast<IMediaSample*>(s) == sample; });
        if (it == m_all.end()) return E_INVALIDARG;
        if (std::find(m_free.begin(), m_free.end(), *it) != m_free.end()) return S_FALSE;  // not out
        m_free.push_back(*it);
        if (m_bDecommitInProgress && m_free.size() == m_all.size()) {
            m_bDecommitInProgress = false;
            Free();
        }
        m_freeCv.notify_one();
    }
    Release();  // the reference GetBuffer took; may destroy the allocator
    return S_OK;
}

HRESULT CBaseAllocator::Alloc() { return S_OK; }

LONG CBaseAllocator::OutstandingSamples() {
    std::lock_guard<std::mutex> l(m_mutex);
    return LONG(m_all.size() - m_free.size());
}

bool CBaseAllocator::IsCommitted() {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_bCommitted;
}

bool CBaseAllocator::IsDecommitPending() {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_bDecommitInProgress;
}

// ======================= CMemAllocator =======================
CMemAllocator::CMemAllocator(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
    std::lock_guard<std::mutex> l(m_mutex);
    Free();
}

CUnknown* CMemAllocator::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    auto* a = new (std::nothrow) CMemAllocator("CMemAllocator", outer, phr);
    if (!a && phr) *phr = E_OUTOFMEMORY;
    return a;
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual) return E_POINTER;
    ALLOCATOR_PROPERTIES adjusted = *request;
    if (adjusted.cbAlign > 0 && (adjusted.cbAlign & (adjusted.cbAlign - 1)) == 0) {
        LONGLONG total = LONGLONG(adjusted.cbBuffer) + adjusted.cbPrefix;
        LONGLONG remainder = total % adjusted.cbAlign;
        if (remainder) total += adjusted.cbAlign - remainder;
        if (total > 0x7FFFFFFF) return E_OUTOFMEMORY;
        adjusted.cbBuffer = LONG(total - adjusted.cbPrefix);
    }
    return CBaseAllocator::SetProperties(&adjusted, actual);
}

HRESULT CMemAllocator::Alloc() {
    if (!m_bChanged && !m_all.empty()) return S_OK;  // the same buffers serve again
    FreeBlock();
    LONGLONG stride = LONGLONG(m_lSize) + m_lPrefix;  // a multiple of the alignment
    LONGLONG total = stride * m_lCount;
    if (total <= 0 || total > (LONGLONG(1) << 40)) return E_OUTOFMEMORY;
    size_t alignment = size_t(std::max<LONG>(m_lAlignment, 16));
    size_t bytes = size_t((total + LONGLONG(alignment) - 1) / LONGLONG(alignment)) * alignment;
    m_pBuffer = static_cast<BYTE*>(std::aligned_alloc(alignment, bytes));
    if (!m_pBuffer) return E_OUTOFMEMORY;
    for (LONG i = 0; i < m_lCount; ++i) {
        HRESULT hr = S_OK;
        auto* s = new (std::nothrow)
            CMediaSample("CMediaSample", this, &hr, m_pBuffer + LONGLONG(i) * stride + m_lPrefix, m_lSize);
        if (!s) {
            FreeBlock();
            return E_OUTOFMEMORY;
        }
        m_all.push_back(s);
        m_free.push_back(s);
    }
    m_bChanged = false;
    return S_OK;
}

void CMemAllocator::Free() { FreeBlock(); }

void CMemAllocator::FreeBlock() {
    for (CMediaSample* s : m_all) delete s;
    m_all.clear();
    m_free.clear();
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
}
