#include "app/gui/Resources.h"

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/stdpaths.h>

wxString resourceFolder() {
    wxFileName folder(wxStandardPaths::Get().GetExecutablePath());
    folder.AppendDir("resources");
    return folder.GetPath();
}

wxBitmap loadBitmapResource(const wxString& name) {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    const wxString path = resourceFolder() + wxFileName::GetPathSeparator() + name + ".png";
    if (!wxFileName::FileExists(path)) return wxBitmap();
    wxImage image;
    {
        wxLogNull quiet;  // a damaged file is reported by its invalid bitmap, not a message box
        if (!image.LoadFile(path, wxBITMAP_TYPE_PNG)) return wxBitmap();
    }
    return wxBitmap(image);
}

wxIcon loadIconResource(const wxString& name) {
    wxIcon icon;
    const wxBitmap bitmap = loadBitmapResource(name);
    if (bitmap.IsOk()) icon.CopyFromBitmap(bitmap);
    return icon;
}
