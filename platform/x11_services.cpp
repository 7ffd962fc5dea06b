// User services on X11 (see user.h for what stands in for what).
#include "platform/kernel.h"
#include "platform/kernel_handles.h"
#include "platform/messages.h"
#include "platform/user.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>
#include <xcb/composite.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using tarvelo_platform::isDesktopProcess;

namespace {

void reportUnavailable(const char* what) {
    static std::mutex lock;
    static std::set<std::string> told;
    std::lock_guard<std::mutex> guard(lock);
    if (told.insert(what).second)
        std::fprintf(stderr, "platform: %s is not available: no X display (DISPLAY unset or unreachable)\n", what);
}

// The process keeps one connection to the display for these calls. Opening and closing one per
// call made an X server whose only client it was reset at the close, and the toolkit, connecting
// right after, was refused ("Unable to initialize GTK+"). A new connection is made only when
// DISPLAY names another server or the kept one was closed by its server.
std::mutex g_sharedLock;
Display* g_shared = nullptr;
std::string g_sharedName;
// Connections closed by their server, never touched again (kept for the life of the process).
std::vector<Display*>& abandoned() {
    static auto* list = new std::vector<Display*>;
    return *list;
}

bool serverClosed(Display* display) {
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLERR | POLLNVAL)) return true;
    char c;
    return ::recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;  // end of stream
}

// The kept connection for one call, held under its lock; null (with the error set and reported)
// when there is no display.
struct Connection {
    Display* display = nullptr;
    std::unique_lock<std::mutex> guard;
    explicit Connection(const char* what) : guard(g_sharedLock) {
        const char* env = getenv("DISPLAY");
        const std::string name = env ? env : "";
        if (g_shared && (name != g_sharedName || serverClosed(g_shared))) {
            // A closed connection is left as it is: Xlib ends the process on I/O errors.
            if (serverClosed(g_shared))
                abandoned().push_back(g_shared);
            else
                XCloseDisplay(g_shared);
            g_shared = nullptr;
        }
        if (!g_shared) {
            g_shared = XOpenDisplay(nullptr);
            g_sharedName = name;
        }
        display = g_shared;
        if (!display) {
            reportUnavailable(what);
            SetLastError(ERROR_NOT_SUPPORTED);
        }
    }
    explicit operator bool() const { return display != nullptr; }
};

// Virtual keys and the key symbols that stand for them.
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

// ---- Desktops ----

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

DesktopObject* desktopOf(HDESK h) {
    if (!h || !g_desktops.count(h)) return nullptr;
    return reinterpret_cast<DesktopObject*>(h);
}

// ---- The lock desktop's cover ----
//
// While the input is on a desktop other than "Default", a black override-redirect window covers each
// screen (the whole root, so every RandR monitor, following the root when RandR resizes it). A
// thread watches the roots' substructure: whenever another client maps or raises a window above the
// cover, the cover goes back on top, with the windows of the processes started on that desktop
// (told by the X server's own record of each client's process, X-Resource, else _NET_WM_PID) kept
// above it. Where a compositor runs, the cover and those windows live in the composite overlay
// window, above whatever the compositor draws. While none of those windows shows, the cover holds
// the keyboard and the pointer itself, so that nothing typed reaches the desktop below.
// The connection is xcb: its errors come back as replies, never through Xlib's process-wide handler.
class CoverKeeper {
public:
    bool show(const std::string& desktop) {
        if (c_) return true;
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            reportUnavailable("SwitchDesktop");
            return false;
        }
        c_ = c;
        desktop_ = desktop;
        const xcb_query_extension_reply_t* res = xcb_get_extension_data(c_, &xcb_res_id);
        haveRes_ = res && res->present;
        const xcb_query_extension_reply_t* composite = xcb_get_extension_data(c_, &xcb_composite_id);
        const bool haveComposite = composite && composite->present;
        int index = 0;
        for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_)); it.rem;
             xcb_screen_next(&it), ++index) {
            ScreenCover s;
            s.root = it.data->root;
            s.parent = s.root;
            if (haveComposite && compositorRuns(index)) {
                xcb_composite_get_overlay_window_reply_t* r = xcb_composite_get_overlay_window_reply(
                    c_, xcb_composite_get_overlay_window(c_, s.root), nullptr);
                if (r) {
                    s.parent = r->overlay_win;
                    free(r);
                }
            }
            s.cover = xcb_generate_id(c_);
            const uint32_t values[] = {it.data->black_pixel, 1};
            xcb_create_window(c_, XCB_COPY_FROM_PARENT, s.cover, s.parent, 0, 0, it.data->width_in_pixels,
                              it.data->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, it.data->root_visual,
                              XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
            const char* name = "TarveloDesktopCover";
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, s.cover, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                uint32_t(std::strlen(name)), name);
            const uint32_t events[] = {XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
            xcb_change_window_attributes(c_, s.root, XCB_CW_EVENT_MASK, events);
            if (s.parent != s.root) xcb_change_window_attributes(c_, s.parent, XCB_CW_EVENT_MASK, events);
            xcb_map_window(c_, s.cover);
            screens_.push_back(s);
        }
        for (ScreenCover& s : screens_) restack(s);
        holdInput();
        sync();
        if (::pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
        stop_ = false;
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void hide() {
        if (!c_) return;
        stop_ = true;
        if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
        thread_.join();
        for (int& fd : wake_) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
        // Gone before the switch returns: the server notices a disconnection only later.
        for (ScreenCover& s : screens_) xcb_destroy_window(c_, s.cover);
        xcb_ungrab_keyboard(c_, XCB_CURRENT_TIME);
        xcb_ungrab_pointer(c_, XCB_CURRENT_TIME);
        sync();
        xcb_disconnect(c_);
        c_ = nullptr;
        screens_.clear();
        ours_.clear();
    }

private:
    struct ScreenCover {
        xcb_window_t root = 0, parent = 0, cover = 0;
    };
    xcb_connection_t* c_ = nullptr;
    std::string desktop_;
    std::vector<ScreenCover> screens_;
    bool haveRes_ = false;
    bool holding_ = false;  // the cover holds the keyboard and the pointer
    bool desktopShows_ = false;
    std::map<xcb_window_t, bool> ours_;  // known answers of isOurs
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int wake_[2] = {-1, -1};

    void sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    bool compositorRuns(int screen) {
        const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(name.size()), name.c_str()), nullptr);
        if (!atom) return false;
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, atom->atom), nullptr);
        free(atom);
        const bool runs = owner && owner->owner != XCB_NONE;
        free(owner);
        return runs;
    }

    int pidOf(xcb_window_t w) {
        if (haveRes_) {
            xcb_res_client_id_spec_t query{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            xcb_res_query_client_ids_reply_t* r =
                xcb_res_query_client_ids_reply(c_, xcb_res_query_client_ids(c_, 1, &query), nullptr);
            int pid = 0;
            if (r) {
                // Only the process id was asked for, so every value the server sends back is one.
                for (xcb_res_client_id_value_iterator_t it = xcb_res_query_client_ids_ids_iterator(r); it.rem;
                     xcb_res_client_id_value_next(&it))
                    if (xcb_res_client_id_value_value_length(it.data) >= 1)
                        pid = int(*xcb_res_client_id_value_value(it.data));
                free(r);
            }
            return pid;
        }
        static const char name[] = "_NET_WM_PID";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 1, sizeof name - 1, name), nullptr);
        if (!atom) return 0;
        xcb_get_property_reply_t* p = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, w, atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        free(atom);
        int pid = 0;
        if (p && xcb_get_property_value_length(p) >= 4) pid = int(*static_cast<uint32_t*>(xcb_get_property_value(p)));
        free(p);
        return pid;
    }

    // A window of a process on the desktop, or a window manager's frame around one.
    bool isOurs(xcb_window_t w, bool overrideRedirect) {
        auto known = ours_.find(w);
        if (known != ours_.end()) return known->second;
        bool ours = isDesktopProcess(desktop_, pidOf(w));
        if (!ours && !overrideRedirect) {
            if (xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr)) {
                xcb_window_t* kids = xcb_query_tree_children(t);
                for (int i = 0; i < xcb_query_tree_children_length(t) && !ours; ++i)
                    ours = isDesktopProcess(desktop_, pidOf(kids[i]));
                free(t);
            }
            if (!ours) return false;  // a frame may get its client later: ask again
        }
        ours_[w] = ours;
        return ours;
    }

    struct Child {
        xcb_window_t window;
        bool viewable;
        bool overrideRedirect;
    };
    std::vector<Child> children(xcb_window_t parent) {
        std::vector<Child> out;
        xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, parent), nullptr);
        if (!t) return out;
        xcb_window_t* kids = xcb_query_tree_children(t);
        const int n = xcb_query_tree_children_length(t);
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        for (int i = 0; i < n; ++i) cookies.push_back(xcb_get_window_attributes(c_, kids[i]));
        for (int i = 0; i < n; ++i) {
            xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(c_, cookies[size_t(i)], nullptr);
            if (!a) continue;  // gone meanwhile
            out.push_back({kids[i], a->map_state == XCB_MAP_STATE_VIEWABLE, a->override_redirect != 0});
            free(a);
        }
        free(t);
        return out;
    }

    // Stacking wanted under the cover's parent: everyone else, the cover, the desktop's windows.
    void restack(ScreenCover& s) {
        if (s.parent != s.root) {
            // The desktop's own windows move into the overlay, above the cover (a window manager's
            // frame around one stays where it is).
            for (const Child& k : children(s.root)) {
                if (!k.viewable || !isDesktopProcess(desktop_, pidOf(k.window))) continue;
                xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, k.window), nullptr);
                xcb_reparent_window(c_, k.window, s.parent, g ? g->x : 0, g ? g->y : 0);
                free(g);
            }
        }
        std::vector<Child> kids = children(s.parent);
        size_t coverAt = kids.size();
        for (size_t i = 0; i < kids.size(); ++i)
            if (kids[i].window == s.cover) coverAt = i;
        bool wrong = coverAt == kids.size();
        std::vector<xcb_window_t> above;
        for (size_t i = 0; i < kids.size(); ++i) {
            if (i == coverAt || !kids[i].viewable) continue;
            if (isOurs(kids[i].window, kids[i].overrideRedirect)) {
                above.push_back(kids[i].window);
                if (i < coverAt) wrong = true;
            } else if (i > coverAt) {
                wrong = true;
            }
        }
        if (!above.empty()) desktopShows_ = true;
        if (!wrong) return;
        const uint32_t top[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(c_, s.cover, XCB_CONFIG_WINDOW_STACK_MODE, top);
        for (xcb_window_t w : above) xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_STACK_MODE, top);
        xcb_flush(c_);
    }

    // The cover holds the input while no window of the desktop shows, and lets it go to them.
    void holdInput() {
        if (screens_.empty()) return;
        const xcb_window_t cover = screens_[0].cover;
        if (desktopShows_) {
            if (holding_) {
                xcb_ungrab_keyboard(c_, XCB_CURRENT_TIME);
                xcb_ungrab_pointer(c_, XCB_CURRENT_TIME);
                xcb_flush(c_);
                holding_ = false;
            }
            return;
        }
        xcb_grab_keyboard_reply_t* k = xcb_grab_keyboard_reply(
            c_, xcb_grab_keyboard(c_, 0, cover, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
        xcb_grab_pointer_reply_t* p = xcb_grab_pointer_reply(
            c_,
            xcb_grab_pointer(c_, 0, cover, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                             XCB_CURRENT_TIME),
            nullptr);
        holding_ = k && k->status == XCB_GRAB_STATUS_SUCCESS && p && p->status == XCB_GRAB_STATUS_SUCCESS;
        free(k);
        free(p);
    }

    void run() {
        const int fd = xcb_get_file_descriptor(c_);
        while (!stop_) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            // Quickly again while the input is not held and nothing of the desktop shows.
            ::poll(fds, wake_[0] >= 0 ? 2 : 1, !holding_ && !desktopShows_ ? 100 : 1000);
            if (stop_) break;
            while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
                const uint8_t type = e->response_type & 0x7F;
                if (type == XCB_CONFIGURE_NOTIFY) {
                    auto* ce = reinterpret_cast<xcb_configure_notify_event_t*>(e);
                    for (ScreenCover& s : screens_)
                        if (ce->window == s.root) {
                            const uint32_t size[] = {ce->width, ce->height};
                            xcb_configure_window(c_, s.cover, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                                 size);
                        }
                } else if (type == XCB_DESTROY_NOTIFY) {
                    ours_.erase(reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window);
                }
                free(e);
            }
            if (xcb_connection_has_error(c_)) break;
            desktopShows_ = false;
            for (ScreenCover& s : screens_) restack(s);
            holdInput();
            xcb_flush(c_);
        }
    }
};

CoverKeeper g_cover;

}  // namespace

namespace tarvelo_platform {
const char* desktopName(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    return d ? d->name.c_str() : "";
}
}  // namespace tarvelo_platform

extern "C" {

BOOL GetLastInputInfo(PLASTINPUTINFO info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Connection c("GetLastInputInfo");
    if (!c) return FALSE;
    int eventBase, errorBase;
    if (!XScreenSaverQueryExtension(c.display, &eventBase, &errorBase)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    XScreenSaverInfo* ss = XScreenSaverAllocInfo();
    if (!ss) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Status ok = XScreenSaverQueryInfo(c.display, DefaultRootWindow(c.display), ss);
    unsigned long idle = ss->idle;
    XFree(ss);
    if (!ok) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    info->dwTime = GetTickCount() - DWORD(idle);
    return TRUE;
}

BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT) {
    if (action != SPI_GETSCREENSAVEACTIVE && action != SPI_SETSCREENSAVEACTIVE && action != SPI_GETSCREENSAVERRUNNING) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (action != SPI_SETSCREENSAVEACTIVE && !pvParam) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Connection c("SystemParametersInfoA");
    if (!c) return FALSE;
    int timeout, interval, blanking, exposures;
    XGetScreenSaver(c.display, &timeout, &interval, &blanking, &exposures);
    if (action == SPI_GETSCREENSAVEACTIVE) {
        *static_cast<BOOL*>(pvParam) = timeout != 0 ? TRUE : FALSE;
        return TRUE;
    }
    if (action == SPI_GETSCREENSAVERRUNNING) {
        XScreenSaverInfo* ss = XScreenSaverAllocInfo();
        int eventBase, errorBase;
        bool running = false;
        if (ss && XScreenSaverQueryExtension(c.display, &eventBase, &errorBase) &&
            XScreenSaverQueryInfo(c.display, DefaultRootWindow(c.display), ss))
            running = ss->state == ScreenSaverOn;
        if (ss) XFree(ss);
        *static_cast<BOOL*>(pvParam) = running ? TRUE : FALSE;
        return TRUE;
    }
    HKEY key = nullptr;
    LONG opened = RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key);
    if (uiParam) {
        if (timeout == 0) {
            DWORD saved = 600, size = sizeof saved, type = 0;
            if (opened == LONG(ERROR_SUCCESS) &&
                (RegQueryValueExA(key, "ScreenSaveTimeOut", nullptr, &type, reinterpret_cast<BYTE*>(&saved),
                                  &size) != LONG(ERROR_SUCCESS) ||
                 type != REG_DWORD || saved == 0 || saved > 0x7FFF))
                saved = 600;
            XSetScreenSaver(c.display, int(saved), interval, blanking, exposures);
        }
    } else if (timeout != 0) {
        if (opened == LONG(ERROR_SUCCESS)) {
            DWORD keep = DWORD(timeout);
            RegSetValueExA(key, "ScreenSaveTimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&keep), 4);
        }
        XSetScreenSaver(c.display, 0, interval, blanking, exposures);
    }
    if (key) RegCloseKey(key);
    XSync(c.display, False);
    return TRUE;
}

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

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    void* handle = dlopen(moduleName, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    dlclose(handle);  // a module handle is not a reference
    return handle;
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
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    t_threadDesktop = d->name;
    return TRUE;
}

BOOL SwitchDesktop(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (d->name == "Default") {
        g_cover.hide();
    } else if (!g_cover.show(d->name)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    g_inputDesktop = d->name;
    return TRUE;
}

BOOL CloseDesktop(HDESK desktop) {
    std::lock_guard<std::mutex> lock(g_desktopMutex);
    DesktopObject* d = desktopOf(desktop);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    g_desktops.erase(desktop);
    delete d;
    return TRUE;
}

}  // extern "C"

namespace tarvelo_platform {

bool setLockScreenWindow(void* display, unsigned long window) {
    auto* d = static_cast<Display*>(display);
    if (!d || !window) return false;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, Window(window), &a)) return false;
    XSetWindowAttributes set{};
    set.override_redirect = True;
    XChangeWindowAttributes(d, Window(window), CWOverrideRedirect, &set);
    XFlush(d);
    return true;
}

unsigned grabLockScreenInput(void* display, unsigned long window) {
    auto* d = static_cast<Display*>(display);
    if (!d || !window) return 0;
    unsigned held = 0;
    if (XGrabKeyboard(d, Window(window), True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess)
        held |= LOCK_INPUT_KEYBOARD;
    const unsigned pointerEvents = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask |
                                   LeaveWindowMask;
    if (XGrabPointer(d, Window(window), True, pointerEvents, GrabModeAsync, GrabModeAsync, None, None, CurrentTime) ==
        GrabSuccess)
        held |= LOCK_INPUT_POINTER;
    XFlush(d);
    return held;
}

void releaseLockScreenInput(void* display) {
    auto* d = static_cast<Display*>(display);
    if (!d) return;
    XUngrabKeyboard(d, CurrentTime);
    XUngrabPointer(d, CurrentTime);
    XFlush(d);
}

}  // namespace tarvelo_platform
