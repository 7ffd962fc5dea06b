// User services against a private Xvfb: screen saver, idle time, key state, hotkeys, the keyboard
// hook and desktops with the lock desktop's cover.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/kernel.h"
#include "platform/messages.h"
#include "platform/user.h"
#include "private_display.h"

namespace {

// A window that another client destroys between the test's query of the tree and its look at the
// window (a killed unlock screen's) is no error of the test; everything else goes on as before.
Display* g_testDisplay = nullptr;
XErrorHandler g_otherErrors = nullptr;
int tolerateVanishedWindows(Display* display, XErrorEvent* error) {
    if (display == g_testDisplay && error->error_code == BadWindow) return 0;
    return g_otherErrors ? g_otherErrors(display, error) : 0;
}

class X11Services : public ::testing::Test {
protected:
    Display* display = nullptr;
    std::string registryDir;
    void SetUp() override {
        REQUIRE_PRIVATE_DISPLAY();
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        g_testDisplay = display;
        XErrorHandler previous = XSetErrorHandler(tolerateVanishedWindows);
        if (previous != tolerateVanishedWindows) g_otherErrors = previous;
        char tmpl[] = "/tmp/tarvelo-x11-XXXXXX";
        registryDir = mkdtemp(tmpl);
        setenv("TARVELO_REGISTRY_DIR", registryDir.c_str(), 1);
    }
    void TearDown() override {
        if (display) XCloseDisplay(display);
        if (!registryDir.empty()) {
            unsetenv("TARVELO_REGISTRY_DIR");
            std::string cmd = "rm -rf " + registryDir;
            ASSERT_EQ(system(cmd.c_str()), 0);
        }
    }
    void key(KeySym sym, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down, 0);
        XSync(display, False);
    }
    template <class F>
    static bool eventually(F condition) {
        for (int i = 0; i < 200; ++i) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int serverTimeout() {
        int timeout, interval, blanking, exposures;
        XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
        return timeout;
    }
};

TEST_F(X11Services, ScreenSaverOffKeepsTimeoutAndOnRestoresIt) {
    XSetScreenSaver(display, 420, 0, DefaultBlanking, DefaultExposures);
    XSync(display, False);
    BOOL active = FALSE;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
    EXPECT_TRUE(active);
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0));
    EXPECT_EQ(serverTimeout(), 0);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
    EXPECT_FALSE(active);
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, 0));
    EXPECT_EQ(serverTimeout(), 420) << "the kept timeout comes back";
    BOOL running = TRUE;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0));
    EXPECT_FALSE(running);
    EXPECT_FALSE(SystemParametersInfoA(0x1234, 0, &running, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST_F(X11Services, LastInputFollowsFakeInputAndKeyStateIsSeen) {
    key(XK_Shift_L, true);
    LASTINPUTINFO info{sizeof info, 0};
    ASSERT_TRUE(GetLastInputInfo(&info));
    DWORD idle = GetTickCount() - info.dwTime;
    EXPECT_LT(idle, 1000u);
    EXPECT_NE(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
    EXPECT_EQ(GetAsyncKeyState(VK_CONTROL) & 0x8000, 0);
    key(XK_Shift_L, false);
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
}

TEST_F(X11Services, HotKeyReachesItsHandlerOnceRegistered) {
    std::atomic<int> presses{0};
    std::atomic<WPARAM> id{0};
    tarvelo_platform::setSystemMessageHandler([&](HWND, UINT message, WPARAM w, LPARAM) {
        if (message == WM_HOTKEY) {
            id = w;
            ++presses;
        }
    });
    HWND window = reinterpret_cast<HWND>(0x1234);
    ASSERT_TRUE(RegisterHotKey(window, 200, MOD_ALT, 'L'));
    EXPECT_FALSE(RegisterHotKey(window, 200, MOD_ALT, 'L')) << "one registration per window and id";
    key(XK_Alt_L, true);
    key(XK_l, true);
    key(XK_l, false);
    key(XK_Alt_L, false);
    EXPECT_TRUE(eventually([&] { return presses == 1; }));
    EXPECT_EQ(id, 200u);
    key(XK_l, true);  // without Alt
    key(XK_l, false);
    ASSERT_TRUE(UnregisterHotKey(window, 200));
    EXPECT_FALSE(UnregisterHotKey(window, 200));
    key(XK_Alt_L, true);
    key(XK_l, true);
    key(XK_l, false);
    key(XK_Alt_L, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(presses, 1);
    tarvelo_platform::setSystemMessageHandler(nullptr);

    // Without a handler the press is posted to the window's queue.
    tarvelo::user::createMessageQueue(window);
    ASSERT_TRUE(RegisterHotKey(window, 200, MOD_ALT, 'L'));
    key(XK_Alt_L, true);
    key(XK_l, true);
    key(XK_l, false);
    key(XK_Alt_L, false);
    MSG msg{};
    EXPECT_TRUE(eventually([&] { return PeekMessageA(&msg, window, WM_HOTKEY, WM_HOTKEY, PM_REMOVE) != 0; }));
    EXPECT_EQ(msg.wParam, 200u);
    EXPECT_EQ(msg.lParam, LPARAM(('L' << 16) | MOD_ALT));
    EXPECT_TRUE(UnregisterHotKey(window, 200));
    tarvelo::user::destroyMessageQueue(window);
}

std::atomic<int> g_hookCalls{0};
std::atomic<DWORD> g_lastVk{0};
std::atomic<DWORD> g_lastFlags{0};
std::atomic<WPARAM> g_lastMessage{0};
std::atomic<bool> g_swallow{true};
LRESULT recordingHook(int code, WPARAM message, LPARAM event) {
    auto* record = reinterpret_cast<KBDLLHOOKSTRUCT*>(event);
    if (code == HC_ACTION && (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)) {
        g_lastVk = record->vkCode;
        g_lastFlags = record->flags;
        g_lastMessage = message;
        ++g_hookCalls;
    }
    return g_swallow ? 1 : CallNextHookEx(nullptr, code, message, event);
}

TEST_F(X11Services, KeyboardHookSeesTaskSwitchingKeys) {
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, recordingHook, GetModuleHandleA(nullptr), 0);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(SetWindowsHookExA(WH_KEYBOARD_LL, recordingHook, nullptr, 0), nullptr) << "one hook at a time";

    key(XK_Alt_L, true);
    key(XK_Tab, true);
    key(XK_Tab, false);
    key(XK_Alt_L, false);
    ASSERT_TRUE(eventually([] { return g_hookCalls == 1; }));
    EXPECT_EQ(g_lastVk, DWORD(VK_TAB));
    EXPECT_EQ(g_lastMessage, WPARAM(WM_SYSKEYDOWN));
    EXPECT_NE(g_lastFlags & LLKHF_ALTDOWN, 0u);

    key(XK_Super_L, true);
    key(XK_Super_L, false);
    ASSERT_TRUE(eventually([] { return g_hookCalls == 2; }));
    EXPECT_EQ(g_lastVk, DWORD(VK_LWIN));
    EXPECT_EQ(g_lastMessage, WPARAM(WM_KEYDOWN));

    key(XK_a, true);  // ordinary typing is never routed through the hook
    key(XK_a, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_hookCalls, 2);

    EXPECT_TRUE(UnhookWindowsHookEx(hook));
    EXPECT_FALSE(UnhookWindowsHookEx(hook));
    key(XK_Super_L, true);
    key(XK_Super_L, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_hookCalls, 2);
    EXPECT_EQ(SetWindowsHookExA(2 /* WH_KEYBOARD */, recordingHook, nullptr, 0), nullptr);
}

// Key presses that reach a focused window of the test while the hook decides.
bool tabReachesFocusedWindow(Display* display, bool swallow) {
    Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 50, 50, 0, 0, 0);
    XSelectInput(display, w, KeyPressMask);
    XMapRaised(display, w);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    XSetInputFocus(display, w, RevertToParent, CurrentTime);
    XSync(display, False);
    g_swallow = swallow;
    for (auto [sym, down] : {std::pair{XK_Alt_L, true}, {XK_Tab, true}, {XK_Tab, false}, {XK_Alt_L, false}}) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down, 0);
        XSync(display, False);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bool sawTab = false;
    while (XPending(display)) {
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == KeyPress && XLookupKeysym(&e.xkey, 0) == XK_Tab) sawTab = true;
    }
    XDestroyWindow(display, w);
    g_swallow = true;
    return sawTab;
}

TEST_F(X11Services, KeyPassedOnByTheHookReachesTheFocusedWindow) {
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, recordingHook, nullptr, 0);
    ASSERT_NE(hook, nullptr);
    EXPECT_FALSE(tabReachesFocusedWindow(display, true));
    EXPECT_TRUE(tabReachesFocusedWindow(display, false));
    EXPECT_TRUE(UnhookWindowsHookEx(hook));
}

bool coverShown(Display* display) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    bool found = false;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &n);
    for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a;
        char* name = nullptr;
        if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable &&
            XFetchName(display, children[i], &name) && name) {
            found = found || std::string(name) == "TarveloDesktopCover";
            XFree(name);
        }
    }
    if (children) XFree(children);
    return found;
}

TEST_F(X11Services, LockDesktopCoversTheScreenUntilTheInputReturns) {
    HDESK saved = GetThreadDesktop(GetCurrentThreadId());
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    HDESK lock = CreateDesktopA("TarveloDesktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(lock, nullptr);
    EXPECT_STREQ(tarvelo_platform::desktopName(saved), "Default");
    EXPECT_STREQ(tarvelo_platform::desktopName(input), "Default");
    EXPECT_TRUE(SetThreadDesktop(lock));
    EXPECT_STREQ(tarvelo_platform::desktopName(GetThreadDesktop(GetCurrentThreadId())), "TarveloDesktop");
    ASSERT_TRUE(SwitchDesktop(lock));
    EXPECT_TRUE(coverShown(display));
    HDESK now = OpenInputDesktop(0, FALSE, 0);
    EXPECT_STREQ(tarvelo_platform::desktopName(now), "TarveloDesktop");
    EXPECT_TRUE(CloseDesktop(now));
    ASSERT_TRUE(SwitchDesktop(input));
    EXPECT_FALSE(coverShown(display));
    EXPECT_TRUE(SetThreadDesktop(saved));
    EXPECT_TRUE(CloseDesktop(lock));
    EXPECT_TRUE(CloseDesktop(input));
    EXPECT_FALSE(CloseDesktop(lock));
    EXPECT_FALSE(SwitchDesktop(lock));
}

// Names of the viewable children of a window, bottom to top.
std::vector<std::string> stacking(Display* display, Window parent) {
    std::vector<std::string> names;
    Window root, up, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &n)) return names;
    for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a;
        char* name = nullptr;
        if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable) continue;
        names.push_back(XFetchName(display, children[i], &name) && name ? name : "?");
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return names;
}

int position(const std::vector<std::string>& names, const std::string& name) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return int(i);
    return -1;
}

// The order wanted: each of below under the cover, each of above over it.
bool coverBetween(Display* display, Window parent, const std::vector<std::string>& below,
                  const std::vector<std::string>& above) {
    const std::vector<std::string> names = stacking(display, parent);
    const int cover = position(names, "TarveloDesktopCover");
    if (cover < 0) return false;
    for (const std::string& b : below)
        if (position(names, b) > cover) return false;
    for (const std::string& a : above)
        if (position(names, a) < cover) return false;
    return true;
}

bool keyboardTaken(Display* display) {
    const int status = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    XUngrabKeyboard(display, CurrentTime);
    XSync(display, False);
    return status == AlreadyGrabbed;
}

Window mapForeign(Display* display, const char* name, bool overrideRedirect) {
    XSetWindowAttributes a{};
    a.override_redirect = overrideRedirect;
    a.background_pixel = WhitePixel(display, DefaultScreen(display));
    Window w = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 300, 200, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XStoreName(display, w, name);
    XMapRaised(display, w);
    XSync(display, False);
    return w;
}

bool hasProperty(Display* display, const std::string& windowName, const char* property) {
    Window root, up, *children = nullptr;
    unsigned n = 0;
    bool found = false;
    XQueryTree(display, DefaultRootWindow(display), &root, &up, &children, &n);
    Atom atom = XInternAtom(display, property, False);
    for (unsigned i = 0; i < n && !found; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name && windowName == name) {
            Atom type;
            int format;
            unsigned long items, rest;
            unsigned char* data = nullptr;
            found = XGetWindowProperty(display, children[i], atom, 0, 1, False, AnyPropertyType, &type, &format, &items,
                                       &rest, &data) == Success && items == 1;
            if (data) XFree(data);
        }
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

// The stand-in unlock screen, started on the lock desktop as the unlock thread starts the program.
PROCESS_INFORMATION startOnLockDesktop(const char* windowName) {
    std::string command = std::string("lock_window_helper ") + windowName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    char desktop[] = "TarveloDesktop";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    return process;
}

void end(PROCESS_INFORMATION& process) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// Another client maps and raises its windows while the lock runs: they end below the cover, the
// unlock screen above it with both grabs; the cover holds the input while no unlock screen shows,
// and follows the root when RandR shrinks it.
TEST_F(X11Services, LockDesktopKeepsOtherWindowsBelowItsCover) {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    HDESK lock = CreateDesktopA("TarveloDesktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    const Window root = DefaultRootWindow(display);
    Window early = mapForeign(display, "Early", false);
    ASSERT_TRUE(SwitchDesktop(lock));
    EXPECT_TRUE(coverBetween(display, root, {"Early"}, {}));
    EXPECT_TRUE(eventually([&] { return keyboardTaken(display); })) << "the cover holds the input before the screen";

    PROCESS_INFORMATION screen = startOnLockDesktop("UnlockScreen");
    EXPECT_TRUE(eventually([&] { return hasProperty(display, "UnlockScreen", "_TARVELO_GRABBED"); }))
        << "the unlock screen got both grabs";
    EXPECT_TRUE(coverBetween(display, root, {"Early"}, {"UnlockScreen"}));

    Window popup = mapForeign(display, "Popup", true);
    Window normal = mapForeign(display, "Normal", false);
    for (int round = 0; round < 3; ++round) {
        XRaiseWindow(display, early);
        XRaiseWindow(display, popup);
        XRaiseWindow(display, normal);
        XSync(display, False);
        EXPECT_TRUE(eventually([&] {
            return coverBetween(display, root, {"Early", "Popup", "Normal"}, {"UnlockScreen"});
        })) << "round " << round;
    }
    EXPECT_TRUE(keyboardTaken(display)) << "the unlock screen keeps its grab";

    // The unlock screen is killed: the cover stays on top and takes the input back.
    end(screen);
    EXPECT_TRUE(eventually([&] { return position(stacking(display, root), "UnlockScreen") < 0; }));
    XRaiseWindow(display, normal);
    XSync(display, False);
    EXPECT_TRUE(eventually([&] { return coverBetween(display, root, {"Early", "Popup", "Normal"}, {}); }));
    EXPECT_TRUE(eventually([&] { return keyboardTaken(display); }));

    if (system("xrandr --fb 320x240 >/dev/null 2>&1") == 0) {
        EXPECT_TRUE(eventually([&] {
            Window r, up, *children = nullptr;
            unsigned n = 0;
            bool small = false;
            XQueryTree(display, root, &r, &up, &children, &n);
            for (unsigned i = 0; i < n; ++i) {
                char* name = nullptr;
                XWindowAttributes a;
                if (XFetchName(display, children[i], &name) && name && std::string(name) == "TarveloDesktopCover" &&
                    XGetWindowAttributes(display, children[i], &a))
                    small = a.width == 320 && a.height == 240;
                if (name) XFree(name);
            }
            if (children) XFree(children);
            return small;
        })) << "the cover follows the root";
        EXPECT_EQ(system("xrandr --fb 640x480 >/dev/null 2>&1"), 0);
    }

    ASSERT_TRUE(SwitchDesktop(input));
    EXPECT_FALSE(coverShown(display));
    EXPECT_FALSE(keyboardTaken(display));
    for (Window w : {early, popup, normal}) XDestroyWindow(display, w);
    CloseDesktop(lock);
    CloseDesktop(input);
}

// Where a compositor runs, the cover and the unlock screen live in its overlay window.
TEST_F(X11Services, LockDesktopDrawsAboveTheCompositor) {
    if (system("command -v xcompmgr >/dev/null") != 0) GTEST_SKIP() << "xcompmgr is not installed";
    pid_t compositor = fork();
    if (compositor == 0) {
        execlp("xcompmgr", "xcompmgr", nullptr);
        _exit(127);
    }
    Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    ASSERT_TRUE(eventually([&] { return XGetSelectionOwner(display, selection) != None; })) << "no compositor";
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    HDESK lock = CreateDesktopA("TarveloDesktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(SwitchDesktop(lock));
    const Window overlay = XCompositeGetOverlayWindow(display, DefaultRootWindow(display));
    EXPECT_TRUE(coverBetween(display, overlay, {}, {}));
    PROCESS_INFORMATION screen = startOnLockDesktop("UnlockScreen");
    EXPECT_TRUE(eventually([&] { return coverBetween(display, overlay, {}, {"UnlockScreen"}); }))
        << "the unlock screen moved into the overlay, above the cover";
    Window normal = mapForeign(display, "Normal", false);
    EXPECT_TRUE(eventually([&] { return position(stacking(display, DefaultRootWindow(display)), "Normal") >= 0; }));
    EXPECT_LT(position(stacking(display, overlay), "Normal"), 0) << "other windows stay under the overlay";
    end(screen);
    ASSERT_TRUE(SwitchDesktop(input));
    XCompositeReleaseOverlayWindow(display, DefaultRootWindow(display));
    XDestroyWindow(display, normal);
    XSync(display, False);
    kill(compositor, SIGTERM);
    waitpid(compositor, nullptr, 0);
    CloseDesktop(lock);
    CloseDesktop(input);
}

// A server of two screens and no RandR at all: the cover covers each screen's whole root.
TEST(LockDesktopScreens, EveryScreenIsCoveredWithoutRandR) {
    std::string own;
    const pid_t server = testdisplay::startXvfb(
        {"-screen", "0", "640x480x24", "-screen", "1", "320x240x24", "-extension", "RANDR"}, own);
    if (!server) GTEST_SKIP() << "Xvfb cannot start";
    const char* saved = getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    setenv("DISPLAY", own.c_str(), 1);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    int opcode, event, error;
    EXPECT_FALSE(XQueryExtension(display, "RANDR", &opcode, &event, &error));
    ASSERT_EQ(ScreenCount(display), 2);

    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    HDESK lock = CreateDesktopA("TarveloDesktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(SwitchDesktop(lock));
    for (int screen = 0; screen < 2; ++screen) {
        SCOPED_TRACE("screen " + std::to_string(screen));
        Window root, up, *children = nullptr;
        unsigned n = 0;
        bool covered = false;
        XQueryTree(display, RootWindow(display, screen), &root, &up, &children, &n);
        for (unsigned i = 0; i < n; ++i) {
            char* name = nullptr;
            XWindowAttributes a;
            if (XFetchName(display, children[i], &name) && name && std::string(name) == "TarveloDesktopCover" &&
                XGetWindowAttributes(display, children[i], &a))
                covered = a.map_state == IsViewable && a.x == 0 && a.y == 0 &&
                          a.width == DisplayWidth(display, screen) && a.height == DisplayHeight(display, screen);
            if (name) XFree(name);
        }
        if (children) XFree(children);
        EXPECT_TRUE(covered);
    }
    ASSERT_TRUE(SwitchDesktop(input));
    CloseDesktop(lock);
    CloseDesktop(input);
    XCloseDisplay(display);
    if (saved) {
        setenv("DISPLAY", previous.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
}

}  // namespace

namespace {

TEST(WithoutDisplay, ServicesFailAndSaySo) {
    const char* saved = getenv("DISPLAY");
    std::string previous = saved ? saved : "";
    setenv("DISPLAY", ":9999", 1);  // no server there
    BOOL active = TRUE;
    EXPECT_FALSE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    LASTINPUTINFO info{sizeof info, 0};
    EXPECT_FALSE(GetLastInputInfo(&info));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    HDESK lock = CreateDesktopA("TarveloDesktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    EXPECT_FALSE(SwitchDesktop(lock)) << "no cover can be shown, so no switch is claimed";
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(CloseDesktop(lock));
    EXPECT_EQ(GetAsyncKeyState(VK_CONTROL), 0);
    if (saved)
        setenv("DISPLAY", previous.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

}  // namespace

namespace {

// An X server resets when its last client leaves. A platform call made before the toolkit starts
// must not be that last client, or the toolkit's own connection, made next, meets a resetting
// server. Observed here through a root-window property, which a reset deletes.
TEST(SharedConnection, APlatformCallKeepsTheServerFromResetting) {
    std::string display;
    const pid_t server = testdisplay::startResettingServer(display);
    if (!server) GTEST_SKIP() << "Xvfb is not installed or did not start";
    const char* saved = getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    setenv("DISPLAY", display.c_str(), 1);

    BOOL active = FALSE;
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
    Display* a = XOpenDisplay(nullptr);
    ASSERT_NE(a, nullptr);
    const Atom mark = XInternAtom(a, "TARVELO_TEST_MARK", False);
    const unsigned char value = 1;
    XChangeProperty(a, DefaultRootWindow(a), mark, XA_CARDINAL, 8, PropModeReplace, &value, 1);
    XCloseDisplay(a);  // the last client but the platform's
    Display* b = XOpenDisplay(nullptr);
    ASSERT_NE(b, nullptr);
    int count = 0;
    Atom* props = XListProperties(b, DefaultRootWindow(b), &count);
    bool found = false;
    const Atom again = XInternAtom(b, "TARVELO_TEST_MARK", True);
    for (int i = 0; i < count; ++i) found = found || props[i] == again;
    if (props) XFree(props);
    XCloseDisplay(b);
    EXPECT_TRUE(found) << "the server reset between two clients";

    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    // The kept connection is now closed by its server: the next call starts a new one, elsewhere.
    if (saved)
        setenv("DISPLAY", previous.c_str(), 1);
    else
        unsetenv("DISPLAY");
    GetAsyncKeyState(VK_CONTROL);
}

}  // namespace
