#include "gui_harness.h"

#include <chrono>
#include <thread>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/stdpaths.h>
#include <wx/gdicmn.h>
#include <wx/utils.h>

// Last: its macros would clash with the toolkit's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace guitest {

void pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        wxTheApp->ProcessPendingEvents();
        while (wxTheApp->Pending()) wxTheApp->Dispatch();
        wxYield();
        wxTheApp->ProcessIdle();  // windows destroyed meanwhile go now
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
}

namespace {
// What the X server shows in that rectangle of the screen, read straight from the root window.
wxImage grabScreen(const wxRect& rect) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return wxImage();
    XImage* shot = XGetImage(display, DefaultRootWindow(display), rect.x, rect.y, rect.width, rect.height,
                             AllPlanes, ZPixmap);
    wxImage image;
    if (shot) {
        image.Create(rect.width, rect.height, false);
        for (int y = 0; y < rect.height; ++y)
            for (int x = 0; x < rect.width; ++x) {
                const unsigned long p = XGetPixel(shot, x, y);
                image.SetRGB(x, y, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
            }
        XDestroyImage(shot);
    }
    XCloseDisplay(display);
    return image;
}
wxImage grab(wxWindow* window) {
    return grabScreen(window->GetScreenRect());
}
}  // namespace

namespace {
std::string save(const wxImage& image, const std::string& name) {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxFileName folder(wxStandardPaths::Get().GetExecutablePath());
    folder.RemoveLastDir();
    folder.AppendDir("screenshots");
    folder.Mkdir(0755, wxPATH_MKDIR_FULL);
    const wxString path = folder.GetPath() + "/" + name + ".png";
    if (!image.IsOk() || !image.SaveFile(path, wxBITMAP_TYPE_PNG)) return std::string();
    return path.ToStdString();
}
}  // namespace

std::string screenshot(wxWindow* window, const std::string& name) {
    pump(150);
    return save(grab(window), name);
}

std::string screenshotScreen(const std::string& name) {
    int width = 0, height = 0;
    wxDisplaySize(&width, &height);
    return save(grabScreen(wxRect(0, 0, width, height)), name);
}

unsigned long pixelAt(wxWindow* window, int x, int y) {
    const wxPoint p = window->ClientToScreen(wxPoint(x, y));
    const wxImage image = grabScreen(wxRect(p.x, p.y, 1, 1));
    if (!image.IsOk()) return 0;
    return (static_cast<unsigned long>(image.GetRed(0, 0)) << 16) | (image.GetGreen(0, 0) << 8) | image.GetBlue(0, 0);
}

}  // namespace guitest
