// Object counting, COM identity, media types and the pin / media type enumerators.
#include "platform/streams.h"

#include <cwchar>
#include <new>
#include <unordered_set>

namespace {

struct LiveObjects {
    std::mutex mutex;
    std::unordered_set<const CBaseObject*> objects;
};

LiveObjects& live() {
    static LiveObjects* l = new LiveObjects;  // outlives every static object that may still count
    return *l;
}

}  // namespace

// ---- CBaseObject ----
CBaseObject::CBaseObject(const TCHAR* name) : m_name(name ? name : "") {
    std::lock_guard<std::mutex> l(live().mutex);
    live().objects.insert(this);
}

CBaseObject::~CBaseObject() {
    if (m_moduleCount) m_moduleCount->fetch_sub(1);
    std::lock_guard<std::mutex> l(live().mutex);
    live().objects.erase(this);
}

LONG CBaseObject::ObjectsActive() { return tarvelo::streams::liveObjectCount(); }

void CBaseObject::attachModuleCount(std::atomic<LONG>* count) {
    if (m_moduleCount || !count) return;
    m_moduleCount = count;
    count->fetch_add(1);
}

namespace tarvelo::streams {

LONG liveObjectCount() {
    std::lock_guard<std::mutex> l(live().mutex);
    return LONG(live().objects.size());
}

std::vector<std::string> liveObjectNames() {
    std::lock_guard<std::mutex> l(live().mutex);
    std::vector<std::string> names;
    for (const CBaseObject* o : live().objects) names.emplace_back(o->ObjectName());
    return names;
}

}  // namespace tarvelo::streams

// ---- CUnknown ----
CUnknown::CUnknown(const TCHAR* name, LPUNKNOWN outer, HRESULT*)
    : CBaseObject(name), m_owner(outer ? outer : static_cast<IUnknown*>(&m_inner)) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) return GetInterface(&m_inner, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ULONG(++m_cRef); }

ULONG CUnknown::NonDelegatingRelease() {
    LONG r = --m_cRef;
    if (r == 0) {
        // A guard count so that a QueryInterface/Release pair inside the destructor does not
        // delete the object twice.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return ULONG(r > 0 ? r : 0);
}

HRESULT GetInterface(LPUNKNOWN unknown, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = unknown;
    unknown->AddRef();
    return S_OK;
}

// ---- Media type helpers ----
void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void FreeMediaType(AM_MEDIA_TYPE* mt) {
    if (mt) FreeMediaType(*mt);
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (!target || !source) return E_POINTER;
    if (target == source) return S_OK;
    *target = *source;
    if (source->cbFormat != 0 && source->pbFormat) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->cbFormat = 0;
        target->pbFormat = nullptr;
    }
    if (target->pUnk) target->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (!source) {
        std::memset(mt, 0, sizeof *mt);
        return mt;
    }
    if (FAILED(CopyMediaType(mt, source))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

// ---- CMediaType ----
CMediaType::CMediaType() : AM_MEDIA_TYPE() { InitMediaType(); }

CMediaType::CMediaType(const GUID* majorType) : AM_MEDIA_TYPE() {
    InitMediaType();
    if (majorType) majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& type, HRESULT* phr) : AM_MEDIA_TYPE() {
    InitMediaType();
    HRESULT hr = CopyMediaType(this, &type);
    if (FAILED(hr)) InitMediaType();
    if (phr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& type, HRESULT* phr) : AM_MEDIA_TYPE() {
    InitMediaType();
    HRESULT hr = CopyMediaType(this, &type);
    if (FAILED(hr)) InitMediaType();
    if (phr) *phr = hr;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const CMediaType& type) {
    Set(type);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& type) {
    Set(type);
    return *this;
}

HRESULT CMediaType::Set(const CMediaType& type) { return Set(static_cast<const AM_MEDIA_TYPE&>(type)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& type) {
    if (&type == static_cast<AM_MEDIA_TYPE*>(this)) return S_OK;
    FreeMediaType(*this);
    HRESULT hr = CopyMediaType(this, &type);
    if (FAILED(hr)) InitMediaType();
    return hr;
}

bool CMediaType::operator==(const CMediaType& other) const {
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
           cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

void CMediaType::SetVariableSize() { bFixedSizeSamples = FALSE; }

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return TRUE;
    }
    if (!AllocFormatBuffer(length)) return FALSE;
    std::memcpy(pbFormat, format, length);
    return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (cbFormat == length && pbFormat) return pbFormat;
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    if (pbFormat) std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const {
    if (partial->majortype != GUID_NULL && majortype != partial->majortype) return FALSE;
    if (partial->subtype != GUID_NULL && subtype != partial->subtype) return FALSE;
    if (partial->formattype != GUID_NULL) {
        if (formattype != partial->formattype) return FALSE;
        if (partial->cbFormat != 0) {
            if (cbFormat != partial->cbFormat) return FALSE;
            if (std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0) return FALSE;
        }
    }
    return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const { return majortype == GUID_NULL || formattype == GUID_NULL; }

// ---- CEnumPins ----
CEnumPins::CEnumPins(CBaseFilter* filter, CEnumPins* toCopy)
    : CBaseObject("CEnumPins"), m_pFilter(filter), m_version(filter->GetPinVersion()) {
    if (toCopy) {
        m_position = toCopy->m_position;
        m_version = toCopy->m_version;
    }
    m_pFilter->AddRef();
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

HRESULT CEnumPins::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CEnumPins::AddRef() { return ULONG(++m_cRef); }

ULONG CEnumPins::Release() {
    LONG r = --m_cRef;
    if (r == 0) delete this;
    return ULONG(r);
}

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    if (fetched) *fetched = 0;
    if (m_version != m_pFilter->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG n = 0;
    int total = m_pFilter->GetPinCount();
    while (n < count && m_position < total) {
        CBasePin* pin = m_pFilter->GetPin(m_position++);
        if (!pin) break;
        pins[n] = pin;
        pin->AddRef();
        ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count) {
    if (m_version != m_pFilter->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    int total = m_pFilter->GetPinCount();
    if (m_position + LONGLONG(count) > total) {
        m_position = total;
        return S_FALSE;
    }
    m_position += int(count);
    return S_OK;
}

HRESULT CEnumPins::Reset() {
    m_version = m_pFilter->GetPinVersion();
    m_position = 0;
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** copy) {
    if (!copy) return E_POINTER;
    if (m_version != m_pFilter->GetPinVersion()) {
        *copy = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *copy = new (std::nothrow) CEnumPins(m_pFilter, this);
    return *copy ? S_OK : E_OUTOFMEMORY;
}

// ---- CEnumMediaTypes ----
CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, CEnumMediaTypes* toCopy)
    : CBaseObject("CEnumMediaTypes"), m_pPin(pin), m_version(pin->GetMediaTypeVersion()) {
    if (toCopy) {
        m_position = toCopy->m_position;
        m_version = toCopy->m_version;
    }
    m_pPin->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() { m_pPin->Release(); }

HRESULT CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes)
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CEnumMediaTypes::AddRef() { return ULONG(++m_cRef); }

ULONG CEnumMediaTypes::Release() {
    LONG r = --m_cRef;
    if (r == 0) delete this;
    return ULONG(r);
}

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (!types) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    if (fetched) *fetched = 0;
    if (m_version != m_pPin->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG n = 0;
    while (n < count) {
        CMediaType mt;
        if (m_pPin->GetMediaType(m_position, &mt) != S_OK) break;
        ++m_position;
        types[n] = CreateMediaType(&mt);
        if (!types[n]) break;
        ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count) {
    if (m_version != m_pPin->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    while (count > 0) {
        CMediaType mt;
        if (m_pPin->GetMediaType(m_position, &mt) != S_OK) return S_FALSE;
        ++m_position;
        --count;
    }
    return S_OK;
}

HRESULT CEnumMediaTypes::Reset() {
    m_version = m_pPin->GetMediaTypeVersion();
    m_position = 0;
    return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** copy) {
    if (!copy) return E_POINTER;
    if (m_version != m_pPin->GetMediaTypeVersion()) {
        *copy = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *copy = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
    return *copy ? S_OK : E_OUTOFMEMORY;
}
