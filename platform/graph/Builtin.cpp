#include "platform/graph/Builtin.h"

#include "platform/graph.h"

namespace tarvelo::graph {

namespace {

class BuiltinFactory : public IClassFactory {
public:
    explicit BuiltinFactory(CreateFn create) : create_(create) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return createObject(create_, riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    CreateFn create_;
};

template <CreateFn create>
HRESULT classObject(REFCLSID, REFIID riid, void** ppv) {
    static BuiltinFactory factory(create);
    return factory.QueryInterface(riid, ppv);
}

struct Registrar {
    Registrar() {
        tarvelo::com::registerBuiltinClass(CLSID_FilterGraph, &classObject<createFilterGraph>);
        tarvelo::com::registerBuiltinClass(CLSID_SmartTee, &classObject<createSmartTee>);
        tarvelo::com::registerBuiltinClass(CLSID_InfTee, &classObject<createInfTee>);
        tarvelo::com::registerBuiltinClass(CLSID_VideoRenderer, &classObject<createVideoRenderer>);
        tarvelo::com::registerBuiltinClass(CLSID_SystemDeviceEnum, &classObject<createSystemDeviceEnum>);
    }
} registrar;

}  // namespace

HRESULT createObject(CreateFn create, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    HRESULT hr = S_OK;
    CUnknown* object = create(nullptr, &hr);
    if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    // Hold a reference while asking, so a failed QueryInterface destroys the object.
    object->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

}  // namespace tarvelo::graph
