// Windows-width types, GUIDs and HRESULT values for the platform stand-in.
//
// Header layout of the platform layer:
//   platform/windows_types.h  integer and string types with Windows widths, GUID, HRESULT values,
//                             wide/narrow conversion, a few kernel basics (thread and process ids)
//   platform/com.h            IUnknown, IClassFactory, the COM runtime (CoInitialize, class table,
//                             CoCreateInstance), task memory, BSTR/VARIANT, module loading,
//                             monikers, bind contexts, running object table and property bags
//   platform/dshow.h          DirectShow interfaces, structures, media GUIDs and event codes
//   platform/streams.h        the DirectShow base classes (CUnknown ... CBaseOutputPin, allocator,
//                             media samples, CMediaType, CPosPassThru, class factory templates)
//   platform/dllentry.h       the module side of a filter module: DllGetClassObject and
//                             DllCanUnloadNow over the module's g_Templates, and
//                             AMovieDllRegisterServer2; include it in exactly one file per module
//   platform/graph.h          the graph runtime: filter graph manager, stock filters, device
//                             enumeration, running object table, IBasicVideo and IVideoWindow
//
// Widths follow 64-bit Windows: LONG/HRESULT are 32-bit signed, DWORD/ULONG 32-bit unsigned, never
// the platform's `long`. Wide characters are the compiler's wchar_t (32 bits here), so that L""
// literals and the C wide-string functions work; no wide text is ever written to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#define TARVELO_PLATFORM_API __attribute__((visibility("default")))

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef DWORD LCID;
typedef LONG SCODE;
typedef LONG HRESULT;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* LPLONG;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* HWND;
// void(*)() so that casts to the real signature draw no warning.
typedef void (*FARPROC)();

typedef wchar_t WCHAR;
typedef WCHAR OLECHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
// Object names (CBaseObject and derived) are narrow: TCHAR is char.
typedef char TCHAR;
typedef const TCHAR* LPCTSTR;
typedef TCHAR* LPTSTR;
#ifndef TEXT
#define TEXT(x) x
#endif
#ifndef NAME
#define NAME(x) (x)
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// 100-nanosecond units.
typedef LONGLONG REFERENCE_TIME;
typedef double REFTIME;
constexpr REFERENCE_TIME UNITS = 10000000;
constexpr REFERENCE_TIME MILLISECONDS = 10000;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr int MAX_PATH = 260;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;
struct POINT {
    LONG x;
    LONG y;
};
struct SIZE {
    LONG cx;
    LONG cy;
};
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

// ---- GUID ----
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID* LPGUID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

// Byte-wise comparison, as the platform does.
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }
// Ordering for maps keyed by class identifier.
inline bool operator<(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }

// Defines a GUID constant; one definition per program through C++17 inline variables.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
DEFINE_GUID(CLSID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
DEFINE_GUID(IID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);

// ---- HRESULT ----
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code) {
    return static_cast<HRESULT>((uint32_t(sev) << 31) | (uint32_t(fac) << 16) | uint32_t(code));
}
constexpr unsigned HRESULT_CODE(HRESULT hr) { return uint32_t(hr) & 0xFFFFu; }
constexpr unsigned HRESULT_FACILITY(HRESULT hr) { return (uint32_t(hr) >> 16) & 0x1FFFu; }
constexpr unsigned FACILITY_WIN32 = 7;
constexpr unsigned FACILITY_ITF = 4;
constexpr HRESULT HRESULT_FROM_WIN32(DWORD x) {
    return HRESULT(x) <= 0 ? HRESULT(x) : HRESULT((x & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

#define TARVELO_HR(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT NOERROR = 0;
constexpr HRESULT E_NOTIMPL = TARVELO_HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = TARVELO_HR(0x80004002);
constexpr HRESULT E_POINTER = TARVELO_HR(0x80004003);
constexpr HRESULT E_ABORT = TARVELO_HR(0x80004004);
constexpr HRESULT E_FAIL = TARVELO_HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = TARVELO_HR(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = TARVELO_HR(0x80070005);
constexpr HRESULT E_HANDLE = TARVELO_HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = TARVELO_HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = TARVELO_HR(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = TARVELO_HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = TARVELO_HR(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = TARVELO_HR(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = TARVELO_HR(0x80040150);
constexpr HRESULT CO_E_NOTINITIALIZED = TARVELO_HR(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = TARVELO_HR(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = TARVELO_HR(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = TARVELO_HR(0x800401F9);
constexpr HRESULT RPC_E_CHANGED_MODE = TARVELO_HR(0x80010106);
constexpr HRESULT MK_E_UNAVAILABLE = TARVELO_HR(0x800401E3);
constexpr HRESULT MK_E_NOOBJECT = TARVELO_HR(0x800401E5);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = TARVELO_HR(0x80020003);
constexpr HRESULT DISP_E_TYPEMISMATCH = TARVELO_HR(0x80020005);
constexpr HRESULT DISP_E_BADVARTYPE = TARVELO_HR(0x80020008);
constexpr HRESULT STG_E_INVALIDFUNCTION = TARVELO_HR(0x80030001);

// DirectShow (FACILITY_ITF) codes.
constexpr HRESULT VFW_S_NO_MORE_ITEMS = TARVELO_HR(0x00040103);
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = TARVELO_HR(0x80040200);
constexpr HRESULT VFW_E_INVALIDSUBTYPE = TARVELO_HR(0x80040201);
constexpr HRESULT VFW_E_NEED_OWNER = TARVELO_HR(0x80040202);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = TARVELO_HR(0x80040203);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = TARVELO_HR(0x80040204);
constexpr HRESULT VFW_E_FILTER_ACTIVE = TARVELO_HR(0x80040205);
constexpr HRESULT VFW_E_NO_TYPES = TARVELO_HR(0x80040206);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = TARVELO_HR(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = TARVELO_HR(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = TARVELO_HR(0x80040209);
constexpr HRESULT VFW_E_NO_ALLOCATOR = TARVELO_HR(0x8004020A);
constexpr HRESULT VFW_E_RUNTIME_ERROR = TARVELO_HR(0x8004020B);
constexpr HRESULT VFW_E_BUFFER_NOTSET = TARVELO_HR(0x8004020C);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = TARVELO_HR(0x8004020D);
constexpr HRESULT VFW_E_BADALIGN = TARVELO_HR(0x8004020E);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = TARVELO_HR(0x8004020F);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = TARVELO_HR(0x80040210);
constexpr HRESULT VFW_E_NOT_COMMITTED = TARVELO_HR(0x80040211);
constexpr HRESULT VFW_E_SIZENOTSET = TARVELO_HR(0x80040212);
constexpr HRESULT VFW_E_NO_CLOCK = TARVELO_HR(0x80040213);
constexpr HRESULT VFW_E_NO_SINK = TARVELO_HR(0x80040214);
constexpr HRESULT VFW_E_NO_INTERFACE = TARVELO_HR(0x80040215);
constexpr HRESULT VFW_E_NOT_FOUND = TARVELO_HR(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = TARVELO_HR(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = TARVELO_HR(0x80040218);
constexpr HRESULT VFW_E_CHANGING_FORMAT = TARVELO_HR(0x80040219);
constexpr HRESULT VFW_E_STATE_CHANGED = TARVELO_HR(0x80040223);
constexpr HRESULT VFW_E_NOT_STOPPED = TARVELO_HR(0x80040224);
constexpr HRESULT VFW_E_NOT_PAUSED = TARVELO_HR(0x80040225);
constexpr HRESULT VFW_E_NOT_RUNNING = TARVELO_HR(0x80040226);
constexpr HRESULT VFW_E_WRONG_STATE = TARVELO_HR(0x80040227);
constexpr HRESULT VFW_E_START_TIME_AFTER_END = TARVELO_HR(0x80040228);
constexpr HRESULT VFW_E_INVALID_RECT = TARVELO_HR(0x80040229);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = TARVELO_HR(0x8004022A);
constexpr HRESULT VFW_E_SAMPLE_REJECTED = TARVELO_HR(0x8004022B);
constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = TARVELO_HR(0x8004022C);
constexpr HRESULT VFW_E_DUPLICATE_NAME = TARVELO_HR(0x8004022D);
constexpr HRESULT VFW_S_DUPLICATE_NAME = TARVELO_HR(0x0004022D);
constexpr HRESULT VFW_E_TIMEOUT = TARVELO_HR(0x8004022E);
constexpr HRESULT VFW_E_ENUM_OUT_OF_RANGE = TARVELO_HR(0x80040230);
constexpr HRESULT VFW_E_CIRCULAR_GRAPH = TARVELO_HR(0x80040231);
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = TARVELO_HR(0x00040237);
constexpr HRESULT VFW_S_PARTIAL_RENDER = TARVELO_HR(0x00040242);
constexpr HRESULT VFW_S_SOME_DATA_IGNORED = TARVELO_HR(0x00040245);
constexpr HRESULT VFW_S_CONNECTIONS_DEFERRED = TARVELO_HR(0x00040246);
constexpr HRESULT VFW_E_INVALID_CLSID = TARVELO_HR(0x80040247);
constexpr HRESULT VFW_E_INVALID_MEDIA_TYPE = TARVELO_HR(0x80040248);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = TARVELO_HR(0x80040249);
constexpr HRESULT VFW_S_RESOURCE_NOT_NEEDED = TARVELO_HR(0x00040250);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = TARVELO_HR(0x80040251);
constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = TARVELO_HR(0x80040252);
constexpr HRESULT VFW_S_MEDIA_TYPE_IGNORED = TARVELO_HR(0x00040254);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = TARVELO_HR(0x8004025F);
constexpr HRESULT VFW_E_NO_TIME_FORMAT = TARVELO_HR(0x80040261);
constexpr HRESULT VFW_E_READ_ONLY = TARVELO_HR(0x80040262);
constexpr HRESULT VFW_E_BUFFER_UNDERFLOW = TARVELO_HR(0x80040264);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = TARVELO_HR(0x80040265);
constexpr HRESULT VFW_S_STREAM_OFF = TARVELO_HR(0x00040267);
constexpr HRESULT VFW_S_CANT_CUE = TARVELO_HR(0x00040268);
constexpr HRESULT VFW_S_NO_STOP_TIME = TARVELO_HR(0x00040270);
constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = TARVELO_HR(0x80040275);

// Win32 error codes (GetLastError) used by the stand-in.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// ---- Kernel basics ----
extern "C" {
TARVELO_PLATFORM_API DWORD GetLastError();
TARVELO_PLATFORM_API void SetLastError(DWORD error);
TARVELO_PLATFORM_API DWORD GetCurrentProcessId();
TARVELO_PLATFORM_API DWORD GetCurrentThreadId();
TARVELO_PLATFORM_API void Sleep(DWORD milliseconds);
TARVELO_PLATFORM_API DWORD GetTickCount();
}

// ---- Wide and narrow text ----
// The ANSI code page of this system is UTF-8: CP_ACP and CP_UTF8 both convert to and from UTF-8.
// A character that cannot be encoded (a lone surrogate or a value beyond U+10FFFF) becomes the
// default character ("?" unless one is given) and sets *usedDefaultChar.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
extern "C" {
TARVELO_PLATFORM_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                                             LPSTR narrow, int narrowSize, LPCSTR defaultChar,
                                             BOOL* usedDefaultChar);
TARVELO_PLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowCount,
                                             LPWSTR wide, int wideSize);
}
