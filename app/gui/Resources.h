#pragma once
// Icons by resource name ("application", "systray", ...): PNG files in the "resources" folder
// beside the executable.
#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/string.h>

// The folder that holds the icon files.
wxString resourceFolder();
// The icon of that name; an invalid bitmap when its file is missing or unreadable.
wxBitmap loadBitmapResource(const wxString& name);
wxIcon loadIconResource(const wxString& name);
