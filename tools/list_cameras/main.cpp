// Lists the video capture devices the system finds, as the program sees them: friendly name,
// device path, and each output pin with its category and formats.
//
//     list_cameras
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/graph.h"
#include "platform/streams.h"

namespace {

std::string readProperty(IPropertyBag* bag, const wchar_t* name) {
    VARIANT v;
    VariantInit(&v);
    std::string text = "(none)";
    if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR) text = tarvelo::com::narrow(v.bstrVal);
    VariantClear(&v);
    return text;
}

const char* categoryName(IPin* pin) {
    IKsPropertySet* ks = nullptr;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&ks)))) return "no category";
    GUID category = GUID_NULL;
    DWORD returned = 0;
    HRESULT hr = ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &returned);
    ks->Release();
    if (FAILED(hr)) return "no category";
    if (category == PIN_CATEGORY_PREVIEW) return "preview";
    if (category == PIN_CATEGORY_CAPTURE) return "capture";
    return "other";
}

void listPins(IBaseFilter* filter) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        std::printf("    pin \"%s\" (%s):", tarvelo::com::narrow(info.achName).c_str(), categoryName(pin));
        IEnumMediaTypes* types = nullptr;
        if (SUCCEEDED(pin->EnumMediaTypes(&types))) {
            AM_MEDIA_TYPE* mt = nullptr;
            while (types->Next(1, &mt, nullptr) == S_OK) {
                if (mt->formattype == FORMAT_VideoInfo && mt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
                    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
                    const double fps = vih->AvgTimePerFrame > 0 ? 1e7 / static_cast<double>(vih->AvgTimePerFrame) : 0.0;
                    std::printf(" %dx%d@%.1f", vih->bmiHeader.biWidth, std::abs(vih->bmiHeader.biHeight), fps);
                }
                DeleteMediaType(mt);
            }
            types->Release();
        }
        std::printf("\n");
        pin->Release();
    }
    pins->Release();
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    ICreateDevEnum* devEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&devEnum));
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot create the system device enumerator (0X%08X)\n", static_cast<unsigned>(hr));
        CoUninitialize();
        return 1;
    }
    IEnumMoniker* devices = nullptr;
    hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &devices, 0);
    devEnum->Release();
    int count = 0;
    if (hr == S_OK && devices) {
        IMoniker* m = nullptr;
        while (devices->Next(1, &m, nullptr) == S_OK) {
            ++count;
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                std::printf("%d. \"%s\"  %s\n", count, readProperty(bag, L"FriendlyName").c_str(),
                            readProperty(bag, L"DevicePath").c_str());
                bag->Release();
            } else {
                std::printf("%d. (its properties cannot be read)\n", count);
            }
            IBaseFilter* filter = nullptr;
            hr = m->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
            if (SUCCEEDED(hr)) {
                listPins(filter);
                filter->Release();
            } else {
                std::printf("    cannot be opened (0X%08X)\n", static_cast<unsigned>(hr));
            }
            m->Release();
        }
        devices->Release();
    }
    std::printf("Found %d video capture devices\n", count);
    CoUninitialize();
    return 0;
}
