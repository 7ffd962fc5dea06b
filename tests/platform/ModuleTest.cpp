// Filter modules: self-registration, creation by class identifier, the entry points' refusals,
// DllCanUnloadNow, and each module keeping its own symbols.
#include "platform/streams.h"
#include "toy_modules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Module {
    HMODULE handle = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;
    LPFNDLLREGISTERSERVER registerServer = nullptr;
    LPFNDLLUNREGISTERSERVER unregisterServer = nullptr;

    explicit Module(const char* name) : handle(LoadLibraryA(name)) {
        if (!handle) return;
        getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(handle, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(handle, "DllCanUnloadNow"));
        registerServer = reinterpret_cast<LPFNDLLREGISTERSERVER>(GetProcAddress(handle, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<LPFNDLLUNREGISTERSERVER>(GetProcAddress(handle, "DllUnregisterServer"));
    }
    ~Module() {
        if (handle) FreeLibrary(handle);
    }
    bool complete() const { return handle && getClassObject && canUnloadNow && registerServer && unregisterServer; }
};

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_TRUE(alpha.complete());
        ASSERT_TRUE(beta.complete());
    }
    void TearDown() override {
        alpha.unregisterServer();
        beta.unregisterServer();
        CoUninitialize();
        EXPECT_EQ(tarvelo::com::heldModuleCount(), 0) << "the last CoUninitialize lets go of unused modules";
    }

    static IBaseFilter* create(REFCLSID clsid, HRESULT* hr) {
        IBaseFilter* filter = nullptr;
        *hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        return filter;
    }
    static std::wstring vendorInfo(IBaseFilter* filter) {
        LPWSTR info = nullptr;
        if (FAILED(filter->QueryVendorInfo(&info))) return L"";
        std::wstring text(info);
        CoTaskMemFree(info);
        return text;
    }

    Module alpha{"ToyAlpha.ax"};
    Module beta{"ToyBeta.ax"};
};

TEST_F(Modules, RegistrationEntersTheServerAndTheFilter) {
    HRESULT hr;
    EXPECT_EQ(create(toy::CLSID_ToyAlpha, &hr), nullptr);
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

    EXPECT_EQ(alpha.registerServer(), S_OK);
    char path[512];
    GetModuleFileNameA(alpha.handle, path, sizeof path);
    EXPECT_EQ(tarvelo::com::inprocServerPath(toy::CLSID_ToyAlpha), path);
    EXPECT_EQ(tarvelo::com::inprocServerThreadingModel(toy::CLSID_ToyAlpha), "Both");
    tarvelo::com::RegisteredFilter filter;
    ASSERT_TRUE(tarvelo::com::findRegisteredFilter(toy::CLSID_ToyAlpha, &filter));
    EXPECT_EQ(filter.name, L"Toy Alpha Filter");
    EXPECT_EQ(filter.merit, 0x200000u);
    ASSERT_EQ(filter.pins.size(), 1u);
    EXPECT_EQ(filter.pins[0].name, L"Input");
    EXPECT_FALSE(filter.pins[0].output);
    ASSERT_EQ(filter.pins[0].mediaTypes.size(), 1u);
    EXPECT_TRUE(filter.pins[0].mediaTypes[0].first == MEDIATYPE_Video);
    EXPECT_TRUE(filter.pins[0].mediaTypes[0].second == MEDIASUBTYPE_RGB24);

    EXPECT_EQ(alpha.unregisterServer(), S_OK);
    EXPECT_EQ(tarvelo::com::inprocServerPath(toy::CLSID_ToyAlpha), "");
    EXPECT_FALSE(tarvelo::com::findRegisteredFilter(toy::CLSID_ToyAlpha, nullptr));
    EXPECT_EQ(create(toy::CLSID_ToyAlpha, &hr), nullptr);
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
}

TEST_F(Modules, EachModuleCreatesItsOwnClassOnly) {
    alpha.registerServer();
    beta.registerServer();
    HRESULT hr;
    IBaseFilter* a1 = create(toy::CLSID_ToyAlpha, &hr);
    ASSERT_EQ(hr, S_OK);
    IBaseFilter* a2 = create(toy::CLSID_ToyAlpha, &hr);
    IBaseFilter* b1 = create(toy::CLSID_ToyBeta, &hr);
    ASSERT_EQ(hr, S_OK);
    CLSID clsid;
    a1->GetClassID(&clsid);
    EXPECT_TRUE(clsid == toy::CLSID_ToyAlpha);
    b1->GetClassID(&clsid);
    EXPECT_TRUE(clsid == toy::CLSID_ToyBeta);
    // Same symbols in both modules, separate state: each counts its own instances.
    EXPECT_EQ(vendorInfo(a1), L"Toy Alpha Filter #1");
    EXPECT_EQ(vendorInfo(a2), L"Toy Alpha Filter #2");
    EXPECT_EQ(vendorInfo(b1), L"Toy Beta Filter #1");

    // A module serves no other module's class, and only class objects.
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(alpha.getClassObject(toy::CLSID_ToyBeta, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(beta.getClassObject(toy::CLSID_ToyAlpha, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(alpha.getClassObject(toy::CLSID_ToyAlpha, IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(alpha.getClassObject(toy::CLSID_ToyAlpha, IID_IUnknown, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();

    a1->Release();
    a2->Release();
    b1->Release();
}

TEST_F(Modules, UnloadingIsRefusedWhileAnObjectOrALockLives) {
    alpha.registerServer();
    beta.registerServer();
    EXPECT_EQ(alpha.canUnloadNow(), S_OK);
    HRESULT hr;
    IBaseFilter* filter = create(toy::CLSID_ToyAlpha, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(alpha.canUnloadNow(), S_FALSE);
    EXPECT_EQ(beta.canUnloadNow(), S_OK) << "the other module has nothing alive";
    // Its pins count with it: the filter is alive while a pin is referenced.
    IEnumPins* pins = nullptr;
    ASSERT_EQ(filter->EnumPins(&pins), S_OK);
    IPin* pin = nullptr;
    ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
    pins->Release();
    filter->Release();
    EXPECT_EQ(alpha.canUnloadNow(), S_FALSE);
    pin->Release();
    EXPECT_EQ(alpha.canUnloadNow(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(alpha.getClassObject(toy::CLSID_ToyAlpha, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(alpha.canUnloadNow(), S_FALSE) << "a live class factory";
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(alpha.canUnloadNow(), S_FALSE) << "a server lock";
    ASSERT_EQ(alpha.getClassObject(toy::CLSID_ToyAlpha, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(alpha.canUnloadNow(), S_OK);
}

TEST_F(Modules, AggregationAsksForTheInnerUnknown) {
    alpha.registerServer();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(alpha.getClassObject(toy::CLSID_ToyAlpha, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);  // any object stands in as the outer one
    void* inner = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IBaseFilter, &inner), E_NOINTERFACE);
    EXPECT_EQ(inner, nullptr);
    factory->Release();
}

}  // namespace
