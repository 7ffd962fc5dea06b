// Screen saver control and the session lockdown against a private X server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "app/core/ScreenSaver.h"
#include "app/core/SessionLockdown.h"
#include "platform/kernel.h"
#include "tests/app/core/app_core_fixtures.h"
#include "tests/common/private_display.h"

namespace {

class OnDisplay : public AppCoreTest {
protected:
    Display* display = nullptr;
    void SetUp() override {
        AppCoreTest::SetUp();
        REQUIRE_PRIVATE_DISPLAY();
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        screenSaverConfigured = false;
    }
    void TearDown() override {
        if (display) XCloseDisplay(display);
        AppCoreTest::TearDown();
    }
    void setTimeout(int seconds) {
        XSetScreenSaver(display, seconds, 0, DefaultBlanking, DefaultExposures);
        XSync(display, False);
    }
    int timeout() {
        int t, i, b, e;
        XGetScreenSaver(display, &t, &i, &b, &e);
        return t;
    }
    void key(KeySym sym, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down, 0);
        XSync(display, False);
    }
};

TEST_F(OnDisplay, ScreenSaverConfiguredAtStartIsSwitchedOffAndBackOn) {
    setTimeout(300);
    ScreenSaver saver;
    EXPECT_TRUE(screenSaverConfigured);
    saver.disable(&logger);
    EXPECT_EQ(timeout(), 0);
    EXPECT_EQ(logger.texts(), std::vector<std::string>{"Disabling the screensaver..."});
    EXPECT_FALSE(saver.isRunning());
    saver.disable(&logger);  // already off: nothing to say
    EXPECT_EQ(logger.lines.size(), 1u);
    ScreenSaver later;  // asks no more once the flag is set
    EXPECT_TRUE(screenSaverConfigured);
    saver.restore(&logger);
    EXPECT_EQ(timeout(), 300);
    EXPECT_EQ(logger.texts().back(), "Enabling the screensaver...");
}

TEST_F(OnDisplay, NoScreenSaverAtStartIsNeverSwitchedOn) {
    setTimeout(0);
    ScreenSaver saver;
    EXPECT_FALSE(screenSaverConfigured);
    saver.disable(&logger);
    saver.restore(&logger);
    EXPECT_TRUE(logger.lines.empty()) << logger.dump();
    EXPECT_EQ(timeout(), 0);
    screenSaverConfigured = true;  // "--screensaver" from the tray instance
    saver.restore(&logger);
    EXPECT_EQ(logger.texts(), std::vector<std::string>{"Enabling the screensaver..."});
    EXPECT_GT(timeout(), 0);
}

TEST_F(OnDisplay, HookProcedureSwallowsOnlyTheTaskSwitchingKeys) {
    struct Case {
        const char* what;
        WPARAM message;
        int vk;
        DWORD flags;
        bool ctrl;
        LRESULT result;
    };
    const Case cases[] = {
        {"left Windows key", WM_KEYDOWN, VK_LWIN, 0, false, 1},
        {"right Windows key", WM_KEYDOWN, VK_RWIN, 0, false, 1},
        {"Ctrl+Esc", WM_KEYDOWN, VK_ESCAPE, 0, true, 1},
        {"Esc alone", WM_KEYDOWN, VK_ESCAPE, 0, false, 0},
        {"Alt+Tab", WM_SYSKEYDOWN, VK_TAB, LLKHF_ALTDOWN, false, 1},
        {"Alt+Esc", WM_SYSKEYDOWN, VK_ESCAPE, LLKHF_ALTDOWN, false, 1},
        {"Alt+F4", WM_SYSKEYDOWN, VK_F4, LLKHF_ALTDOWN, false, 1},
        {"F10 (a system key without Alt)", WM_SYSKEYDOWN, 0x79, 0, false, 0},
        {"Enter", WM_KEYDOWN, 0x0D, 0, false, 0},
        {"Windows key up", WM_KEYUP, VK_LWIN, LLKHF_UP, false, 0},
        {"Tab with Alt flag but key-down message", WM_KEYDOWN, VK_TAB, LLKHF_ALTDOWN, false, 0},
    };
    for (const Case& k : cases) {
        if (k.ctrl) key(XK_Control_L, true);
        KBDLLHOOKSTRUCT record{DWORD(k.vk), 0, k.flags, 0, 0};
        EXPECT_EQ(lowLevelKeyboardProc(HC_ACTION, k.message, LPARAM(&record)), k.result) << k.what;
        if (k.ctrl) key(XK_Control_L, false);
    }
    KBDLLHOOKSTRUCT win{DWORD(VK_LWIN), 0, 0, 0, 0};
    EXPECT_EQ(lowLevelKeyboardProc(1, WM_KEYDOWN, LPARAM(&win)), 0) << "only HC_ACTION is looked at";
}

TEST_F(OnDisplay, LockdownKeepsTaskSwitchingKeysFromTheFocusedWindow) {
    EXPECT_TRUE(setTaskSwitching(true)) << "switching on without a hook";
    ASSERT_TRUE(setTaskSwitching(false));
    HHOOK first = lowLevelKeyboardHook;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(setTaskSwitching(false));
    EXPECT_EQ(lowLevelKeyboardHook, first) << "one hook";

    Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(display, w, KeyPressMask);
    XMapRaised(display, w);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    XSetInputFocus(display, w, RevertToParent, CurrentTime);
    XSync(display, False);

    key(XK_Alt_L, true);
    key(XK_Tab, true);
    key(XK_Tab, false);
    key(XK_Alt_L, false);
    key(XK_a, true);
    key(XK_a, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bool sawTab = false, sawA = false;
    while (XPending(display)) {
        XEvent e;
        XNextEvent(display, &e);
        if (e.type != KeyPress) continue;
        KeySym sym = XLookupKeysym(&e.xkey, 0);
        sawTab = sawTab || sym == XK_Tab;
        sawA = sawA || sym == XK_a;
    }
    EXPECT_FALSE(sawTab) << "Alt+Tab is swallowed";
    EXPECT_TRUE(sawA) << "ordinary typing passes";

    EXPECT_TRUE(setTaskSwitching(true));
    EXPECT_EQ(lowLevelKeyboardHook, nullptr);
    XDestroyWindow(display, w);
}

TEST_F(AppCoreTest, TaskManagerPolicyIsSetAndAlwaysDeleted) {
    const char* policy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    auto value = [&]() -> long {
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_CURRENT_USER, policy, &key) != LONG(ERROR_SUCCESS)) return -1;
        DWORD v = 0, size = 4, type = 0;
        LONG rc = RegQueryValueExA(key, "DisableTaskMgr", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
        RegCloseKey(key);
        return rc == LONG(ERROR_SUCCESS) && type == REG_DWORD ? long(v) : -1;
    };
    EXPECT_TRUE(setTaskManager(false)) << "the key is created when missing";
    EXPECT_EQ(value(), 1);
    EXPECT_TRUE(setTaskManager(true));
    EXPECT_EQ(value(), -1);
    EXPECT_FALSE(setTaskManager(true)) << "nothing left to delete";

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, policy, &key), LONG(ERROR_SUCCESS));
    DWORD other = 7;
    RegSetValueExA(key, "DisableTaskMgr", 0, REG_DWORD, reinterpret_cast<BYTE*>(&other), 4);
    RegCloseKey(key);
    EXPECT_TRUE(setTaskManager(true)) << "a value set by someone else goes too";
    EXPECT_EQ(value(), -1);
}

}  // namespace
