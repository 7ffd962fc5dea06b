// Posted window messages for the platform stand-in: PostMessageA and PeekMessageA over one queue
// per window. The GUI gives each window that is to receive posted messages a queue
// (tarvelo::user::createMessageQueue) and drains it on its own thread; a post to a window
// without a queue fails, as a post to a destroyed window does.
#pragma once

#include "platform/user.h"

#include <cstddef>
#include <functional>
#include <vector>

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
// Messages a window's queue holds at most, as Windows' default posted-message quota.
constexpr size_t POSTED_MESSAGE_LIMIT = 10000;

extern "C" {
// Queues the message for the window and returns at once, from any thread. FALSE (last error
// ERROR_INVALID_WINDOW_HANDLE) when the window has no queue. HWND_BROADCAST (session.h) queues it for
// every window that has one. A full queue (POSTED_MESSAGE_LIMIT) first drops its oldest message of
// a number the queue was told a newer one replaces (a score update) when such a newer one is
// queued; with none to drop, the post fails (last error ERROR_NOT_ENOUGH_QUOTA) and nothing queued
// is lost.
TARVELO_PLATFORM_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Takes (PM_REMOVE) or looks at the oldest message of the window (a null window: of any window)
// whose number lies in [filterMin, filterMax] (both 0: any number); FALSE when there is none.
TARVELO_PLATFORM_API BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
}

namespace tarvelo::user {

// Gives the window a queue. wake, when set, is called on the posting thread after each post so
// that the GUI can schedule a drain; it must only signal (never post, peek or wait for the GUI).
// replaceable: message numbers whose older copies a full queue may drop (never a verdict).
TARVELO_PLATFORM_API void createMessageQueue(HWND window, std::function<void()> wake = nullptr,
                                             std::vector<UINT> replaceable = {});
// Drops the window's queue and its pending messages; returns once no wake call for it runs.
TARVELO_PLATFORM_API void destroyMessageQueue(HWND window);

}  // namespace tarvelo::user
