#include "gui_harness.h"

#include <chrono>
#include <thread>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>

namespace guitest {

void pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        wxTheApp->ProcessPendingEvents();
        while (wxTheApp->Pending()) wxTheApp->Dispatch();
        wxYield();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
}

namespace {
wxImage grab(wxWindow* window) {
    const wxRect rect = window->GetScreenRect();
    wxBitmap bitmap(rect.width, rect.height);
    wxMemoryDC memory(bitmap);
    wxScreenDC screen;
    memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    memory.SelectObject(wxNullBitmap);
    return bitmap.ConvertToImage();
}
}  // namespace

std::string screenshot(wxWindow* window, const std::string& name) {
    pump(150);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxFileName folder(wxStandardPaths::Get().GetExecutablePath());
    folder.RemoveLastDir();
    folder.AppendDir("screenshots");
    folder.Mkdir(0755, wxPATH_MKDIR_FULL);
    const wxString path = folder.GetPath() + "/" + name + ".png";
    if (!grab(window).SaveFile(path, wxBITMAP_TYPE_PNG)) return std::string();
    return path.ToStdString();
}

unsigned long pixelAt(wxWindow* window, int x, int y) {
    const wxPoint p = window->ClientToScreen(wxPoint(x, y));
    wxBitmap bitmap(1, 1);
    wxMemoryDC memory(bitmap);
    wxScreenDC screen;
    memory.Blit(0, 0, 1, 1, &screen, p.x, p.y);
    memory.SelectObject(wxNullBitmap);
    const wxImage image = bitmap.ConvertToImage();
    return (static_cast<unsigned long>(image.GetRed(0, 0)) << 16) | (image.GetGreen(0, 0) << 8) | image.GetBlue(0, 0);
}

}  // namespace guitest
