// Session notifications and power broadcasts of the platform stand-in, from logind over the system
// D-Bus (GDBus):
// - org.freedesktop.login1.Manager PrepareForSleep(true) is the power broadcast PBT_APMSUSPEND,
//   PrepareForSleep(false) PBT_APMRESUMESUSPEND. Broadcasts reach every window, registered or not
//   (as on Windows, where they go to every top-level window): with a system message handler (user.h)
//   it is called once with HWND_BROADCAST, else they are posted to every window that has a queue.
// - The process's own logind session (GetSessionByPID, else $XDG_SESSION_ID, else the user's display
//   session): its Lock and Unlock signals are WTS_SESSION_LOCK and WTS_SESSION_UNLOCK, its "Active"
//   property turning true or false WTS_SESSION_LOGON or WTS_SESSION_LOGOFF, and its removal
//   WTS_SESSION_LOGOFF. They reach the windows registered with WTSRegisterSessionNotification
//   (through the handler, else posted), with the session id's number in lParam.
// The watch starts with the first registration and lasts as long as the process; signals arrive on
// the platform's D-Bus thread. Without a reachable system bus or logind, the registration fails with
// ERROR_NOT_SUPPORTED and says why once on standard error; no broadcast comes then.
#pragma once

#include "platform/user.h"

#define HWND_BROADCAST ((HWND)(UINT_PTR)0xFFFF)

constexpr UINT WM_POWERBROADCAST = 0x0218;
constexpr WPARAM PBT_APMQUERYSUSPEND = 0x0000;
constexpr WPARAM PBT_APMSUSPEND = 0x0004;
constexpr WPARAM PBT_APMRESUMECRITICAL = 0x0006;
constexpr WPARAM PBT_APMRESUMESUSPEND = 0x0007;

constexpr UINT WM_WTSSESSION_CHANGE = 0x02B1;
constexpr WPARAM WTS_SESSION_LOGON = 0x5;
constexpr WPARAM WTS_SESSION_LOGOFF = 0x6;
constexpr WPARAM WTS_SESSION_LOCK = 0x7;
constexpr WPARAM WTS_SESSION_UNLOCK = 0x8;
