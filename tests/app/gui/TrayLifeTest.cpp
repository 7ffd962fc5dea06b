// The tray instance under the toolkit's real main loop: closing the settings dialog or the
// "Screen saver running" box, its last windows, does not end the program.
#include <functional>

#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/timer.h>

#include "gui_harness.h"
#include "test_app.h"

// Last: its macros would clash with the toolkit's headers.
#include <X11/Xlib.h>

extern "C" void* gtk_widget_get_window(void* widget);
extern "C" unsigned long gdk_x11_window_get_xid(void* window);

namespace {

// Runs a step of the test a while after the main loop has started.
class Later : public wxTimer {
public:
    explicit Later(std::function<void()> step) : step(std::move(step)) {}
    void Notify() override { step(); }
    std::function<void()> step;
};

// What another X client sends to close a window: WM_DELETE_WINDOW.
void requestClose(wxWindow* window) {
    void* gdk = window->GetHandle() ? gtk_widget_get_window(window->GetHandle()) : nullptr;
    if (!gdk) return;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = gdk_x11_window_get_xid(gdk);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);
}

// The modal dialog that runs now (the settings dialog, a message box), or null.
class ModalWatch : public wxModalDialogHook {
public:
    int Enter(wxDialog* dialog) override {
        current = dialog;
        return wxID_NONE;
    }
    void Exit(wxDialog*) override { current = nullptr; }
    wxDialog* current = nullptr;
};

// Runs the main loop: start() from inside it, then every 100 ms closeWindow() (false once there is
// no window to close); one second after the window has gone the test ends the loop. Returns
// whether the loop was still running then.
bool survives(const std::function<void()>& start, const std::function<bool()>& closeWindow) {
    bool seen = false, closed = false, running = false;
    Later starter(start);
    // Asked again until the window has gone: a request before the window is mapped is lost.
    Later closer([&] {
        if (closeWindow()) seen = true;
        else if (seen) closed = true;
    });
    Later ender([&] {
        running = wxEventLoopBase::GetActive() && wxTheApp->IsMainLoopRunning();
        wxTheApp->ExitMainLoop();
    });
    Later check([&] {
        if (closed && !ender.IsRunning()) ender.StartOnce(1000);
    });
    Later safety([] { wxTheApp->ExitMainLoop(); });
    starter.StartOnce(50);
    closer.Start(100);
    check.Start(100);
    safety.StartOnce(30000);
    wxTheApp->OnRun();  // the program's own way into the main loop
    EXPECT_TRUE(closed);
    return running && closed;
}

TEST(TrayLifeTest, ClosingTheSettingsDialogOrTheScreenSaverBoxLeavesTheMainLoopRunning) {
    TestApp& app = testApp();
    app.reset();
    app.fakeSettings = false;
    app.fakeSaverMessage = false;
    ModalWatch watch;
    watch.Register();
    auto closeModal = [&] {
        if (!watch.current || !watch.current->GetHandle() || !gtk_widget_get_window(watch.current->GetHandle()))
            return false;
        requestClose(watch.current);
        return true;
    };
    EXPECT_TRUE(survives([&] { app.showSettingsDialog(1); }, closeModal));
    EXPECT_TRUE(app.lines.has("Displaying 'Settings' dialog..."));
    EXPECT_EQ(app.settingsDialog, nullptr);

    app.saverRunning = true;
    EXPECT_TRUE(survives([&] { app.lockSession(true); }, closeModal));
    EXPECT_TRUE(app.lines.has("WARNING: The screensaver is running, tell the user about it"));
    EXPECT_EQ(app.getSessionState(), SessionGuardApp::SessionState::Idle);
    EXPECT_TRUE(app.idleTimer && app.idleTimer->IsRunning());
    watch.Unregister();
    app.reset();
}

}  // namespace
