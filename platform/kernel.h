// Kernel services of the platform stand-in: named mutexes, files and folders, processes, the
// account name and password check, and the small file-backed registry.
//
// Named mutexes are locks (flock) on files in a folder that only the account can open
// ($XDG_RUNTIME_DIR/tarvelo-mutex, else ~/.cache/tarvelo-mutex, else /tmp/tarvelo-mutex-UID, each
// used only when it belongs to the account and is closed to others), so another account can neither
// hold nor see this account's names; "Global\" names are one per account on the machine. The kernel
// drops a lock with the last descriptor, so a name disappears with its last handle, also when its
// holder is killed. Processes are started with posix_spawn; a STARTUPINFOA desktop name reaches the
// child as TARVELO_DESKTOP (see user.h).
#pragma once

#include "platform/windows_types.h"

#include <string>

constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_MORE_DATA = 234;
// A registry hive that cannot be read (see RegOpenKeyA).
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_NO_SUCH_LOGON_SESSION = 1312;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_LOGON_FAILURE = 1326;
constexpr DWORD ERROR_ACCOUNT_RESTRICTION = 1327;
// Why a logon that is not a wrong password fails (see LogonUserA).
constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr DWORD ERROR_NO_LOGON_SERVERS = 1311;
constexpr DWORD ERROR_PASSWORD_EXPIRED = 1330;
constexpr DWORD ERROR_ACCOUNT_DISABLED = 1331;
constexpr DWORD ERROR_LOGON_NOT_GRANTED = 1380;
constexpr DWORD ERROR_ACCOUNT_EXPIRED = 1793;
constexpr DWORD ERROR_PASSWORD_MUST_CHANGE = 1907;
constexpr DWORD ERROR_ACCOUNT_LOCKED_OUT = 1909;
constexpr DWORD ERROR_NOT_OWNER = 288;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef HANDLE* PHANDLE;
typedef ULONG* PULONG;

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD STILL_ACTIVE = 259;

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOA* LPSTARTUPINFOA;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

// GetUserNameExA formats; only the SAM-compatible one ("DOMAIN\user") has a meaning here.
enum EXTENDED_NAME_FORMAT {
    NameUnknown = 0,
    NameFullyQualifiedDN = 1,
    NameSamCompatible = 2,
    NameDisplay = 3,
};

constexpr DWORD LOGON32_LOGON_INTERACTIVE = 2;
constexpr DWORD LOGON32_PROVIDER_DEFAULT = 0;

// ---- Registry ----
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

extern "C" {

// Mutexes. A second CreateMutexA of an existing name returns a handle with ERROR_ALREADY_EXISTS.
TARVELO_PLATFORM_API HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
TARVELO_PLATFORM_API BOOL ReleaseMutex(HANDLE mutex);
// Mutexes, processes, their thread handles and logon tokens.
TARVELO_PLATFORM_API BOOL CloseHandle(HANDLE handle);

// Files and folders. Paths may use '\' or '/'.
TARVELO_PLATFORM_API BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists);
TARVELO_PLATFORM_API BOOL DeleteFileA(LPCSTR path);
TARVELO_PLATFORM_API DWORD GetFileAttributesA(LPCSTR path);
TARVELO_PLATFORM_API BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);

// Processes. The program is found beside the running executable, in the working folder or on the
// search path; a name ending in ".exe" that does not exist is also tried without it.
TARVELO_PLATFORM_API BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                         LPSECURITY_ATTRIBUTES thread, BOOL inheritHandles, DWORD flags,
                                         LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                                         LPPROCESS_INFORMATION information);
// Nothing here can tell when another process waits for input: it returns at once, WAIT_FAILED with
// ERROR_NOT_SUPPORTED while the process runs, 0 once it has ended.
TARVELO_PLATFORM_API DWORD WaitForInputIdle(HANDLE process, DWORD milliseconds);
// Process handles only (the thread handle of a started process waits for the process).
TARVELO_PLATFORM_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
TARVELO_PLATFORM_API BOOL TerminateProcess(HANDLE process, UINT exitCode);
// A child reaped by someone else (a toolkit's SIGCHLD handler) has lost its status: it reads 0xFFFFFFFF,
// never 0.
TARVELO_PLATFORM_API BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);

// "HOST\login" from the host name (upper case) and the passwd entry of the effective user.
TARVELO_PLATFORM_API BOOL GetUserNameExA(EXTENDED_NAME_FORMAT format, LPSTR buffer, PULONG size);
// Checks the password through PAM, service "tarvelo" (platform/pam/tarvelo, installed in
// /etc/pam.d; without it PAM uses the system's "other" policy): authentication, then the account's
// state. The token is a handle for CloseHandle. The domain is not used. An empty password never logs
// on: it fails with ERROR_ACCOUNT_RESTRICTION when the service accepts it (the account has no
// password), else with ERROR_LOGON_FAILURE, like any wrong password.
// A failure says why: ERROR_LOGON_FAILURE a wrong password (or an unknown user);
// ERROR_ACCOUNT_LOCKED_OUT too many tries, or a locked local password ("!" in the shadow entry);
// ERROR_ACCOUNT_DISABLED a local account without a usable password ("*"); ERROR_ACCOUNT_EXPIRED,
// ERROR_PASSWORD_EXPIRED, ERROR_PASSWORD_MUST_CHANGE and ERROR_LOGON_NOT_GRANTED the account's state
// after a right password; ERROR_NO_LOGON_SERVERS a service that cannot check (a module missing or
// failing, no authentication data); ERROR_SERVICE_DOES_NOT_EXIST neither "tarvelo" nor the system's
// "other" policy exists. The shadow entry is read only where the process may read it (root).
TARVELO_PLATFORM_API BOOL LogonUserA(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD logonType,
                                     DWORD provider, PHANDLE token);

// Registry: a file per hive under $TARVELO_REGISTRY_DIR, else $XDG_CONFIG_HOME/tarvelo-registry, else
// ~/.config/tarvelo-registry (0700, files 0600). Key and value names compare without letter case.
TARVELO_PLATFORM_API LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
TARVELO_PLATFORM_API LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
TARVELO_PLATFORM_API LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                         DWORD size);
TARVELO_PLATFORM_API LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD size);
TARVELO_PLATFORM_API LONG RegDeleteValueA(HKEY key, LPCSTR name);
TARVELO_PLATFORM_API LONG RegCloseKey(HKEY key);
}

namespace tarvelo_platform {
// The account's private runtime folder, the one that holds the named mutexes (made when missing,
// 0700, checked as above); "" when none is usable. For small state that must not outlive a boot.
TARVELO_PLATFORM_API std::string privateRuntimeFolder();
}  // namespace tarvelo_platform
