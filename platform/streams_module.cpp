// Class factories over factory templates, the module entry points' shared logic, self-registration,
// the built-in classes, and the seeking pass-through.
#include "platform/streams.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <new>

#include <dlfcn.h>

namespace {

class CClassFactory : public IClassFactory, public CBaseObject {
public:
    CClassFactory(const CFactoryTemplate* factoryTemplate, tarvelo::streams::ModuleState* state)
        : CBaseObject("CClassFactory"), m_template(factoryTemplate), m_state(state) {
        if (m_state) attachModuleCount(&m_state->objects);
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory*>(this), ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ULONG(++m_cRef); }
    ULONG Release() override {
        LONG r = --m_cRef;
        if (r == 0) delete this;
        return ULONG(r);
    }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // An aggregating object must ask for the inner identity.
        if (outer && riid != IID_IUnknown) return E_NOINTERFACE;
        HRESULT hr = S_OK;
        CUnknown* object = nullptr;
        try {
            object = m_template->CreateInstance(outer, &hr);
        } catch (...) {
            object = nullptr;
            hr = E_OUTOFMEMORY;
        }
        if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete object;
            return hr;
        }
        if (m_state) object->attachModuleCount(&m_state->objects);
        object->NonDelegatingAddRef();
        hr = object->NonDelegatingQueryInterface(riid, ppv);
        object->NonDelegatingRelease();
        return hr;
    }

    HRESULT LockServer(BOOL lock) override {
        if (m_state) {
            if (lock)
                ++m_state->locks;
            else
                --m_state->locks;
        }
        return S_OK;
    }

private:
    std::atomic<LONG> m_cRef{0};
    const CFactoryTemplate* m_template;
    tarvelo::streams::ModuleState* m_state;
};

// Built-in classes of the process (this library and the program).
std::map<CLSID, const CFactoryTemplate*>& builtinTemplates() {
    static auto* m = new std::map<CLSID, const CFactoryTemplate*>;
    return *m;
}
std::mutex& builtinMutex() {
    static auto* m = new std::mutex;
    return *m;
}

HRESULT builtinClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    const CFactoryTemplate* t = nullptr;
    {
        std::lock_guard<std::mutex> l(builtinMutex());
        auto it = builtinTemplates().find(clsid);
        if (it != builtinTemplates().end()) t = it->second;
    }
    if (!t) return CLASS_E_CLASSNOTAVAILABLE;
    return tarvelo::streams::getClassObject(t, 1, nullptr, clsid, riid, ppv);
}

const CFactoryTemplate kMemoryAllocatorTemplate = {L"Memory Allocator", &CLSID_MemoryAllocator,
                                                   CMemAllocator::CreateInstance, nullptr, nullptr};
tarvelo::streams::BuiltinClassRegistrar g_memoryAllocatorRegistrar(&kMemoryAllocatorTemplate);

}  // namespace

namespace tarvelo::streams {

HRESULT getClassObject(const CFactoryTemplate* templates, int count, ModuleState* state, REFCLSID clsid,
                       REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IClassFactory && riid != IID_IUnknown) return E_NOINTERFACE;
    for (int i = 0; i < count; ++i) {
        if (!templates[i].IsClassID(clsid)) continue;
        auto* factory = new (std::nothrow) CClassFactory(&templates[i], state);
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        *ppv = static_cast<IClassFactory*>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT canUnloadNow(const ModuleState* state) {
    return (state->objects.load() == 0 && state->locks.load() == 0) ? S_OK : S_FALSE;
}

HRESULT registerServer(const CFactoryTemplate* templates, int count, const void* addressInModule, BOOL doRegister) {
    Dl_info info{};
    if (!dladdr(addressInModule, &info) || !info.dli_fname) return E_FAIL;
    char resolved[PATH_MAX];
    std::string path = realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);

    for (int i = 0; i < count; ++i) {
        const CFactoryTemplate& t = templates[i];
        if (!t.m_ClsID) continue;
        if (!doRegister) {
            com::unregisterFilter(*t.m_ClsID);
            com::unregisterInprocServer(*t.m_ClsID);
            continue;
        }
        com::registerInprocServer(*t.m_ClsID, path, "Both");
        if (const AMOVIESETUP_FILTER* setup = t.m_pAMovieSetup_Filter) {
            com::RegisteredFilter filter;
            filter.clsid = setup->clsID ? *setup->clsID : *t.m_ClsID;
            filter.name = setup->strName ? setup->strName : L"";
            filter.merit = setup->dwMerit;
            for (UINT p = 0; p < setup->nPins && setup->lpPin; ++p) {
                const AMOVIESETUP_PIN& sp = setup->lpPin[p];
                com::RegisteredFilterPin pin;
                pin.name = sp.strName ? sp.strName : L"";
                pin.rendered = sp.bRendered != FALSE;
                pin.output = sp.bOutput != FALSE;
                pin.zero = sp.bZero != FALSE;
                pin.many = sp.bMany != FALSE;
                for (UINT m = 0; m < sp.nMediaTypes && sp.lpMediaType; ++m) {
                    const AMOVIESETUP_MEDIATYPE& mt = sp.lpMediaType[m];
                    pin.mediaTypes.emplace_back(mt.clsMajorType ? *mt.clsMajorType : GUID_NULL,
                                                mt.clsMinorType ? *mt.clsMinorType : GUID_NULL);
                }
                filter.pins.push_back(std::move(pin));
            }
            com::registerFilter(filter);
        }
    }
    return S_OK;
}

void registerBuiltinTemplate(const CFactoryTemplate* factoryTemplate) {
    if (!factoryTemplate || !factoryTemplate->m_ClsID) return;
    {
        std::lock_guard<std::mutex> l(builtinMutex());
        builtinTemplates()[*factoryTemplate->m_ClsID] = factoryTemplate;
    }
    com::registerBuiltinClass(*factoryTemplate->m_ClsID, builtinClassObject);
}

}  // namespace tarvelo::streams

// ======================= CPosPassThru =======================
CPosPassThru::CPosPassThru(const TCHAR* name, LPUNKNOWN outer, HRESULT* phr, IPin* pin)
    : CUnknown(name, outer, phr), m_pPin(pin) {
    if (!pin && phr) *phr = E_POINTER;
}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), ppv);
    if (riid == IID_IDispatch) return GetInterface(static_cast<IDispatch*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** seeking) {
    *seeking = nullptr;
    IPin* peer = nullptr;
    if (!m_pPin || FAILED(m_pPin->ConnectedTo(&peer)) || !peer) return E_NOTIMPL;
    HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking));
    peer->Release();
    return SUCCEEDED(hr) && *seeking ? S_OK : E_NOTIMPL;
}

HRESULT CPosPassThru::GetPeerPosition(IMediaPosition** position) {
    *position = nullptr;
    IPin* peer = nullptr;
    if (!m_pPin || FAILED(m_pPin->ConnectedTo(&peer)) || !peer) return E_NOTIMPL;
    HRESULT hr = peer->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(position));
    peer->Release();
    return SUCCEEDED(hr) && *position ? S_OK : E_NOTIMPL;
}

#define TARVELO_FORWARD_SEEKING(call)                     \
    IMediaSeeking* peer = nullptr;                        \
    HRESULT hr = GetPeerSeeking(&peer);                   \
    if (FAILED(hr)) return hr;                            \
    hr = peer->call;                                      \
    peer->Release();                                      \
    return hr

#define TARVELO_FORWARD_POSITION(call)                    \
    IMediaPosition* peer = nullptr;                       \
    HRESULT hr = GetPeerPosition(&peer);                  \
    if (FAILED(hr)) return hr;                            \
    hr = peer->call;                                      \
    peer->Release();                                      \
    return hr

HRESULT CPosPassThru::GetCapabilities(DWORD* c) { TARVELO_FORWARD_SEEKING(GetCapabilities(c)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD* c) { TARVELO_FORWARD_SEEKING(CheckCapabilities(c)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID* f) { TARVELO_FORWARD_SEEKING(IsFormatSupported(f)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID* f) { TARVELO_FORWARD_SEEKING(QueryPreferredFormat(f)); }
HRESULT CPosPassThru::GetTimeFormat(GUID* f) { TARVELO_FORWARD_SEEKING(GetTimeFormat(f)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* f) { TARVELO_FORWARD_SEEKING(IsUsingTimeFormat(f)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID* f) { TARVELO_FORWARD_SEEKING(SetTimeFormat(f)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* d) { TARVELO_FORWARD_SEEKING(GetDuration(d)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* s) { TARVELO_FORWARD_SEEKING(GetStopPosition(s)); }
HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* c) { TARVELO_FORWARD_SEEKING(GetCurrentPosition(c)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
    TARVELO_FORWARD_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
    TARVELO_FORWARD_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* c, LONGLONG* s) { TARVELO_FORWARD_SEEKING(GetPositions(c, s)); }
HRESULT CPosPassThru::GetAvailable(LONGLONG* e, LONGLONG* l) { TARVELO_FORWARD_SEEKING(GetAvailable(e, l)); }
HRESULT CPosPassThru::SetRate(double r) { TARVELO_FORWARD_SEEKING(SetRate(r)); }
HRESULT CPosPassThru::GetRate(double* r) { TARVELO_FORWARD_SEEKING(GetRate(r)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* p) { TARVELO_FORWARD_SEEKING(GetPreroll(p)); }

HRESULT CPosPassThru::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT CPosPassThru::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT CPosPassThru::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CPosPassThru::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

HRESULT CPosPassThru::get_Duration(REFTIME* t) { TARVELO_FORWARD_POSITION(get_Duration(t)); }
HRESULT CPosPassThru::put_CurrentPosition(REFTIME t) { TARVELO_FORWARD_POSITION(put_CurrentPosition(t)); }
HRESULT CPosPassThru::get_CurrentPosition(REFTIME* t) { TARVELO_FORWARD_POSITION(get_CurrentPosition(t)); }
HRESULT CPosPassThru::get_StopTime(REFTIME* t) { TARVELO_FORWARD_POSITION(get_StopTime(t)); }
HRESULT CPosPassThru::put_StopTime(REFTIME t) { TARVELO_FORWARD_POSITION(put_StopTime(t)); }
HRESULT CPosPassThru::get_PrerollTime(REFTIME* t) { TARVELO_FORWARD_POSITION(get_PrerollTime(t)); }
HRESULT CPosPassThru::put_PrerollTime(REFTIME t) { TARVELO_FORWARD_POSITION(put_PrerollTime(t)); }
HRESULT CPosPassThru::put_Rate(double r) { TARVELO_FORWARD_POSITION(put_Rate(r)); }
HRESULT CPosPassThru::get_Rate(double* r) { TARVELO_FORWARD_POSITION(get_Rate(r)); }
HRESULT CPosPassThru::CanSeekForward(LONG* c) { TARVELO_FORWARD_POSITION(CanSeekForward(c)); }
HRESULT CPosPassThru::CanSeekBackward(LONG* c) { TARVELO_FORWARD_POSITION(CanSeekBackward(c)); }

HRESULT CreatePosPassThru(LPUNKNOWN outer, BOOL, IPin* pin, IUnknown** passThru) {
    if (!passThru) return E_POINTER;
    *passThru = nullptr;
    HRESULT hr = S_OK;
    auto* object = new (std::nothrow) CPosPassThru("CPosPassThru", outer, &hr, pin);
    if (!object) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    return object->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(passThru));
}
