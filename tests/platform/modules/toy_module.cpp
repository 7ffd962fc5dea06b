// A toy filter module, built twice ("ToyAlpha.ax" and "ToyBeta.ax") from this one file: the two
// copies define the same symbols, and each must keep its own class, name and instance count.
#include "platform/dllentry.h"
#include "tests/platform/toy_modules.h"

#include <cwchar>
#include <string>

namespace {

#ifdef TOY_MODULE_ALPHA
const CLSID& kClsid = toy::CLSID_ToyAlpha;
const WCHAR kName[] = L"Toy Alpha Filter";
#else
const CLSID& kClsid = toy::CLSID_ToyBeta;
const WCHAR kName[] = L"Toy Beta Filter";
#endif

int g_instancesMade = 0;  // per module: separate modules never share it

class ToyInput : public CBaseInputPin {
public:
    ToyInput(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
        : CBaseInputPin("ToyModuleInput", filter, lock, phr, L"Input") {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return *mt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
};

class ToyModuleFilter : public CBaseFilter {
public:
    explicit ToyModuleFilter(LPUNKNOWN outer) : CBaseFilter(nullptr, outer, &m_lock, kClsid) {
        HRESULT hr = S_OK;
        m_pin = new ToyInput(this, &m_lock, &hr);
        m_instance = ++g_instancesMade;
    }
    ~ToyModuleFilter() override { delete m_pin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    // "<friendly name> #<instance number within this module>"
    HRESULT QueryVendorInfo(LPWSTR* info) override {
        if (!info) return E_POINTER;
        std::wstring text = std::wstring(kName) + L" #" + std::to_wstring(m_instance);
        *info = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
        if (!*info) return E_OUTOFMEMORY;
        std::wmemcpy(*info, text.c_str(), text.size() + 1);
        return S_OK;
    }
    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
        *phr = S_OK;
        return new ToyModuleFilter(outer);
    }

private:
    CCritSec m_lock;
    ToyInput* m_pin;
    int m_instance;
};

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN kPins[] = {{L"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kPinTypes}};
const AMOVIESETUP_FILTER kSetup = {&kClsid, kName, MERIT_DO_NOT_USE, 1, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {{kName, &kClsid, ToyModuleFilter::CreateInstance, nullptr, &kSetup}};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
