#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/streams.h"
#include "detection/filter/IFaceDetector.h"
#include "utilityfilters/highlighter/IHighlighting.h"
#include "utilityfilters/scaler/ITamsel.h"
#include "verification/filter/IFaceVerificator.h"
#include "visionlib/filter/FaceInfo.h"

namespace {

struct PinRow {
    const wchar_t* name;
    bool output;
    std::vector<std::pair<GUID, GUID>> types;
    bool zero = false;
};

struct ModuleRow {
    const char* file;
    CLSID clsid;
    IID iid;
    const wchar_t* name;
    std::vector<PinRow> pins;
};


std::vector<ModuleRow> modules() {
    return {
        {"Tamsel.ax",
         CLSID_ScalingFilter,
         IID_ITamsel,
         L"Strelmont Image Scaler Filter",
         {{L"Video In", false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
          {L"Video out", true, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}}}},
        {"Lustrel.ax",
         CLSID_HighlightingFilter,
         IID_IHighlighting,
         L"Strelmont Face Highlighter Filter",
         {{L"Video In", false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, {MEDIATYPE_Video, MEDIASUBTYPE_ARGB32}}},
          {L"Face info In", false, {{MEDIATYPE_FaceInfo, GUID_NULL}}},
          {L"Video Out", true, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, {MEDIATYPE_Video, MEDIASUBTYPE_ARGB32}}}}},
        {"Drovane.ax",
         CLSID_DetectionFilter,
         IID_IFaceDetector,
         L"Strelmont Face Detector Filter",
         {{L"Video In", false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
          {L"Video Out", true, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
          {L"Face info Out", true, {{MEDIATYPE_FaceInfo, GUID_NULL}}}}},
        {"Palomir.ax",
         CLSID_VerificationFilter,
         IID_IFaceVerificator,
         L"Strelmont Face Verificator Filter",
         {{L"Video In", false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
          {L"Face info In", false, {{MEDIATYPE_FaceInfo, GUID_NULL}}},
          {L"Unused", true, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}, /*zero=*/true}}},
    };
}

template <class T>
T entry(HMODULE module, const char* name) {
    return reinterpret_cast<T>(GetProcAddress(module, name));
}

}  // namespace

TEST(FilterModules, ServeTheirOneClassAndCountTheirObjects) {
    for (const ModuleRow& row : modules()) {
        SCOPED_TRACE(row.file);
        HMODULE module = LoadLibraryA(row.file);
        ASSERT_NE(module, nullptr);
        auto getClassObject = entry<LPFNGETCLASSOBJECT>(module, "DllGetClassObject");
        auto canUnload = entry<LPFNCANUNLOADNOW>(module, "DllCanUnloadNow");
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_NE(canUnload, nullptr);
        EXPECT_NE(entry<FARPROC>(module, "DllRegisterServer"), nullptr);
        EXPECT_NE(entry<FARPROC>(module, "DllUnregisterServer"), nullptr);
        // Nothing else leaves the module.
        EXPECT_EQ(entry<FARPROC>(module, "g_Templates"), nullptr);
        EXPECT_EQ(entry<FARPROC>(module, "AMovieDllRegisterServer2"), nullptr);

        void* object = nullptr;
        EXPECT_EQ(getClassObject(CLSID_NULL, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(getClassObject(row.clsid, IID_IBaseFilter, &object), E_NOINTERFACE);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(getClassObject(row.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
        factory->Release();
        EXPECT_EQ(canUnload(), S_FALSE);

        CLSID clsid{};
        filter->GetClassID(&clsid);
        EXPECT_EQ(clsid, row.clsid);
        IUnknown* own = nullptr;
        ASSERT_EQ(filter->QueryInterface(row.iid, reinterpret_cast<void**>(&own)), S_OK);
        own->Release();
        IEnumPins* pins = nullptr;
        ASSERT_EQ(filter->EnumPins(&pins), S_OK);
        int count = 0;
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            count++;
            pin->Release();
        }
        pins->Release();
        EXPECT_EQ(count, (int)row.pins.size());

        filter->Release();
        EXPECT_EQ(canUnload(), S_OK);
        FreeLibrary(module);
    }
}

TEST(FilterModules, RegisterTheirServerAndSetupData) {
    for (const ModuleRow& row : modules()) {
        SCOPED_TRACE(row.file);
        HMODULE module = LoadLibraryA(row.file);
        ASSERT_NE(module, nullptr);
        auto reg = entry<LPFNDLLREGISTERSERVER>(module, "DllRegisterServer");
        auto unreg = entry<LPFNDLLUNREGISTERSERVER>(module, "DllUnregisterServer");
        ASSERT_NE(reg, nullptr);
        ASSERT_NE(unreg, nullptr);

        ASSERT_EQ(reg(), S_OK);
        const std::string path = tarvelo::com::inprocServerPath(row.clsid);
        ASSERT_GE(path.size(), std::string(row.file).size());
        EXPECT_EQ(path.substr(path.size() - std::string(row.file).size()), row.file);
        EXPECT_EQ(tarvelo::com::inprocServerThreadingModel(row.clsid), "Both");
        tarvelo::com::RegisteredFilter filter;
        ASSERT_TRUE(tarvelo::com::findRegisteredFilter(row.clsid, &filter));
        EXPECT_EQ(filter.name, row.name);
        EXPECT_EQ(filter.merit, 0x200000u);
        ASSERT_EQ(filter.pins.size(), row.pins.size());
        for (size_t i = 0; i < row.pins.size(); i++) {
            const auto& got = filter.pins[i];
            const auto& want = row.pins[i];
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(got.output, want.output);
            EXPECT_FALSE(got.rendered);
            EXPECT_EQ(got.zero, want.zero);
            EXPECT_FALSE(got.many);
            EXPECT_EQ(got.mediaTypes, want.types);
        }

        EXPECT_EQ(unreg(), S_OK);
        EXPECT_FALSE(tarvelo::com::findRegisteredFilter(row.clsid, &filter));
        EXPECT_EQ(tarvelo::com::inprocServerPath(row.clsid), "");
        FreeLibrary(module);
    }
}
