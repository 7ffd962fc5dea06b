// The keyboard on X11: key state, hotkeys and the low-level keyboard hook (passive grabs on the
// root window, served by a thread of their own).
#include "platform/kernel.h"
#include "platform/messages.h"
#include "platform/user.h"
#include "platform/x11_display.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using tarvelo_platform::x11::Connection;
using tarvelo_platform::x11::reportUnavailable;

namespace {

struct KeyName {
    int vk;
    KeySym sym;
};
const KeyName kKeys[] = {
    {0x08, XK_BackSpace}, {VK_TAB, XK_Tab},         {0x0D, XK_Return},     {VK_SHIFT, XK_Shift_L},
    {VK_SHIFT, XK_Shift_R}, {VK_CONTROL, XK_Control_L}, {VK_CONTROL, XK_Control_R}, {VK_MENU, XK_Alt_L},
    {VK_MENU, XK_Alt_R},  {VK_ESCAPE, XK_Escape},   {0x20, XK_space},      {VK_LWIN, XK_Super_L},
    {VK_RWIN, XK_Super_R}, {0x2E, XK_Delete},
};

std::vector<KeySym> symsOf(int vk) {
    std::vector<KeySym> syms;
    if ((vk >= 'A' && vk <= 'Z')) syms.push_back(KeySym(XK_a + (vk - 'A')));
    if (vk >= '0' && vk <= '9') syms.push_back(KeySym(XK_0 + (vk - '0')));
    if (vk >= 0x70 && vk <= 0x7B) syms.push_back(KeySym(XK_F1 + (vk - 0x70)));
    for (auto& k : kKeys)
        if (k.vk == vk) syms.push_back(k.sym);
    return syms;
}

int vkOf(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z) return int('A' + (sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z) return int('A' + (sym - XK_A));
    if (sym >= XK_0 && sym <= XK_9) return int('0' + (sym - XK_0));
    if (sym >= XK_F1 && sym <= XK_F12) return int(0x70 + (sym - XK_F1));
    if (sym == XK_ISO_Left_Tab) return VK_TAB;
    for (auto& k : kKeys)
        if (k.sym == sym) return k.vk;
    return 0;
}

// ---- The grab thread: hotkeys and the keyboard hook ----

struct Grab {
    KeyCode code;
    unsigned modifiers;  // without the lock modifiers
    bool hook;           // a hook key (synchronous keyboard, replayed when passed on)
    HWND window;
    int id;
    UINT winModifiers;
    UINT vk;
};

const unsigned kLockVariants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

std::atomic<Display*> g_errorDisplay{nullptr};
std::atomic<bool> g_grabFailed{false};
XErrorHandler g_previousHandler = nullptr;

int grabErrorHandler(Display* display, XErrorEvent* event) {
    if (display == g_errorDisplay.load()) {
        g_grabFailed = true;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, event) : 0;
}

class GrabThread {
public:
    static GrabThread& instance() {
        static GrabThread* t = new GrabThread();
        return *t;
    }

    // Grabs every lock variant of each (code, modifiers); false (nothing left grabbed) when one fails.
    bool add(const std::vector<Grab>& grabs) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!start()) return false;
        g_errorDisplay = display_;
        g_grabFailed = false;
        XErrorHandler old = XSetErrorHandler(grabErrorHandler);
        if (old != grabErrorHandler) g_previousHandler = old;
        for (auto& g : grabs) {
            for (unsigned lockMods : kLockVariants) {
                unsigned mods = g.modifiers == AnyModifier ? AnyModifier : (g.modifiers | lockMods);
                XGrabKey(display_, g.code, mods, root_, False, GrabModeAsync, g.hook ? GrabModeSync : GrabModeAsync);
                if (g.modifiers == AnyModifier) break;
            }
        }
        XSync(display_, False);
        bool ok = !g_grabFailed;
        if (!ok) {
            ungrab(grabs);
            XSync(display_, False);
        }
        g_errorDisplay = nullptr;
        if (ok) grabs_.insert(grabs_.end(), grabs.begin(), grabs.end());
        wake();
        return ok;
    }

    template <class Pred>
    int remove(Pred match) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Grab> gone, kept;
        for (auto& g : grabs_) (match(g) ? gone : kept).push_back(g);
        grabs_ = kept;
        if (display_ && !gone.empty()) {
            ungrab(gone);
            XFlush(display_);
        }
        return int(gone.size());
    }

    bool hasHotKey(HWND window, int id) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& g : grabs_)
            if (!g.hook && g.window == window && g.id == id) return true;
        return false;
    }

    KeyCode keycode(KeySym sym) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!start()) return 0;
        return XKeysymToKeycode(display_, sym);
    }

    std::atomic<HOOKPROC> hookProcedure{nullptr};

private:
    Display* display_ = nullptr;
    Window root_ = 0;
    int wakeFds_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<Grab> grabs_;

    void ungrab(const std::vector<Grab>& grabs) {
        for (auto& g : grabs)
            for (unsigned lockMods : kLockVariants) {
                XUngrabKey(display_, g.code, g.modifiers == AnyModifier ? AnyModifier : (g.modifiers | lockMods), root_);
                if (g.modifiers == AnyModifier) break;
            }
    }

    void wake() {
        char c = 0;
        if (wakeFds_[1] >= 0) (void)!::write(wakeFds_[1], &c, 1);
    }

    bool start() {
        if (display_) return true;
        display_ = XOpenDisplay(nullptr);
        if (!display_) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return false;
        }
        root_ = DefaultRootWindow(display_);
        Bool supported = False;
        XkbSetDetectableAutoRepeat(display_, True, &supported);
        if (::pipe2(wakeFds_, O_CLOEXEC) != 0) wakeFds_[0] = wakeFds_[1] = -1;
        std::thread([this] { run(); }).detach();
        return true;
    }

    void run() {
        for (;;) {
            pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
            ::poll(fds, wakeFds_[0] >= 0 ? 2 : 1, 1000);
            if (fds[1].revents & POLLIN) {
                char buf[64];
                (void)!::read(wakeFds_[0], buf, sizeof buf);
            }
            for (;;) {
                XEvent event;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (!XPending(display_)) break;
                    XNextEvent(display_, &event);
                }
                if (event.type == KeyPress || event.type == KeyRelease) handleKey(event.xkey);
            }
        }
    }

    void handleKey(XKeyEvent& key) {
        bool press = key.type == KeyPress;
        unsigned state = key.state & ~(LockMask | Mod2Mask);
        KeySym sym;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sym = XkbKeycodeToKeysym(display_, KeyCode(key.keycode), 0, 0);
        }
        const Grab* hotkey = nullptr;
        bool hookKey = false;
        Grab found{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& g : grabs_) {
                if (g.code != key.keycode) continue;
                if (g.hook && (g.modifiers == AnyModifier || g.modifiers == state)) hookKey = true;
                if (!g.hook && g.modifiers == state) {
                    found = g;
                    hotkey = &found;
                }
            }
        }
        if (hotkey && press)
            tarvelo_platform::deliverSystemMessage(found.window, WM_HOTKEY, WPARAM(found.id),
                                                   LPARAM((found.vk << 16) | found.winModifiers));
        bool swallow = true;
        HOOKPROC proc = hookProcedure;
        if (hookKey && proc) {
            bool alt = state & Mod1Mask;
            KBDLLHOOKSTRUCT record{};
            record.vkCode = DWORD(vkOf(sym));
            record.scanCode = DWORD(key.keycode);
            record.flags = (alt ? LLKHF_ALTDOWN : 0) | (press ? 0 : LLKHF_UP);
            record.time = GetTickCount();
            WPARAM message = alt ? (press ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (press ? WM_KEYDOWN : WM_KEYUP);
            swallow = proc(HC_ACTION, message, LPARAM(&record)) != 0;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        // A frozen keyboard (synchronous hook grab) is released either way; a key passed on is replayed
        // to the window that has the focus.
        XAllowEvents(display_, hookKey && press && !swallow ? ReplayKeyboard : AsyncKeyboard, key.time);
        XFlush(display_);
    }
};

struct HHookRecord {};
HHookRecord g_hook;

}  // namespace

extern "C" {

SHORT GetAsyncKeyState(int virtualKey) {
    std::vector<KeySym> syms = symsOf(virtualKey);
    if (syms.empty()) return 0;
    Connection c("GetAsyncKeyState");
    if (!c) return 0;
    char keys[32];
    XQueryKeymap(c.display, keys);
    for (KeySym s : syms) {
        KeyCode code = XKeysymToKeycode(c.display, s);
        if (code && (keys[code / 8] & (1 << (code % 8)))) return SHORT(0x8000);
    }
    return 0;
}

BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey) {
    GrabThread& t = GrabThread::instance();
    if (t.hasHotKey(window, id)) {
        SetLastError(1409);  // ERROR_HOTKEY_ALREADY_REGISTERED
        return FALSE;
    }
    std::vector<KeySym> syms = symsOf(int(virtualKey));
    if (syms.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    unsigned mods = (modifiers & MOD_ALT ? Mod1Mask : 0) | (modifiers & MOD_CONTROL ? ControlMask : 0) |
                    (modifiers & MOD_SHIFT ? ShiftMask : 0) | (modifiers & MOD_WIN ? Mod4Mask : 0);
    KeyCode code = t.keycode(syms[0]);
    if (!code) {
        if (GetLastError() == ERROR_NOT_SUPPORTED) reportUnavailable("RegisterHotKey");
        else SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!t.add({Grab{code, mods, false, window, id, modifiers & 0xF, virtualKey}})) {
        if (GetLastError() != ERROR_NOT_SUPPORTED) SetLastError(1409);
        else reportUnavailable("RegisterHotKey");
        return FALSE;
    }
    return TRUE;
}

BOOL UnregisterHotKey(HWND window, int id) {
    int n = GrabThread::instance().remove([&](const Grab& g) { return !g.hook && g.window == window && g.id == id; });
    if (!n) {
        SetLastError(1419);  // ERROR_HOTKEY_NOT_REGISTERED
        return FALSE;
    }
    return TRUE;
}

HHOOK SetWindowsHookExA(int idHook, HOOKPROC procedure, HINSTANCE, DWORD threadId) {
    if (idHook != WH_KEYBOARD_LL || !procedure || threadId != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    GrabThread& t = GrabThread::instance();
    HOOKPROC none = nullptr;
    if (!t.hookProcedure.compare_exchange_strong(none, procedure)) {
        SetLastError(ERROR_NOT_SUPPORTED);  // one hook at a time
        return nullptr;
    }
    struct Combo {
        KeySym sym;
        unsigned mods;
    };
    const Combo combos[] = {
        {XK_Super_L, AnyModifier},        {XK_Super_R, AnyModifier},      {XK_Escape, ControlMask},
        {XK_Escape, ControlMask | ShiftMask}, {XK_Escape, Mod1Mask},      {XK_Escape, Mod1Mask | ShiftMask},
        {XK_Tab, Mod1Mask},               {XK_Tab, Mod1Mask | ShiftMask}, {XK_F4, Mod1Mask},
    };
    std::vector<Grab> grabs;
    for (auto& c : combos) {
        KeyCode code = t.keycode(c.sym);
        if (!code) {
            if (GetLastError() == ERROR_NOT_SUPPORTED) {
                t.hookProcedure = nullptr;
                reportUnavailable("SetWindowsHookExA");
                return nullptr;
            }
            continue;  // the keyboard has no such key
        }
        grabs.push_back(Grab{code, c.mods, true, nullptr, 0, 0, 0});
    }
    if (!t.add(grabs)) {
        t.hookProcedure = nullptr;
        if (GetLastError() != ERROR_NOT_SUPPORTED) {
            std::fprintf(stderr, "platform: SetWindowsHookExA: another client holds a task-switching key\n");
            SetLastError(ERROR_ACCESS_DENIED);
        }
        return nullptr;
    }
    return reinterpret_cast<HHOOK>(&g_hook);
}

LRESULT CallNextHookEx(HHOOK, int, WPARAM, LPARAM) { return 0; }

BOOL UnhookWindowsHookEx(HHOOK hook) {
    GrabThread& t = GrabThread::instance();
    if (hook != reinterpret_cast<HHOOK>(&g_hook) || !t.hookProcedure) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    t.remove([](const Grab& g) { return g.hook; });
    t.hookProcedure = nullptr;
    return TRUE;
}

}  // extern "C"
