// COM for the platform stand-in: IUnknown and the class factory, the runtime (per-thread
// initialisation, the process-wide class table, CoCreateInstance), task memory, GUID strings,
// BSTR and VARIANT, module loading, and the moniker / running object table / property bag
// interfaces. See windows_types.h for the layout of the whole layer.
//
// The class table holds two kinds of entries: built-in classes of this library (registered at
// load time with tarvelo::com::registerBuiltinClass) and in-process servers entered by a module's
// self-registration (AMovieDllRegisterServer2). CoCreateInstance of a module class loads the
// module (one reference held by COM) and asks its DllGetClassObject; COM lets go of modules whose
// DllCanUnloadNow agrees in CoFreeUnusedLibraries and when the last CoInitialize of the process
// is undone.
#pragma once

#include "platform/windows_types.h"

#include <string>
#include <vector>

#define STDMETHODCALLTYPE
#define STDAPI extern "C" TARVELO_PLATFORM_API HRESULT
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type
#define PURE = 0

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IMarshal, 0x00000003, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IBindCtx, 0x0000000E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IMoniker, 0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IRunningObjectTable, 0x00000010, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IEnumMoniker, 0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
DEFINE_GUID(IID_IErrorLog, 0x3127CA40, 0x446E, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

// Interfaces have no virtual destructor, as on the platform: objects are destroyed by Release.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};
typedef IClassFactory* LPCLASSFACTORY;

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

// ---- Task memory ----
extern "C" {
TARVELO_PLATFORM_API void* CoTaskMemAlloc(size_t bytes);
TARVELO_PLATFORM_API void* CoTaskMemRealloc(void* p, size_t bytes);
TARVELO_PLATFORM_API void CoTaskMemFree(void* p);
}

// ---- Runtime ----
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

extern "C" {
// Per-thread count: S_OK for the first call on a thread, S_FALSE for further ones.
TARVELO_PLATFORM_API HRESULT CoInitialize(LPVOID reserved);
TARVELO_PLATFORM_API HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
TARVELO_PLATFORM_API void CoUninitialize();
// CO_E_NOTINITIALIZED on a thread without CoInitialize; REGDB_E_CLASSNOTREG for an unknown class.
TARVELO_PLATFORM_API HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsContext, REFIID riid,
                                              LPVOID* ppv);
TARVELO_PLATFORM_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, LPVOID serverInfo, REFIID riid,
                                              LPVOID* ppv);
TARVELO_PLATFORM_API void CoFreeUnusedLibraries();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case; the string is freed with CoTaskMemFree.
TARVELO_PLATFORM_API HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
TARVELO_PLATFORM_API HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
// Writes at most `capacity` characters including the terminator; returns that count (39) or 0.
TARVELO_PLATFORM_API int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity);
TARVELO_PLATFORM_API HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
TARVELO_PLATFORM_API HRESULT IIDFromString(LPCOLESTR text, LPGUID iid);
}

// The four exports of an in-process server module.
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT (*LPFNCANUNLOADNOW)();
typedef HRESULT (*LPFNDLLREGISTERSERVER)();
typedef HRESULT (*LPFNDLLUNREGISTERSERVER)();

namespace tarvelo::com {

// Creation of a built-in class's class object (same contract as a module's DllGetClassObject).
typedef HRESULT (*BuiltinClassObjectFn)(REFCLSID clsid, REFIID riid, void** ppv);

// Enters a class of this library in the class table (called from static registrars at load).
TARVELO_PLATFORM_API void registerBuiltinClass(REFCLSID clsid, BuiltinClassObjectFn getClassObject);

// In-process server registration, as a module's DllRegisterServer makes it.
TARVELO_PLATFORM_API void registerInprocServer(REFCLSID clsid, const std::string& modulePath,
                                               const std::string& threadingModel);
TARVELO_PLATFORM_API void unregisterInprocServer(REFCLSID clsid);
// The module path of a registered in-process server, or "" when the class has none.
TARVELO_PLATFORM_API std::string inprocServerPath(REFCLSID clsid);
TARVELO_PLATFORM_API std::string inprocServerThreadingModel(REFCLSID clsid);

// Registered filters (the filter mapper's data), as AMovieDllRegisterServer2 enters them.
struct RegisteredFilterPin {
    std::wstring name;
    bool rendered = false, output = false, zero = false, many = false;
    std::vector<std::pair<GUID, GUID>> mediaTypes;  // major type, subtype
};
struct RegisteredFilter {
    CLSID clsid{};
    std::wstring name;
    DWORD merit = 0;
    std::vector<RegisteredFilterPin> pins;
};
TARVELO_PLATFORM_API void registerFilter(const RegisteredFilter& filter);
TARVELO_PLATFORM_API void unregisterFilter(REFCLSID clsid);
// false when the class has no filter registration.
TARVELO_PLATFORM_API bool findRegisteredFilter(REFCLSID clsid, RegisteredFilter* out);

// Whether COM is initialised on the calling thread.
TARVELO_PLATFORM_API bool isInitializedOnThisThread();
// Number of modules COM itself holds loaded for CoCreateInstance.
TARVELO_PLATFORM_API int heldModuleCount();

// Narrow (UTF-8) and wide conversions and the registry form of a GUID as a narrow string.
TARVELO_PLATFORM_API std::string narrow(const WCHAR* wide);
TARVELO_PLATFORM_API std::wstring widen(const char* text);
TARVELO_PLATFORM_API std::string guidToString(REFGUID guid);

}  // namespace tarvelo::com

// ---- Module loading ----
// A bare name (no '/') is searched for in the executable's folder, then the working folder.
// Modules are loaded with local symbol binding, so each keeps its own copy of what it links.
extern "C" {
TARVELO_PLATFORM_API HMODULE LoadLibraryA(LPCSTR fileName);
TARVELO_PLATFORM_API FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
TARVELO_PLATFORM_API BOOL FreeLibrary(HMODULE module);
// The path the module was loaded from; a null module is the executable.
TARVELO_PLATFORM_API DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
}

// ---- BSTR and VARIANT ----
// A BSTR points at the characters; the 32-bit byte length precedes them, a terminator follows.
typedef OLECHAR* BSTR;
typedef short VARIANT_BOOL;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
typedef unsigned short VARTYPE;
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct IDispatch;
// 24 bytes, as on 64-bit Windows.
struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecVal;
    };
};
typedef VARIANT VARIANTARG;
#define V_VT(v) ((v)->vt)
#define V_BSTR(v) ((v)->bstrVal)
#define V_I4(v) ((v)->lVal)
#define V_UNKNOWN(v) ((v)->punkVal)

extern "C" {
TARVELO_PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
TARVELO_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
TARVELO_PLATFORM_API void SysFreeString(BSTR text);
TARVELO_PLATFORM_API UINT SysStringLen(BSTR text);
TARVELO_PLATFORM_API UINT SysStringByteLen(BSTR text);
TARVELO_PLATFORM_API void VariantInit(VARIANTARG* v);
// Frees a BSTR, releases an interface, and leaves the variant VT_EMPTY.
TARVELO_PLATFORM_API HRESULT VariantClear(VARIANTARG* v);
TARVELO_PLATFORM_API HRESULT VariantCopy(VARIANTARG* dst, const VARIANTARG* src);
}

// ---- Automation (declared for the interfaces derived from it; the stand-in does not dispatch) ----
typedef LONG DISPID;
struct ITypeInfo;
struct DISPPARAMS;
struct EXCEPINFO;
struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argError) = 0;
};

// ---- Monikers, bind contexts, the running object table, property bags ----
struct IStream;
struct IEnumString;
struct IMoniker;
struct IEnumMoniker;
struct IRunningObjectTable;
struct BIND_OPTS {
    DWORD cbStruct;
    DWORD grfFlags;
    DWORD grfMode;
    DWORD dwTickCountDeadline;
};

struct IPersistStream : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
};

struct IBindCtx : IUnknown {
    virtual HRESULT RegisterObjectBound(IUnknown* object) = 0;
    virtual HRESULT RevokeObjectBound(IUnknown* object) = 0;
    virtual HRESULT ReleaseBoundObjects() = 0;
    virtual HRESULT SetBindOptions(BIND_OPTS* options) = 0;
    virtual HRESULT GetBindOptions(BIND_OPTS* options) = 0;
    virtual HRESULT GetRunningObjectTable(IRunningObjectTable** table) = 0;
    virtual HRESULT RegisterObjectParam(LPOLESTR key, IUnknown* object) = 0;
    virtual HRESULT GetObjectParam(LPOLESTR key, IUnknown** object) = 0;
    virtual HRESULT EnumObjectParam(IEnumString** keys) = 0;
    virtual HRESULT RevokeObjectParam(LPOLESTR key) = 0;
};
typedef IBindCtx* LPBC;
typedef IBindCtx* LPBINDCTX;

struct IMoniker : IPersistStream {
    virtual HRESULT BindToObject(IBindCtx* bc, IMoniker* toLeft, REFIID riid, void** ppv) = 0;
    virtual HRESULT BindToStorage(IBindCtx* bc, IMoniker* toLeft, REFIID riid, void** ppv) = 0;
    virtual HRESULT Reduce(IBindCtx* bc, DWORD howFar, IMoniker** toLeft, IMoniker** reduced) = 0;
    virtual HRESULT ComposeWith(IMoniker* right, BOOL onlyIfNotGeneric, IMoniker** composite) = 0;
    virtual HRESULT Enum(BOOL forward, IEnumMoniker** enumMoniker) = 0;
    virtual HRESULT IsEqual(IMoniker* other) = 0;
    virtual HRESULT Hash(DWORD* hash) = 0;
    virtual HRESULT IsRunning(IBindCtx* bc, IMoniker* toLeft, IMoniker* newlyRunning) = 0;
    virtual HRESULT GetTimeOfLastChange(IBindCtx* bc, IMoniker* toLeft, FILETIME* time) = 0;
    virtual HRESULT Inverse(IMoniker** inverse) = 0;
    virtual HRESULT CommonPrefixWith(IMoniker* other, IMoniker** prefix) = 0;
    virtual HRESULT RelativePathTo(IMoniker* other, IMoniker** relative) = 0;
    virtual HRESULT GetDisplayName(IBindCtx* bc, IMoniker* toLeft, LPOLESTR* displayName) = 0;
    virtual HRESULT ParseDisplayName(IBindCtx* bc, IMoniker* toLeft, LPOLESTR displayName, ULONG* eaten,
                                     IMoniker** out) = 0;
    virtual HRESULT IsSystemMoniker(DWORD* mksys) = 0;
};
typedef IMoniker* LPMONIKER;

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** copy) = 0;
};

constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;
struct IRunningObjectTable : IUnknown {
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
    virtual HRESULT Revoke(DWORD cookie) = 0;
    virtual HRESULT IsRunning(IMoniker* name) = 0;
    virtual HRESULT GetObject(IMoniker* name, IUnknown** object) = 0;
    virtual HRESULT NoteChangeTime(DWORD cookie, FILETIME* time) = 0;
    virtual HRESULT GetTimeOfLastChange(IMoniker* name, FILETIME* time) = 0;
    virtual HRESULT EnumRunning(IEnumMoniker** enumMoniker) = 0;
};
typedef IRunningObjectTable* LPRUNNINGOBJECTTABLE;

struct IErrorLog;
struct IPropertyBag : IUnknown {
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;
};

// Provided by the graph runtime's part of this library (running object table, item monikers).
extern "C" {
TARVELO_PLATFORM_API HRESULT GetRunningObjectTable(DWORD reserved, LPRUNNINGOBJECTTABLE* table);
TARVELO_PLATFORM_API HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, LPMONIKER* moniker);
TARVELO_PLATFORM_API HRESULT CreateBindCtx(DWORD reserved, LPBC* bc);
}
