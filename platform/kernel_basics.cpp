// Thread and process ids, the last-error value, sleeping, the UTF-8 code page conversions and
// module handles.
#include "platform/windows_types.h"
#include "platform/user.h"

#include <chrono>
#include <thread>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
thread_local DWORD t_lastError = 0;

// Appends the UTF-8 form of `cp`; false when it is not a scalar value.
bool encodeUtf8(uint32_t cp, char* out, int& n) {
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    if (cp < 0x80) {
        out[n++] = char(cp);
    } else if (cp < 0x800) {
        out[n++] = char(0xC0 | (cp >> 6));
        out[n++] = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out[n++] = char(0xE0 | (cp >> 12));
        out[n++] = char(0x80 | ((cp >> 6) & 0x3F));
        out[n++] = char(0x80 | (cp & 0x3F));
    } else if (cp <= 0x10FFFF) {
        out[n++] = char(0xF0 | (cp >> 18));
        out[n++] = char(0x80 | ((cp >> 12) & 0x3F));
        out[n++] = char(0x80 | ((cp >> 6) & 0x3F));
        out[n++] = char(0x80 | (cp & 0x3F));
    } else {
        return false;
    }
    return true;
}

// Decodes one UTF-8 sequence at s[i..end); a malformed byte decodes as U+FFFD and is skipped alone.
uint32_t decodeUtf8(const unsigned char* s, int end, int& i) {
    unsigned char c = s[i++];
    if (c < 0x80) return c;
    int extra;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        return 0xFFFD;
    }
    if (i + extra > end) return 0xFFFD;
    for (int k = 0; k < extra; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    i += extra;
    return cp;
}
}  // namespace

extern "C" {

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }
DWORD GetCurrentProcessId() { return DWORD(getpid()); }
DWORD GetCurrentThreadId() { return DWORD(syscall(SYS_gettid)); }
void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
DWORD GetTickCount() {
    using namespace std::chrono;
    return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR narrow, int narrowSize,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
    if (!wide || wideCount == 0 || narrowSize < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    int count = wideCount < 0 ? int(std::wcslen(wide)) + 1 : wideCount;
    const char* fallback = defaultChar ? defaultChar : "?";
    int written = 0;
    for (int i = 0; i < count; ++i) {
        char buf[4];
        int n = 0;
        if (!encodeUtf8(uint32_t(wide[i]), buf, n)) {
            n = 0;
            buf[n++] = fallback[0];
            if (usedDefaultChar) *usedDefaultChar = TRUE;
        }
        if (narrowSize > 0) {
            if (written + n > narrowSize) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            std::memcpy(narrow + written, buf, size_t(n));
        }
        written += n;
    }
    return written;
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR narrow, int narrowCount, LPWSTR wide, int wideSize) {
    if (!narrow || narrowCount == 0 || wideSize < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int count = narrowCount < 0 ? int(std::strlen(narrow)) + 1 : narrowCount;
    const auto* s = reinterpret_cast<const unsigned char*>(narrow);
    int written = 0;
    for (int i = 0; i < count;) {
        uint32_t cp = decodeUtf8(s, count, i);
        if (wideSize > 0) {
            if (written >= wideSize) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            wide[written] = WCHAR(cp);
        }
        ++written;
    }
    return written;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    void* handle = dlopen(moduleName, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    dlclose(handle);  // a module handle is not a reference
    return handle;
}
}
