// Session notifications and power broadcasts from a mock logind (python3-dbusmock's template) on a
// private bus that the test starts and names as the system bus. The session watch is process-wide,
// so each case runs in a fresh process.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fresh_process.h"
#include "mock_logind.h"
#include "platform/kernel.h"
#include "platform/messages.h"
#include "platform/session.h"
#include "read_file.h"

using testutil::readFile;

namespace {

using mocklogind::MockLogind;
using mocklogind::PrivateBus;

struct Message {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Message& o) const {
        return window == o.window && message == o.message && wParam == o.wParam && lParam == o.lParam;
    }
};
std::ostream& operator<<(std::ostream& out, const Message& m) {
    return out << "{window " << m.window << ", message 0x" << std::hex << m.message << ", wParam " << m.wParam
               << ", lParam " << std::dec << m.lParam << "}";
}

// What the system message handler received, in order.
class Inbox {
public:
    Inbox() {
        tarvelo_platform::setSystemMessageHandler([this](HWND w, UINT m, WPARAM wp, LPARAM lp) {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back({w, m, wp, lp});
            arrived_.notify_all();
        });
    }
    ~Inbox() { tarvelo_platform::setSystemMessageHandler(nullptr); }
    bool next(Message& m) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(5), [this] { return !messages_.empty(); })) return false;
        m = messages_.front();
        messages_.pop_front();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> messages_;
};

// Suspend and resume, a lock and an unlock asked by the desktop, switching away and back: each
// reaches the registered window once, in order; power broadcasts reach every window, registered or
// not, and without a handler they are posted to the windows' queues.
TEST(SessionNotifications, LogindSignalsBecomeTheWindowsMessages) {
    if (!fresh_process::inside()) {
        if (!mocklogind::available()) GTEST_SKIP() << "python3-dbusmock is not installed";
        PrivateBus bus(true);
        ASSERT_TRUE(bus.ready) << "the mock logind did not start";
        EXPECT_EQ(fresh_process::run("SessionNotifications.LogindSignalsBecomeTheWindowsMessages",
                                     {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address}, {"XDG_SESSION_ID", "c7"}}),
                  0);
        return;
    }
    MockLogind logind(getenv("DBUS_SYSTEM_BUS_ADDRESS"));
    ASSERT_TRUE(logind.up());
    const HWND tray = reinterpret_cast<HWND>(0x7A7);
    Inbox inbox;
    ASSERT_TRUE(WTSRegisterSessionNotification(tray, NOTIFY_FOR_THIS_SESSION));

    struct Step {
        const char* what;
        std::function<bool()> act;
        Message expected;
    };
    const Step steps[] = {
        {"suspend", [&] { return logind.prepareForSleep(true); }, {HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMSUSPEND, 0}},
        {"resume", [&] { return logind.prepareForSleep(false); },
         {HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0}},
        {"lock from the desktop", [&] { return logind.session("Lock"); },
         {tray, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 7}},
        {"unlock from the desktop", [&] { return logind.session("Unlock"); },
         {tray, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 7}},
        {"switched away", [&] { return logind.setActive(false); }, {tray, WM_WTSSESSION_CHANGE, WTS_SESSION_LOGOFF, 7}},
        {"switched back", [&] { return logind.setActive(true); }, {tray, WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, 7}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(step.act());
        Message got{};
        ASSERT_TRUE(inbox.next(got)) << "nothing arrived";
        EXPECT_EQ(got, step.expected);
    }

    // Unregistered, the window hears no session change; the broadcast that follows still comes, first.
    EXPECT_TRUE(WTSUnRegisterSessionNotification(tray));
    EXPECT_FALSE(WTSUnRegisterSessionNotification(tray));
    ASSERT_TRUE(logind.session("Lock"));
    ASSERT_TRUE(logind.setActive(false));
    ASSERT_TRUE(logind.prepareForSleep(true));
    Message got{};
    ASSERT_TRUE(inbox.next(got));
    EXPECT_EQ(got, (Message{HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMSUSPEND, 0}));

    // Without a handler the broadcast is posted to every window that has a queue.
    tarvelo_platform::setSystemMessageHandler(nullptr);
    const HWND a = reinterpret_cast<HWND>(0xA1), b = reinterpret_cast<HWND>(0xB2);
    tarvelo::user::createMessageQueue(a);
    tarvelo::user::createMessageQueue(b);
    ASSERT_TRUE(logind.prepareForSleep(false));
    for (HWND w : {a, b}) {
        MSG msg{};
        bool posted = false;
        for (int i = 0; i < 100 && !(posted = PeekMessageA(&msg, w, 0, 0, PM_REMOVE)); ++i) usleep(20000);
        ASSERT_TRUE(posted) << w;
        EXPECT_EQ(msg.message, WM_POWERBROADCAST);
        EXPECT_EQ(msg.wParam, PBT_APMRESUMESUSPEND);
    }
    tarvelo::user::destroyMessageQueue(a);
    tarvelo::user::destroyMessageQueue(b);
}

// No system bus, or a bus without logind: the registration fails and says so once.
TEST(SessionNotifications, RegistrationFailsWithoutLogindAndSaysSoOnce) {
    if (!fresh_process::inside()) {
        EXPECT_EQ(fresh_process::run("SessionNotifications.RegistrationFailsWithoutLogindAndSaysSoOnce",
                                     {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tarvelo-bus"}}),
                  0)
            << "no bus";
        PrivateBus bus(false);
        ASSERT_FALSE(bus.address.empty());
        EXPECT_EQ(fresh_process::run("SessionNotifications.RegistrationFailsWithoutLogindAndSaysSoOnce",
                                     {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address}}),
                  0)
            << "a bus without logind";
        return;
    }
    char path[] = "/tmp/tarvelo-session-stderr-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    fflush(stderr);
    int saved = dup(2);
    dup2(file, 2);
    const HWND tray = reinterpret_cast<HWND>(0x7A7);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(WTSRegisterSessionNotification(tray, NOTIFY_FOR_THIS_SESSION));
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
        EXPECT_FALSE(WTSUnRegisterSessionNotification(tray));
    }
    fflush(stderr);
    dup2(saved, 2);
    const std::string text = readFile(path);
    unlink(path);
    size_t count = 0;
    for (size_t at = 0; (at = text.find("session notifications are not available", at)) != std::string::npos; ++at)
        ++count;
    EXPECT_EQ(count, 1u) << text;
}

}  // namespace
