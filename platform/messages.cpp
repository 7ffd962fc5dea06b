// One queue of posted messages per window.
#include "platform/messages.h"
#include "platform/session.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct WindowQueue {
    std::deque<MSG> messages;
    std::function<void()> wake;
    std::vector<UINT> replaceable;

    // Makes room in a full queue: the oldest replaceable message that a newer one of its number
    // follows. False when there is none.
    bool dropSuperseded() {
        // One pass from the newest: a replaceable message is superseded once its number was seen.
        std::vector<UINT> seen;
        size_t oldest = messages.size();
        for (size_t i = messages.size(); i-- > 0;) {
            const UINT number = messages[i].message;
            if (std::find(replaceable.begin(), replaceable.end(), number) == replaceable.end()) continue;
            if (std::find(seen.begin(), seen.end(), number) != seen.end())
                oldest = i;
            else
                seen.push_back(number);
        }
        if (oldest == messages.size()) return false;
        messages.erase(messages.begin() + (long)oldest);
        return true;
    }

    // A window whose thread stopped draining must not grow its queue without bound.
    bool post(const MSG& msg) {
        if (messages.size() >= POSTED_MESSAGE_LIMIT && !dropSuperseded()) return false;
        messages.push_back(msg);
        return true;
    }
};

std::mutex& queuesLock() {
    static std::mutex lock;
    return lock;
}
// Held while a wake call runs, so a queue is never destroyed under one.
std::mutex& wakeLock() {
    static std::mutex lock;
    return lock;
}
std::map<HWND, WindowQueue>& queues() {
    static std::map<HWND, WindowQueue> all;
    return all;
}

bool inRange(UINT message, UINT low, UINT high) { return (low == 0 && high == 0) || (message >= low && message <= high); }

std::mutex& handlerLock() {
    static std::mutex lock;
    return lock;
}
tarvelo_platform::SystemMessageHandler& systemHandler() {
    static auto* handler = new tarvelo_platform::SystemMessageHandler();
    return *handler;
}

}  // namespace

extern "C" BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> waking(wakeLock());
    if (window == HWND_BROADCAST) {
        std::vector<std::function<void()>> wakes;
        {
            std::lock_guard<std::mutex> lock(queuesLock());
            for (auto& [hwnd, queue] : queues()) {
                if (queue.post(MSG{hwnd, message, wParam, lParam, GetTickCount(), POINT{0, 0}}) && queue.wake)
                    wakes.push_back(queue.wake);
            }
        }
        for (auto& wake : wakes) wake();
        return TRUE;
    }
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(queuesLock());
        auto it = window ? queues().find(window) : queues().end();
        if (it == queues().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (!it->second.post(MSG{window, message, wParam, lParam, GetTickCount(), POINT{0, 0}})) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        wake = it->second.wake;
    }
    if (wake) wake();
    return TRUE;
}

extern "C" BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (!msg) return FALSE;
    std::lock_guard<std::mutex> lock(queuesLock());
    for (auto& [hwnd, queue] : queues()) {
        if (window && hwnd != window) continue;
        for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
            if (!inRange(it->message, filterMin, filterMax)) continue;
            *msg = *it;
            if (remove & PM_REMOVE) queue.messages.erase(it);
            return TRUE;
        }
    }
    return FALSE;
}

namespace tarvelo_platform {

void setSystemMessageHandler(SystemMessageHandler handler) {
    std::lock_guard<std::mutex> lock(handlerLock());
    systemHandler() = std::move(handler);
}

void deliverSystemMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SystemMessageHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerLock());
        handler = systemHandler();
    }
    if (handler)
        handler(window, message, wParam, lParam);
    else
        PostMessageA(window, message, wParam, lParam);
}

}  // namespace tarvelo_platform

namespace tarvelo::user {

void createMessageQueue(HWND window, std::function<void()> wake, std::vector<UINT> replaceable) {
    std::lock_guard<std::mutex> lock(queuesLock());
    WindowQueue& queue = queues()[window];
    queue.messages.clear();
    queue.wake = std::move(wake);
    queue.replaceable = std::move(replaceable);
}

void destroyMessageQueue(HWND window) {
    std::lock_guard<std::mutex> waking(wakeLock());
    std::lock_guard<std::mutex> lock(queuesLock());
    queues().erase(window);
}

}  // namespace tarvelo::user
