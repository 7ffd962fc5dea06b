// Session notifications and power broadcasts from logind (see session.h).
#include "platform/kernel.h"
#include "platform/session.h"

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";

class SessionWatch {
public:
    static SessionWatch& instance() {
        static SessionWatch* watch = new SessionWatch();  // its thread outlives static destruction
        return *watch;
    }

    // Starts the watch once and waits for its first answer; false with the reason told once.
    bool available() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (state_ == NotStarted) {
            state_ = Starting;
            std::thread([this] { run(); }).detach();
        }
        // A bus that takes the connection but never answers must not hold the caller (the GUI
        // thread) for good: the calls of the start time out after 5 s each.
        if (!ready_.wait_for(lock, std::chrono::seconds(20), [this] { return state_ != Starting; })) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return false;
        }
        return state_ == Running;
    }

    bool running() {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_ == Running;
    }
    void add(HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.insert(window);
    }
    bool remove(HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        return windows_.erase(window) > 0;
    }

private:
    enum State { NotStarted, Starting, Running, Failed };
    std::mutex mutex_;
    std::condition_variable ready_;
    State state_ = NotStarted;
    std::set<HWND> windows_;
    GDBusConnection* bus_ = nullptr;
    std::string sessionPath_;
    LPARAM sessionNumber_ = 0;
    bool active_ = true;

    void finishStart(bool ok, const std::string& why) {
        if (!ok) std::fprintf(stderr, "platform: session notifications are not available: %s\n", why.c_str());
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = ok ? Running : Failed;
        ready_.notify_all();
    }

    GVariant* call(const char* path, const char* interface, const char* method, GVariant* args,
                   const char* replyType, std::string* why) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus_, kLogin, path, interface, method, args,
                                                      replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (!reply && why) *why = error ? error->message : "no reply";
        if (error) g_error_free(error);
        return reply;
    }

    // The session of this process: the one logind puts it in, else the one it was told about, else
    // the user's graphical session.
    std::string findSession(std::string* why) {
        std::string path;
        if (GVariant* r = call(kManagerPath, kManager, "GetSessionByPID", g_variant_new("(u)", guint32(getpid())),
                               "(o)", why)) {
            const gchar* p = nullptr;
            g_variant_get(r, "(&o)", &p);
            path = p;
            g_variant_unref(r);
            return path;
        }
        if (const char* id = getenv("XDG_SESSION_ID"); id && *id) {
            if (GVariant* r = call(kManagerPath, kManager, "GetSession", g_variant_new("(s)", id), "(o)", why)) {
                const gchar* p = nullptr;
                g_variant_get(r, "(&o)", &p);
                path = p;
                g_variant_unref(r);
                return path;
            }
        }
        if (GVariant* r = call(kManagerPath, kManager, "GetUser", g_variant_new("(u)", guint32(getuid())), "(o)", why)) {
            const gchar* user = nullptr;
            g_variant_get(r, "(&o)", &user);
            std::string userPath = user;
            g_variant_unref(r);
            if (GVariant* d = call(userPath.c_str(), "org.freedesktop.DBus.Properties", "Get",
                                   g_variant_new("(ss)", "org.freedesktop.login1.User", "Display"), "(v)", why)) {
                GVariant* value = nullptr;
                g_variant_get(d, "(v)", &value);
                const gchar* p = nullptr;
                if (g_variant_is_of_type(value, G_VARIANT_TYPE("(so)"))) g_variant_get(value, "(&s&o)", nullptr, &p);
                if (p && std::string(p) != "/") path = p;
                g_variant_unref(value);
                g_variant_unref(d);
            }
            if (path.empty() && why) *why = "the user has no session";
        }
        return path;
    }

    void deliverToSessionWindows(WPARAM change) {
        std::set<HWND> windows;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            windows = windows_;
        }
        for (HWND w : windows) tarvelo_platform::deliverSystemMessage(w, WM_WTSSESSION_CHANGE, change, sessionNumber_);
    }

    static void onSignal(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface, const gchar* name,
                         GVariant* parameters, gpointer data) {
        auto* self = static_cast<SessionWatch*>(data);
        const std::string member = name;
        if (std::string(interface) == kManager && member == "PrepareForSleep") {
            gboolean sleeping = FALSE;
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
            g_variant_get(parameters, "(b)", &sleeping);
            tarvelo_platform::deliverSystemMessage(HWND_BROADCAST, WM_POWERBROADCAST,
                                                   sleeping ? PBT_APMSUSPEND : PBT_APMRESUMESUSPEND, 0);
        } else if (std::string(interface) == kManager && member == "SessionRemoved") {
            const gchar* removed = nullptr;
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(so)"))) return;
            g_variant_get(parameters, "(&s&o)", nullptr, &removed);
            if (removed && self->sessionPath_ == removed) self->deliverToSessionWindows(WTS_SESSION_LOGOFF);
        } else if (path && self->sessionPath_ == path && member == "Lock") {
            self->deliverToSessionWindows(WTS_SESSION_LOCK);
        } else if (path && self->sessionPath_ == path && member == "Unlock") {
            self->deliverToSessionWindows(WTS_SESSION_UNLOCK);
        } else if (path && self->sessionPath_ == path && member == "PropertiesChanged") {
            const gchar* changedInterface = nullptr;
            GVariant* changed = nullptr;
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
            g_variant_get(parameters, "(&s@a{sv}@as)", &changedInterface, &changed, nullptr);
            gboolean active = FALSE;
            if (std::string(changedInterface) == kSession && g_variant_lookup(changed, "Active", "b", &active) &&
                bool(active) != self->active_) {
                self->active_ = active;
                self->deliverToSessionWindows(active ? WTS_SESSION_LOGON : WTS_SESSION_LOGOFF);
            }
            g_variant_unref(changed);
        }
    }

    void subscribe(const char* interface, const char* member, const char* path, const char* arg0 = nullptr) {
        g_dbus_connection_signal_subscribe(bus_, kLogin, interface, member, path, arg0, G_DBUS_SIGNAL_FLAGS_NONE,
                                           onSignal, this, nullptr);
    }

    void run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
        if (address)
            bus_ = g_dbus_connection_new_for_address_sync(
                address,
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
        g_free(address);
        if (!bus_) {
            finishStart(false, std::string("no system bus (") + (error ? error->message : "unknown") + ")");
            if (error) g_error_free(error);
            return;
        }
        g_dbus_connection_set_exit_on_close(bus_, FALSE);
        // Subscribed before the session is looked up, so that nothing sent meanwhile is missed.
        subscribe(kManager, "PrepareForSleep", kManagerPath);
        subscribe(kManager, "SessionRemoved", kManagerPath);
        std::string why;
        std::string session = findSession(&why);
        if (session.empty()) {
            finishStart(false, "logind does not answer or knows no session of this process (" + why + ")");
            return;  // the connection stays, unused
        }
        sessionPath_ = session;
        // Session ids are names ("3", "c2"); their number stands for the Windows session id.
        const std::string id = session.substr(session.rfind('/') + 1);
        const size_t digits = id.find_first_of("0123456789");
        sessionNumber_ = digits == std::string::npos ? 0 : LPARAM(std::strtol(id.c_str() + digits, nullptr, 10));
        if (GVariant* r = call(session.c_str(), "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", kSession, "Active"), "(v)", nullptr)) {
            GVariant* value = nullptr;
            g_variant_get(r, "(v)", &value);
            if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) active_ = g_variant_get_boolean(value);
            g_variant_unref(value);
            g_variant_unref(r);
        }
        subscribe(kSession, "Lock", session.c_str());
        subscribe(kSession, "Unlock", session.c_str());
        subscribe("org.freedesktop.DBus.Properties", "PropertiesChanged", session.c_str(), kSession);
        finishStart(true, "");
        GMainLoop* loop = g_main_loop_new(context, FALSE);
        g_main_loop_run(loop);
    }
};

}  // namespace

extern "C" {

BOOL WTSRegisterSessionNotification(HWND window, DWORD) {
    SessionWatch& watch = SessionWatch::instance();
    if (!watch.available()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    watch.add(window);
    return TRUE;
}

BOOL WTSUnRegisterSessionNotification(HWND window) {
    SessionWatch& watch = SessionWatch::instance();
    if (!watch.running()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!watch.remove(window)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
