// The COM runtime: initialisation counts, the class table, class objects and instances, task
// memory, GUID strings, BSTR/VARIANT, and module loading over the dynamic loader.
#include "platform/com.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <mutex>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ServerEntry {
    std::string path;
    std::string threadingModel;
};

struct ClassTable {
    std::mutex mutex;
    std::map<CLSID, tarvelo::com::BuiltinClassObjectFn> builtins;
    std::map<CLSID, ServerEntry> servers;
    std::map<CLSID, tarvelo::com::RegisteredFilter> filters;
    std::map<std::string, HMODULE> heldModules;  // loaded by COM for class objects
};

// Built before any static registrar of this library runs, destroyed never (modules may register
// from their own static destructors during exit).
ClassTable& table() {
    static ClassTable* t = new ClassTable;
    return *t;
}

thread_local int t_initCount = 0;
std::atomic<int> g_initializedThreads{0};

std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = 0;
    std::string path(buf);
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

const char kHex[] = "0123456789ABCDEF";

int hexValue(WCHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Size prefix of a BSTR, in bytes, right before the characters.
uint32_t* bstrHeader(BSTR s) { return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(s) - sizeof(uint32_t)); }

}  // namespace

// ---- Task memory ----
extern "C" void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }
extern "C" void* CoTaskMemRealloc(void* p, size_t bytes) { return std::realloc(p, bytes ? bytes : 1); }
extern "C" void CoTaskMemFree(void* p) { std::free(p); }

// ---- Initialisation ----
extern "C" HRESULT CoInitializeEx(LPVOID, DWORD) {
    if (t_initCount++ == 0) {
        g_initializedThreads.fetch_add(1);
        return S_OK;
    }
    return S_FALSE;
}

extern "C" HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

extern "C" void CoUninitialize() {
    if (t_initCount == 0) return;
    if (--t_initCount == 0 && g_initializedThreads.fetch_sub(1) == 1) CoFreeUnusedLibraries();
}

// ---- Class table ----
namespace tarvelo::com {

void registerBuiltinClass(REFCLSID clsid, BuiltinClassObjectFn getClassObject) {
    std::lock_guard<std::mutex> l(table().mutex);
    table().builtins[clsid] = getClassObject;
}

void registerInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& threadingModel) {
    std::lock_guard<std::mutex> l(table().mutex);
    table().servers[clsid] = ServerEntry{modulePath, threadingModel};
}

void unregisterInprocServer(REFCLSID clsid) {
    std::lock_guard<std::mutex> l(table().mutex);
    table().servers.erase(clsid);
}

std::string inprocServerPath(REFCLSID clsid) {
    std::lock_guard<std::mutex> l(table().mutex);
    auto it = table().servers.find(clsid);
    return it == table().servers.end() ? std::string() : it->second.path;
}

std::string inprocServerThreadingModel(REFCLSID clsid) {
    std::lock_guard<std::mutex> l(table().mutex);
    auto it = table().servers.find(clsid);
    return it == table().servers.end() ? std::string() : it->second.threadingModel;
}

void registerFilter(const RegisteredFilter& filter) {
    std::lock_guard<std::mutex> l(table().mutex);
    table().filters[filter.clsid] = filter;
}

void unregisterFilter(REFCLSID clsid) {
    std::lock_guard<std::mutex> l(table().mutex);
    table().filters.erase(clsid);
}

bool findRegisteredFilter(REFCLSID clsid, RegisteredFilter* out) {
    std::lock_guard<std::mutex> l(table().mutex);
    auto it = table().filters.find(clsid);
    if (it == table().filters.end()) return false;
    if (out) *out = it->second;
    return true;
}

bool isInitializedOnThisThread() { return t_initCount > 0; }

int heldModuleCount() {
    std::lock_guard<std::mutex> l(table().mutex);
    return int(table().heldModules.size());
}

std::string narrow(const WCHAR* wide) {
    if (!wide) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &s[0], n, nullptr, nullptr);
    s.resize(size_t(n - 1));
    return s;
}

std::wstring widen(const char* text) {
    if (!text) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring s(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &s[0], n);
    s.resize(size_t(n - 1));
    return s;
}

std::string guidToString(REFGUID guid) {
    WCHAR buf[39];
    StringFromGUID2(guid, buf, 39);
    return narrow(buf);
}

}  // namespace tarvelo::com

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!tarvelo::com::isInitializedOnThisThread()) return CO_E_NOTINITIALIZED;

    tarvelo::com::BuiltinClassObjectFn builtin = nullptr;
    std::string path;
    {
        std::lock_guard<std::mutex> l(table().mutex);
        auto b = table().builtins.find(clsid);
        if (b != table().builtins.end()) {
            builtin = b->second;
        } else {
            auto s = table().servers.find(clsid);
            if (s == table().servers.end()) return REGDB_E_CLASSNOTREG;
            path = s->second.path;
        }
    }
    if (builtin) return builtin(clsid, riid, ppv);

    HMODULE module = nullptr;
    {
        std::lock_guard<std::mutex> l(table().mutex);
        auto h = table().heldModules.find(path);
        if (h != table().heldModules.end()) module = h->second;
    }
    if (!module) {
        module = LoadLibraryA(path.c_str());
        if (!module) return CO_E_DLLNOTFOUND;
        std::lock_guard<std::mutex> l(table().mutex);
        auto inserted = table().heldModules.emplace(path, module);
        if (!inserted.second) {  // another thread got there first; keep one reference
            FreeLibrary(module);
            module = inserted.first->second;
        }
    }
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
    if (!getClassObject) return CO_E_ERRORINDLL;
    return getClassObject(clsid, riid, ppv);
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, clsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

extern "C" void CoFreeUnusedLibraries() {
    std::map<std::string, HMODULE> held;
    {
        std::lock_guard<std::mutex> l(table().mutex);
        held = table().heldModules;
    }
    for (auto& [path, module] : held) {
        auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
        if (canUnload && canUnload() != S_OK) continue;
        {
            std::lock_guard<std::mutex> l(table().mutex);
            table().heldModules.erase(path);
        }
        FreeLibrary(module);
    }
}

// ---- GUID strings ----
extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity) {
    if (!text || capacity < 39) return 0;
    WCHAR* p = text;
    auto hex = [&p](uint32_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i) *p++ = WCHAR(kHex[(v >> (4 * i)) & 0xF]);
    };
    *p++ = L'{';
    hex(guid.Data1, 8);
    *p++ = L'-';
    hex(guid.Data2, 4);
    *p++ = L'-';
    hex(guid.Data3, 4);
    *p++ = L'-';
    hex(guid.Data4[0], 2);
    hex(guid.Data4[1], 2);
    *p++ = L'-';
    for (int i = 2; i < 8; ++i) hex(guid.Data4[i], 2);
    *p++ = L'}';
    *p = 0;
    return 39;
}

extern "C" HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
    if (!text) return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*text) return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *text, 39);
    return S_OK;
}

extern "C" HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return StringFromCLSID(iid, text); }

extern "C" HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    // {8-4-4-4-12}
    static const int groups[] = {8, 4, 4, 4, 12};
    if (std::wcslen(text) != 38 || text[0] != L'{' || text[37] != L'}') return CO_E_CLASSSTRING;
    uint8_t bytes[16];
    int b = 0;
    const WCHAR* p = text + 1;
    for (int g = 0; g < 5; ++g) {
        for (int k = 0; k < groups[g]; k += 2) {
            int hi = hexValue(p[0]), lo = hexValue(p[1]);
            if (hi < 0 || lo < 0) return CO_E_CLASSSTRING;
            bytes[b++] = uint8_t(hi * 16 + lo);
            p += 2;
        }
        if (g < 4) {
            if (*p != L'-') return CO_E_CLASSSTRING;
            ++p;
        }
    }
    clsid->Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    clsid->Data2 = uint16_t((bytes[4] << 8) | bytes[5]);
    clsid->Data3 = uint16_t((bytes[6] << 8) | bytes[7]);
    std::memcpy(clsid->Data4, bytes + 8, 8);
    return S_OK;
}

extern "C" HRESULT IIDFromString(LPCOLESTR text, LPGUID iid) {
    HRESULT hr = CLSIDFromString(text, iid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

// ---- Module loading ----
extern "C" HMODULE LoadLibraryA(LPCSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name(fileName);
    // A bare name is the program's own module: beside the executable, never in the working
    // folder, where anyone who can write there could plant one.
    const std::string folder = executableFolder();
    const std::string path = name.find('/') != std::string::npos ? name : folder + "/" + name;
    if ((path != name && folder.empty()) || !fileExists(path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "LoadLibraryA(%s): %s\n", fileName, dlerror());
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return handle;
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (!module || !procName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(module, procName);
    if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" BOOL FreeLibrary(HMODULE module) {
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return dlclose(module) == 0 ? TRUE : FALSE;
}

extern "C" DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    std::string path;
    if (!module) {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) path.assign(buf, size_t(n));
    } else {
        struct link_map* map = nullptr;
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = map->l_name;
    }
    if (path.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!fileName || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() + 1 > size) {
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    return DWORD(path.size());
}

// ---- BSTR ----
extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    size_t bytes = size_t(length) * sizeof(OLECHAR);
    if (bytes > 0xFFFFFFF0u) return nullptr;
    auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    uint32_t byteLength = uint32_t(bytes);
    std::memcpy(block, &byteLength, sizeof byteLength);
    BSTR s = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
    if (text)
        std::memcpy(s, text, bytes);
    else
        std::memset(s, 0, bytes);
    s[length] = 0;
    return s;
}

extern "C" BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, UINT(std::wcslen(text)));
}

extern "C" void SysFreeString(BSTR text) {
    if (text) std::free(bstrHeader(text));
}

extern "C" UINT SysStringByteLen(BSTR text) { return text ? *bstrHeader(text) : 0; }
extern "C" UINT SysStringLen(BSTR text) { return text ? *bstrHeader(text) / UINT(sizeof(OLECHAR)) : 0; }

// ---- VARIANT ----
extern "C" void VariantInit(VARIANTARG* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

extern "C" HRESULT VariantClear(VARIANTARG* v) {
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
            if (v->punkVal) v->punkVal->Release();
            break;
        case VT_DISPATCH:
            if (v->pdispVal) v->pdispVal->Release();
            break;
        default:
            if (v->vt & VT_ARRAY) return DISP_E_BADVARTYPE;
            break;
        }
    }
    VariantInit(v);
    return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG* dst, const VARIANTARG* src) {
    if (!dst || !src) return E_INVALIDARG;
    if (dst == src) return S_OK;
    if ((src->vt & VT_ARRAY) && !(src->vt & VT_BYREF)) return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(dst);
    if (FAILED(hr)) return hr;
    *dst = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        dst->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!dst->bstrVal) {
            VariantInit(dst);
            return E_OUTOFMEMORY;
        }
    } else if (src->vt == VT_UNKNOWN && src->punkVal) {
        src->punkVal->AddRef();
    } else if (src->vt == VT_DISPATCH && src->pdispVal) {
        src->pdispVal->AddRef();
    }
    return S_OK;
}
