// Desktops on X11: names, the thread's and the input's desktop; switching the input away from
// "Default" puts up the cover (x11_cover.h).
#include "platform/kernel.h"
#include "platform/user.h"
#include "platform/x11_cover.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace {

struct DesktopObject {
    std::string name;
};
std::mutex g_desktopMutex;
// Never destroyed: handles that GetThreadDesktop hands out live as long as the process.
std::set<HDESK>& g_desktops = *new std::set<HDESK>();
thread_local std::string t_threadDesktop;
std::string g_inputDesktop = "Default";

std::string processDesktop() {
    const char* d = getenv("TARVELO_DESKTOP");
    return d && *d ? d : "Default";
}

HDESK newDesktop(const std::string& name) {
    auto* d = reinterpret_cast<HDESK>(new DesktopObject{name});
    g_desktops.insert(d);
    return d;
}

// The desktop of a live handle, or null with ERROR_INVALID_HANDLE.
DesktopObject* desktopOf(HDESK h) {
    if (!h || !g_desktops.count(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<DesktopObject*>(h);
}

}  // namespace

namespace tarvelo_platform {
const char* desktopName(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    return d ? d->name.c_str() : "";
}
}  // namespace tarvelo_platform

extern "C" {

HDESK GetThreadDesktop(DWORD threadId) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    // Handles of this call are not to be closed, as on Windows; one per name is kept.
    static std::map<std::string, HDESK>& byName = *new std::map<std::string, HDESK>();
    std::string name = threadId == GetCurrentThreadId() && !t_threadDesktop.empty() ? t_threadDesktop : processDesktop();
    auto it = byName.find(name);
    if (it != byName.end() && g_desktops.count(it->second)) return it->second;
    return byName[name] = newDesktop(name);
}

HDESK OpenInputDesktop(DWORD, BOOL, DWORD) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    return newDesktop(g_inputDesktop);
}

HDESK CreateDesktopA(LPCSTR name, LPCSTR, void*, DWORD, DWORD, void*) {
    if (!name || !*name || std::strchr(name, '\\')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    return newDesktop(name);
}

BOOL SetThreadDesktop(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    if (!d) return FALSE;
    t_threadDesktop = d->name;
    return TRUE;
}

BOOL SwitchDesktop(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    if (!d) return FALSE;
    if (d->name == "Default") {
        tarvelo_platform::hideDesktopCover();
    } else if (!tarvelo_platform::showDesktopCover(d->name)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    g_inputDesktop = d->name;
    return TRUE;
}

BOOL CloseDesktop(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    if (!d) return FALSE;
    g_desktops.erase(desktop);
    delete d;
    return TRUE;
}

}  // extern "C"
