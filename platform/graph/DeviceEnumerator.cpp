// The system device enumerator, the device monikers and their property bags.
#include "platform/graph.h"
#include "platform/graph/Builtin.h"
#include "platform/graph/ComObjects.h"
#include "platform/capture/V4l2Device.h"

namespace tarvelo::graph {

std::vector<CaptureDevice> findCaptureDevices() {
    std::vector<CaptureDevice> devices;
    for (const tarvelo::capture::V4l2DeviceInfo& info : tarvelo::capture::listV4l2Devices()) {
        CaptureDevice d;
        d.kind = CaptureDevice::Kind::Webcam;
        d.friendlyName = info.cardName;
        d.path = info.path;
        devices.push_back(d);
    }
    for (const tarvelo::capture::ReplayDeclaration& decl : tarvelo::capture::declaredReplayCameras()) {
        CaptureDevice d;
        d.kind = CaptureDevice::Kind::Replay;
        d.friendlyName = decl.name;
        d.path = decl.folder;
        d.replay = decl;
        devices.push_back(d);
    }
    return devices;
}

namespace {

class DevicePropertyBag : public CUnknown, public IPropertyBag {
public:
    explicit DevicePropertyBag(const CaptureDevice& device) : CUnknown(NAME("Device property bag"), nullptr), device_(device) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (!name || !value) return E_POINTER;
        std::string text;
        const std::wstring key = name;
        if (key == L"FriendlyName" && !(device_.kind == CaptureDevice::Kind::Replay && device_.replay.failName)) {
            text = device_.friendlyName;
        } else if (key == L"DevicePath") {
            text = device_.path;
        } else {
            return E_INVALIDARG;
        }
        if (value->vt != VT_EMPTY && value->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(tarvelo::com::widen(text.c_str()).c_str());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    CaptureDevice device_;
};

class DeviceMoniker : public MonikerBase {
public:
    explicit DeviceMoniker(const CaptureDevice& device)
        : MonikerBase(NAME("Device moniker"), CLSID_SystemDeviceEnum), device_(device) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (device_.kind == CaptureDevice::Kind::Replay && device_.replay.failBind) return VFW_E_NO_CAPTURE_HARDWARE;
        IBaseFilter* filter = nullptr;
        HRESULT hr = createCaptureFilter(device_, &filter);
        if (FAILED(hr)) return hr;
        hr = filter->QueryInterface(riid, ppv);
        filter->Release();
        return hr;
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (device_.kind == CaptureDevice::Kind::Replay && device_.replay.failProperties) return E_FAIL;
        if (riid != IID_IPropertyBag) return E_NOINTERFACE;
        auto* bag = new DevicePropertyBag(device_);
        return GetInterface(static_cast<IPropertyBag*>(bag), ppv);
    }
    HRESULT IsEqual(IMoniker* other) override {
        if (!other) return S_FALSE;
        return MonikerBase::displayNameOf(this) == MonikerBase::displayNameOf(other) ? S_OK : S_FALSE;
    }
    HRESULT Hash(DWORD* hash) override {
        if (!hash) return E_POINTER;
        DWORD h = 0;
        for (char c : device_.path) h = h * 31u + static_cast<unsigned char>(c);
        *hash = h;
        return S_OK;
    }
    HRESULT IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_FALSE; }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* displayName) override {
        const std::string text = device_.kind == CaptureDevice::Kind::Webcam
                                     ? "@device:v4l2:" + device_.path
                                     : "@device:replay:" + device_.friendlyName + ":" + device_.path;
        return copyToTaskMemory(tarvelo::com::widen(text.c_str()), displayName);
    }
    HRESULT IsSystemMoniker(DWORD* mksys) override {
        if (!mksys) return E_POINTER;
        *mksys = 0;  // MKSYS_NONE
        return S_FALSE;
    }

private:
    CaptureDevice device_;
};

class SystemDeviceEnum : public CUnknown, public ICreateDevEnum {
public:
    SystemDeviceEnum() : CUnknown(NAME("System device enumerator"), nullptr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ICreateDevEnum) return GetInterface(static_cast<ICreateDevEnum*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (category != CLSID_VideoInputDeviceCategory) return S_FALSE;
        std::vector<CaptureDevice> devices = findCaptureDevices();
        if (devices.empty()) return S_FALSE;
        std::vector<IMoniker*> monikers;
        for (const CaptureDevice& d : devices) {
            auto* m = new DeviceMoniker(d);
            m->NonDelegatingAddRef();
            monikers.push_back(m);
        }
        HRESULT hr = MonikerEnumerator::create(monikers, out);
        for (IMoniker* m : monikers) m->Release();
        return hr;
    }
};

}  // namespace

CUnknown* createSystemDeviceEnum(LPUNKNOWN, HRESULT*) { return new SystemDeviceEnum(); }

}  // namespace tarvelo::graph
