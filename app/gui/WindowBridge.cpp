#include "app/gui/WindowBridge.h"

#include "app/capture/Notifications.h"

#include <algorithm>
#include <map>
#include <set>

#include <wx/app.h>
#include <wx/dcbuffer.h>

namespace {
// Both registries belong to the GUI thread.
std::map<HWND, WindowMessageHandler>& handlers() {
    static std::map<HWND, WindowMessageHandler> map;
    return map;
}
std::set<HWND>& videoWindows() {
    static std::set<HWND> set;
    return set;
}

void drain(HWND window) {
    MSG msg;
    for (;;) {
        auto it = handlers().find(window);
        if (it == handlers().end()) return;  // detached meanwhile, perhaps by the last message
        if (!PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) return;
        WindowMessageHandler handler = it->second;  // the handler may detach itself
        handler(msg.message, msg.wParam, msg.lParam);
    }
}
}  // namespace

void attachMessageQueue(wxWindow* window, WindowMessageHandler handler) {
    const HWND hwnd = windowHandle(window);
    handlers()[hwnd] = std::move(handler);
    // A full queue may drop the oldest detection scores, which the next one replaces; never a verdict.
    tarvelo::user::createMessageQueue(
        hwnd, [hwnd] {
            if (wxTheApp) wxTheApp->CallAfter([hwnd] { drain(hwnd); });
        },
        {WM_FACE_DETECTION});
}

void detachMessageQueue(wxWindow* window) {
    const HWND hwnd = windowHandle(window);
    if (handlers().erase(hwnd)) tarvelo::user::destroyMessageQueue(hwnd);
}

// ---- VideoWindow ----

wxBEGIN_EVENT_TABLE(VideoWindow, wxControl)
    EVT_PAINT(VideoWindow::onPaint)
wxEND_EVENT_TABLE()

VideoWindow::VideoWindow(wxWindow* parent, const wxPoint& position, const wxSize& size, long style,
                         const wxString& name)
    : wxControl(parent, wxID_ANY, position, size, style, wxDefaultValidator, name) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    videoWindows().insert(windowHandle(this));
    tarvelo::graph::registerFrameSink(windowHandle(this), this);
}

VideoWindow::~VideoWindow() {
    tarvelo::graph::unregisterFrameSink(windowHandle(this));
    videoWindows().erase(windowHandle(this));
}

void VideoWindow::presentFrame(HWND owner, const tarvelo::graph::VideoFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0) return;
    const int w = frame.width, h = frame.height, bytes = frame.bitCount / 8;
    if (bytes < 3 || frame.pixels.size() < static_cast<size_t>(frame.stride) * h) return;
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    unsigned char* out = rgb.data();
    for (int y = 0; y < h; ++y) {
        const BYTE* row = frame.pixels.data() + static_cast<size_t>(frame.stride) * y;
        for (int x = 0; x < w; ++x, out += 3) {
            out[0] = row[x * bytes + 2];
            out[1] = row[x * bytes + 1];
            out[2] = row[x * bytes + 0];
        }
    }
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        pending.swap(rgb);
        pendingWidth = w;
        pendingHeight = h;
        cleared = false;
        post = !refreshPosted;
        refreshPosted = true;
    }
    if (post && wxTheApp) {
        const HWND self = owner;
        wxTheApp->CallAfter([self] {
            if (videoWindows().count(self)) reinterpret_cast<VideoWindow*>(self)->takeFrame();
        });
    }
}

void VideoWindow::detached(HWND owner) {
    std::lock_guard<std::mutex> guard(lock);
    pending.clear();
    cleared = true;
}

void VideoWindow::takeFrame() {
    {
        std::lock_guard<std::mutex> guard(lock);
        refreshPosted = false;
        if (!pending.empty()) {
            picture = wxImage(pendingWidth, pendingHeight, false);
            std::copy(pending.begin(), pending.end(), picture.GetData());
            pending.clear();
            ++shown;
        } else if (cleared) {
            picture = wxImage();
        }
    }
    Refresh(false);
}

void VideoWindow::onPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (cleared) picture = wxImage();
    }
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    const wxSize size = GetClientSize();
    if (picture.IsOk() && size.x > 0 && size.y > 0) {
        if (picture.GetWidth() == size.x && picture.GetHeight() == size.y)
            dc.DrawBitmap(wxBitmap(picture), 0, 0);
        else
            dc.DrawBitmap(wxBitmap(picture.Scale(size.x, size.y)), 0, 0);
    }
}
