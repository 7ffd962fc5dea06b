// COM runtime: initialisation, the class table, GUID strings, BSTR/VARIANT, text conversion,
// module search.
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

DEFINE_GUID(CLSID_Unknown, 0x01234567, 0x89ab, 0xcdef, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef);

struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

TEST(Com, InitialisationIsCountedPerThread) {
    EXPECT_FALSE(tarvelo::com::isInitializedOnThisThread());
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread([] {
        EXPECT_FALSE(tarvelo::com::isInitializedOnThisThread());
        IUnknown* unknown = reinterpret_cast<IUnknown*>(0x1);
        EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(unknown, nullptr);
    }).join();
    CoUninitialize();
    EXPECT_TRUE(tarvelo::com::isInitializedOnThisThread());
    CoUninitialize();
    EXPECT_FALSE(tarvelo::com::isInitializedOnThisThread());
    CoUninitialize();  // one too many is harmless
}

TEST(Com, UnknownClassIsNotRegistered) {
    ComScope com;
    IUnknown* unknown = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(unknown, nullptr);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, HRESULT(0x80040154u));
}

TEST(Com, BuiltinMemoryAllocatorIsCreatedByClass) {
    ComScope com;
    LONG before = tarvelo::streams::liveObjectCount();
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                               reinterpret_cast<void**>(&allocator)),
              S_OK);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    allocator->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    EXPECT_EQ(a, b) << "one identity";
    a->Release();
    b->Release();
    IBaseFilter* filter = reinterpret_cast<IBaseFilter*>(0x1);
    EXPECT_EQ(allocator->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), E_NOINTERFACE);
    EXPECT_EQ(filter, nullptr);
    EXPECT_EQ(allocator->Release(), 0u);
    EXPECT_EQ(tarvelo::streams::liveObjectCount(), before);
}

TEST(Com, GuidStringsRoundTrip) {
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(PIN_CATEGORY_PREVIEW, &text), S_OK);
    EXPECT_STREQ(text, L"{FB6C4282-0353-11D1-905F-0000C0CC16BA}");
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_TRUE(back == PIN_CATEGORY_PREVIEW);
    CoTaskMemFree(text);

    EXPECT_EQ(tarvelo::com::guidToString(MEDIASUBTYPE_RGB24), "{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
    WCHAR shortBuffer[38];
    EXPECT_EQ(StringFromGUID2(GUID_NULL, shortBuffer, 38), 0);
    for (const wchar_t* bad : {L"", L"{FB6C4282-0353-11D1-905F-0000C0CC16B}", L"{FB6C4282-0353-11D1-905F-0000C0CC16BG}",
                               L"FB6C4282-0353-11D1-905F-0000C0CC16BA00"})
        EXPECT_EQ(CLSIDFromString(bad, &back), CO_E_CLASSSTRING) << tarvelo::com::narrow(bad);
}

TEST(Com, GuidsCompareByBytes) {
    GUID a = MEDIATYPE_Video;
    GUID b = a;
    EXPECT_TRUE(a == b);
    b.Data4[7] ^= 1;
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(IsEqualGUID(a, b));
}

TEST(Com, BstrKeepsItsLengthAndEmbeddedZeros) {
    BSTR s = SysAllocString(L"Integrated Camera");
    EXPECT_EQ(SysStringLen(s), 17u);
    EXPECT_EQ(SysStringByteLen(s), 17u * sizeof(OLECHAR));
    EXPECT_STREQ(s, L"Integrated Camera");
    SysFreeString(s);
    const OLECHAR withZero[] = {L'a', 0, L'b'};
    BSTR z = SysAllocStringLen(withZero, 3);
    EXPECT_EQ(SysStringLen(z), 3u);
    EXPECT_EQ(z[2], L'b');
    EXPECT_EQ(z[3], 0);
    SysFreeString(z);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Com, VariantClearFreesWhatItHolds) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"FriendlyName");
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(copy.bstrVal, v.bstrVal);
    EXPECT_STREQ(copy.bstrVal, L"FriendlyName");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&copy), S_OK);  // the leak checker sees both strings freed

    ComScope com;
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                               reinterpret_cast<void**>(&allocator)),
              S_OK);
    allocator->AddRef();
    v.vt = VT_UNKNOWN;
    v.punkVal = allocator;
    VariantClear(&v);
    EXPECT_EQ(allocator->Release(), 0u) << "VariantClear released its reference";
}

TEST(Com, TextConversionUsesUtf8) {
    const wchar_t* wide = L"Caméra \u20AC";
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(n, int(std::strlen("Caméra €")) + 1);
    char buffer[80];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr), n);
    EXPECT_STREQ(buffer, "Caméra €");
    WCHAR back[80];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, buffer, -1, back, 80), int(std::wcslen(wide)) + 1);
    EXPECT_STREQ(back, wide);

    char tiny[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, tiny, sizeof tiny, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    const wchar_t lone[] = {L'a', wchar_t(0xD800), 0};
    BOOL usedDefault = FALSE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, buffer, sizeof buffer, nullptr, &usedDefault), 3);
    EXPECT_STREQ(buffer, "a?");
    EXPECT_TRUE(usedDefault);
}

TEST(Com, BareModuleNamesAreFoundOnlyBesideTheExecutableNeverInTheWorkingFolder) {
    char exe[512];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    std::string exeFolder(exe, std::string(exe).rfind('/'));
    char savedCwd[PATH_MAX];
    ASSERT_NE(getcwd(savedCwd, sizeof savedCwd), nullptr);

    // A working folder of its own, holding a module that is not beside the executable.
    char folder[] = "/tmp/tarvelo-modules-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string copy = std::string(folder) + "/OnlyHere.ax";
    {
        std::ifstream in(exeFolder + "/ToyBeta.ax", std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chdir(folder), 0);

    EXPECT_EQ(LoadLibraryA("NoSuchModule.ax"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    HMODULE module = LoadLibraryA("ToyAlpha.ax");
    ASSERT_NE(module, nullptr);
    char path[512];
    ASSERT_GT(GetModuleFileNameA(module, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), exeFolder + "/ToyAlpha.ax");
    EXPECT_NE(GetProcAddress(module, "DllGetClassObject"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "g_Templates"), nullptr) << "only the four entry points are exported";
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));

    // A module planted in the working folder is never loaded by its bare name.
    EXPECT_EQ(LoadLibraryA("OnlyHere.ax"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    HMODULE named = LoadLibraryA(copy.c_str());
    EXPECT_NE(named, nullptr) << "a path names its module";
    if (named) FreeLibrary(named);

    ASSERT_EQ(chdir(savedCwd), 0);
    std::remove(copy.c_str());
    rmdir(folder);
}

}  // namespace
