// The lock desktop's cover (x11_cover.h).
#include "platform/x11_cover.h"

#include "platform/kernel_handles.h"
#include "platform/x11_display.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <xcb/composite.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using tarvelo_platform::isDesktopProcess;

namespace {

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
            tarvelo_platform::x11::reportUnavailable("SwitchDesktop");
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

bool showDesktopCover(const std::string& desktop) { return g_cover.show(desktop); }

void hideDesktopCover() { g_cover.hide(); }

}  // namespace tarvelo_platform
