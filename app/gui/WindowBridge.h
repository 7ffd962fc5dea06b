#pragma once
// How the program's windows meet the platform's window services: a window's handle is the window
// object itself; posted window messages (the filter listeners' notifications) reach the window's
// handler on the GUI thread; and a video window shows the frames that the graph's renderer hands
// to it.
#include <functional>
#include <mutex>
#include <vector>

#include <wx/control.h>
#include <wx/image.h>

#include "platform/graph.h"
#include "platform/messages.h"
#include "platform/user.h"

inline HWND windowHandle(const wxWindow* window) { return reinterpret_cast<HWND>(const_cast<wxWindow*>(window)); }

// Handles one posted message; true when it was handled.
typedef std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)> WindowMessageHandler;

// Gives the window a message queue whose messages reach handler on the GUI thread, in order.
void attachMessageQueue(wxWindow* window, WindowMessageHandler handler);
// Drops the queue and its pending messages; safe from the handler itself.
void detachMessageQueue(wxWindow* window);

// A borderless control that shows the video of the renderer that draws into its handle.
class VideoWindow : public wxControl, public tarvelo::graph::FrameSink {
public:
    VideoWindow(wxWindow* parent, const wxPoint& position, const wxSize& size, long style = wxBORDER_NONE,
                const wxString& name = "control");
    ~VideoWindow() override;

    void presentFrame(HWND owner, const tarvelo::graph::VideoFrame& frame) override;
    void detached(HWND owner) override;

    // Frames shown so far (GUI thread).
    unsigned framesShown() const { return shown; }

protected:
    wxSize DoGetBestSize() const override { return GetSize(); }

private:
    void onPaint(wxPaintEvent& event);
    void takeFrame();

    std::mutex lock;
    // Newest frame from the presentation thread, as RGB bytes (the toolkit's images are not shared
    // between threads), under lock.
    std::vector<unsigned char> pending;
    int pendingWidth = 0, pendingHeight = 0;
    bool refreshPosted = false;  // under lock
    bool cleared = false;        // under lock
    wxImage picture;       // GUI thread
    unsigned shown = 0;

    wxDECLARE_EVENT_TABLE();
};
