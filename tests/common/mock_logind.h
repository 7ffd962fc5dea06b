#pragma once
// A private D-Bus daemon named as the system bus, with python3-dbusmock's logind on it and one active
// session "c7" of this user; and a driver for that mock (its manager's signals, the session's Lock
// and Unlock, its "Active" property). For the tests of the session notifications.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mocklogind {

inline const char* kPython = "/usr/bin/python3";

inline GDBusConnection* connect(const std::string& address) {
    GError* error = nullptr;
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (error) g_error_free(error);
    return c;
}

// Drives the mock logind: its session "c7", the manager's signals.
class MockLogind {
public:
    explicit MockLogind(const std::string& address) : bus_(connect(address)) {}
    ~MockLogind() {
        if (bus_) g_object_unref(bus_);
    }
    MockLogind(const MockLogind&) = delete;
    MockLogind& operator=(const MockLogind&) = delete;

    bool up() {
        if (!bus_) return false;
        GVariant* r = g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", "org.freedesktop.login1"), G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        gboolean has = FALSE;
        if (r) {
            g_variant_get(r, "(b)", &has);
            g_variant_unref(r);
        }
        return has;
    }
    bool addSession() {
        return call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
                    g_variant_new("(ssusb)", "c7", "seat0", guint32(getuid()), "tester", TRUE));
    }
    bool prepareForSleep(bool sleeping) {
        GVariantBuilder args;
        g_variant_builder_init(&args, G_VARIANT_TYPE("av"));
        g_variant_builder_add(&args, "v", g_variant_new_boolean(sleeping));
        return call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
                    g_variant_new("(sssav)", "org.freedesktop.login1.Manager", "PrepareForSleep", "b", &args));
    }
    // "Lock" or "Unlock", as loginctl lock-session asks the session.
    bool session(const char* method) {
        return call("/org/freedesktop/login1/session/c7", "org.freedesktop.login1.Session", method, nullptr);
    }
    bool setActive(bool active) {
        return call("/org/freedesktop/login1/session/c7", "org.freedesktop.DBus.Properties", "Set",
                    g_variant_new("(ssv)", "org.freedesktop.login1.Session", "Active", g_variant_new_boolean(active)));
    }

private:
    GDBusConnection* bus_;

    bool call(const char* path, const char* interface, const char* method, GVariant* args) {
        if (!bus_) return false;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus_, "org.freedesktop.login1", path, interface, method, args,
                                                      nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (error) {
            ADD_FAILURE() << method << ": " << error->message;
            g_error_free(error);
        }
        if (reply) g_variant_unref(reply);
        return reply != nullptr;
    }
};

// A dbus-daemon of the test and, when asked, the mock logind on it with its session "c7".
class PrivateBus {
public:
    explicit PrivateBus(bool withLogind) {
        int out[2];
        if (pipe(out) != 0) return;
        daemon_ = fork();
        if (daemon_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address", nullptr);
            _exit(127);
        }
        close(out[1]);
        char line[512] = {0};
        FILE* in = fdopen(out[0], "r");
        if (in && fgets(line, sizeof line, in)) address = line;
        if (in) fclose(in);
        while (!address.empty() && (address.back() == '\n' || address.back() == '\r')) address.pop_back();
        if (address.empty() || !withLogind) return;
        mock_ = fork();
        if (mock_ == 0) {
            setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            execl(kPython, kPython, "-m", "dbusmock", "--system", "--template", "logind", nullptr);
            _exit(127);
        }
        MockLogind logind(address);
        for (int i = 0; i < 200 && !logind.up(); ++i) usleep(50000);
        ready = logind.up() && logind.addSession();
    }
    ~PrivateBus() {
        for (pid_t p : {mock_, daemon_})
            if (p > 0) {
                kill(p, SIGTERM);
                waitpid(p, nullptr, 0);
            }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    std::string address;
    bool ready = false;

private:
    pid_t daemon_ = -1, mock_ = -1;
};

inline bool available() {
    return access(kPython, X_OK) == 0 && system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") == 0;
}

}  // namespace mocklogind
