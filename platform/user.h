// User services of the platform stand-in on X11: last input time, the screen-saver settings, key
// state, hotkeys, the low-level keyboard hook, desktops and session notifications.
//
// Every call opens its own connection to the X server named by DISPLAY (hotkeys and the hook keep one
// on a thread of their own). Without a display each call fails with ERROR_NOT_SUPPORTED and says so
// once on standard error.
//
// What X11 cannot give, and what stands in for it:
// - Screen saver: "active" is the server's screen-saver timeout being non-zero. Switching it off keeps
//   the timeout in the registry (HKEY_CURRENT_USER "Control Panel\Desktop" "ScreenSaveTimeOut", as
//   Windows keeps it) so that switching it on again, from any process, restores it (600 s if none
//   was kept).
// - Hotkeys and the keyboard hook are passive key grabs on the root window. The hook procedure sees
//   only the task-switching keys (both Windows keys, Escape with Ctrl, Ctrl+Shift or Alt, Tab and F4
//   with Alt): those are the keys a window manager acts on, and the only ones that reach no window
//   while grabbed. A key that the procedure passes on (CallNextHookEx) is replayed to the focused
//   window; the window manager does not see it. The procedure runs on the platform's X thread, not
//   on the thread that installed it. A key that another client already grabs cannot be hooked: the
//   installation then fails.
// - Desktops: X11 has one set of windows per screen. A created desktop is a name; switching the
//   input to a desktop other than "Default" covers every screen with a black override-redirect
//   window of the platform (the whole root, so every RandR monitor). Windows of the processes started
//   on that desktop (CreateProcessA with its name in STARTUPINFOA; the X server tells which process a
//   window belongs to) are kept above the cover, every other window below it, however often another
//   client maps or raises one; where a compositor runs, the cover and those windows live in its
//   overlay window. While none of those windows shows, the cover holds the keyboard and the pointer.
//   The unlock screen makes its window override-redirect and takes both grabs itself (below). A
//   process started with a desktop name finds it through GetThreadDesktop.
// - Session notifications and power broadcasts come from logind over D-Bus (session.h).
#pragma once

#include "platform/windows_types.h"

#include <functional>

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

struct LASTINPUTINFO {
    UINT cbSize;
    DWORD dwTime;  // GetTickCount value of the last input
};
typedef LASTINPUTINFO* PLASTINPUTINFO;

constexpr UINT SPI_GETSCREENSAVEACTIVE = 0x0010;
constexpr UINT SPI_SETSCREENSAVEACTIVE = 0x0011;
constexpr UINT SPI_GETSCREENSAVERRUNNING = 0x0072;
constexpr UINT SPIF_UPDATEINIFILE = 0x01;
constexpr UINT SPIF_SENDCHANGE = 0x02;

constexpr UINT MOD_ALT = 0x0001;
constexpr UINT MOD_CONTROL = 0x0002;
constexpr UINT MOD_SHIFT = 0x0004;
constexpr UINT MOD_WIN = 0x0008;
constexpr UINT WM_HOTKEY = 0x0312;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;

constexpr int VK_TAB = 0x09;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_LWIN = 0x5B;
constexpr int VK_RWIN = 0x5C;
constexpr int VK_F4 = 0x73;

constexpr int WH_KEYBOARD_LL = 13;
constexpr int HC_ACTION = 0;
constexpr DWORD LLKHF_ALTDOWN = 0x20;
constexpr DWORD LLKHF_UP = 0x80;

struct KBDLLHOOKSTRUCT {
    DWORD vkCode;
    DWORD scanCode;
    DWORD flags;
    DWORD time;
    ULONG_PTR dwExtraInfo;
};
typedef KBDLLHOOKSTRUCT* PKBDLLHOOKSTRUCT;

struct HHOOK__;
typedef HHOOK__* HHOOK;
typedef LRESULT (*HOOKPROC)(int code, WPARAM wParam, LPARAM lParam);

struct HDESK__;
typedef HDESK__* HDESK;
constexpr DWORD DESKTOP_SWITCHDESKTOP = 0x0100;
constexpr DWORD GENERIC_ALL = 0x10000000;

constexpr DWORD NOTIFY_FOR_THIS_SESSION = 0;

extern "C" {

// The last key or pointer input of the X server (XScreenSaver extension), on the GetTickCount clock.
TARVELO_PLATFORM_API BOOL GetLastInputInfo(PLASTINPUTINFO info);
// SPI_GETSCREENSAVEACTIVE, SPI_SETSCREENSAVEACTIVE (uiParam TRUE/FALSE) and SPI_GETSCREENSAVERRUNNING
// (pvParam a BOOL*); any other action fails with ERROR_NOT_SUPPORTED.
TARVELO_PLATFORM_API BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni);
// 0x8000 when the key is down now (the keyboard state of the X server); VK_SHIFT, VK_CONTROL,
// VK_MENU and the keys of the table in the source.
TARVELO_PLATFORM_API SHORT GetAsyncKeyState(int virtualKey);
// The running executable for NULL; a loaded module otherwise.
TARVELO_PLATFORM_API HMODULE GetModuleHandleA(LPCSTR moduleName);

// WM_HOTKEY (wParam the id, lParam the modifiers in the low word and the key in the high word) is
// posted to the window (PostMessageA, messages.h), or handed to the hotkey handler when one is set
// (below). One registration per window and id.
TARVELO_PLATFORM_API BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey);
TARVELO_PLATFORM_API BOOL UnregisterHotKey(HWND window, int id);

// WH_KEYBOARD_LL only, thread id 0; one hook at a time.
TARVELO_PLATFORM_API HHOOK SetWindowsHookExA(int idHook, HOOKPROC procedure, HINSTANCE module, DWORD threadId);
TARVELO_PLATFORM_API LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);
TARVELO_PLATFORM_API BOOL UnhookWindowsHookEx(HHOOK hook);

TARVELO_PLATFORM_API HDESK GetThreadDesktop(DWORD threadId);
TARVELO_PLATFORM_API HDESK OpenInputDesktop(DWORD flags, BOOL inherit, DWORD access);
TARVELO_PLATFORM_API HDESK CreateDesktopA(LPCSTR name, LPCSTR device, void* devmode, DWORD flags, DWORD access,
                                          void* security);
TARVELO_PLATFORM_API BOOL SetThreadDesktop(HDESK desktop);
TARVELO_PLATFORM_API BOOL SwitchDesktop(HDESK desktop);
TARVELO_PLATFORM_API BOOL CloseDesktop(HDESK desktop);

// See session.h. FALSE with ERROR_NOT_SUPPORTED where logind cannot be reached; unregistering a
// window that is not registered fails with ERROR_INVALID_PARAMETER.
TARVELO_PLATFORM_API BOOL WTSRegisterSessionNotification(HWND window, DWORD flags);
TARVELO_PLATFORM_API BOOL WTSUnRegisterSessionNotification(HWND window);
}

namespace tarvelo_platform {
// Receives the messages that the system sends rather than posts (WM_HOTKEY on the platform's X
// thread; WM_WTSSESSION_CHANGE and WM_POWERBROADCAST on its D-Bus thread, session.h) in place of the
// windows' message queues; an empty handler restores the posting.
typedef std::function<void(HWND window, UINT message, WPARAM wParam, LPARAM lParam)> SystemMessageHandler;
TARVELO_PLATFORM_API void setSystemMessageHandler(SystemMessageHandler handler);
// Delivers a system message: to the handler when one is set, else posted (HWND_BROADCAST: to every
// window with a queue). For the platform's own threads.
TARVELO_PLATFORM_API void deliverSystemMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Name of a desktop handle ("" for none), for tests and logs.
TARVELO_PLATFORM_API const char* desktopName(HDESK desktop);

// The unlock screen's side of the lock desktop, on the toolkit's own X connection (display is its
// Display*, window a top-level window of it), called on the thread that owns that connection.
// Makes the window override-redirect; to be called before the window is first mapped, so that no
// window manager frames, moves or stacks it. False when it is not a window of that display.
TARVELO_PLATFORM_API bool setLockScreenWindow(void* display, unsigned long window);
constexpr unsigned LOCK_INPUT_KEYBOARD = 1;
constexpr unsigned LOCK_INPUT_POINTER = 2;
// Grabs the keyboard and the pointer for the window (the connection's own windows still get their
// events) and returns what is held; call again until both are (another client may hold one, the
// cover does until the window shows). Calling again while they are held keeps them; they go with
// the connection.
TARVELO_PLATFORM_API unsigned grabLockScreenInput(void* display, unsigned long window);
}  // namespace tarvelo_platform
