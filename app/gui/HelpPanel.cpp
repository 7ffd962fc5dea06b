#include "app/gui/HelpPanel.h"

#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>

#include "app/core/ProductConstants.h"
#include "app/gui/SettingsDialog.h"

wxIMPLEMENT_DYNAMIC_CLASS(HelpPanel, SettingsPanel);

wxBEGIN_EVENT_TABLE(HelpPanel, SettingsPanel)
wxEND_EVENT_TABLE()

HelpPanel::HelpPanel(SettingsDialog* owner) : SettingsPanel(owner) {
    setAlignment(1);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);

    wxBitmap picture;
    {
        wxLogNull quiet;  // a missing or damaged logo leaves the control empty
        wxImage image;
        if (wxFileName::FileExists(kProductConstants[PC_LOGO]) && image.LoadFile(kProductConstants[PC_LOGO]))
            picture = wxBitmap(image);
    }
    logo = new wxStaticBitmap(innerPanel, wxID_ANY, picture, wxDefaultPosition, wxDefaultSize, 0, "staticBitmap");

    const wxString product = wxString::Format(
        "%s %s\n\nCopyright (c) 2007 %s.\nAll rights reserved.\n\nFor further information, please visit:\n%s\nor "
        "contact:\n%s",
        kProductConstants[PC_TITLE], kProductConstants[PC_VERSION], kProductConstants[PC_VENDOR],
        kProductConstants[PC_VENDOR_URL], kProductConstants[PC_VENDOR_MAIL]);
    text = new wxStaticText(innerPanel, wxID_ANY, product, wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL);

    licenceCaption = new wxStaticText(innerPanel, wxID_ANY, "License agreement");
    wxFont underlined = licenceCaption->GetFont();
    underlined.SetUnderlined(true);
    licenceCaption->SetFont(underlined);

    licenceBox = new wxTextCtrl(innerPanel, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH);
    if (wxFileName::FileExists(kProductConstants[PC_LICENSE])) {
        wxFFile file(kProductConstants[PC_LICENSE], "rb");
        wxString content;
        if (file.IsOpened() && file.ReadAll(&content, wxConvUTF8)) licenceBox->SetValue(licenceText(content));
    }

    onResize(GetSize());
    setPageSize(innerPanel->GetSize());
    SetMinSize(innerPanel->GetSize());
}

void HelpPanel::onResize(const wxSize&) {
    const wxSize l = logo->GetSize(), t = text->GetSize(), c = licenceCaption->GetSize();
    logo->Move(0, 0);
    text->Move(l.x + (400 - t.x - l.x) / 2, l.y <= t.y ? 0 : (l.y - t.y) / 2);
    const int r = std::max(l.y, t.y) + 10;
    licenceCaption->Move(0, r);
    licenceBox->SetSize(0, r + c.y + 10, 400, 200);
    innerPanel->SetSize(400, r + c.y + 10 + 200);
}

wxString HelpPanel::licenceText(const wxString& rtf) {
    // This toolkit's text fields on Linux show a rich-text file as its source; the page shows the
    // words instead.
    wxString out;
    int depth = 0, skipDepth = -1;
    for (size_t i = 0; i < rtf.length(); ++i) {
        const wxUniChar c = rtf[i];
        if (c == '{') {
            ++depth;
            // Font and colour tables carry no words.
            if (rtf.compare(i, 9, "{\\fonttbl") == 0 || rtf.compare(i, 10, "{\\colortbl") == 0) skipDepth = depth;
        } else if (c == '}') {
            if (depth == skipDepth) skipDepth = -1;
            --depth;
        } else if (c == '\\') {
            if (i + 1 < rtf.length() && (rtf[i + 1] == '\\' || rtf[i + 1] == '{' || rtf[i + 1] == '}')) {
                if (skipDepth < 0) out += rtf[i + 1];
                ++i;
                continue;
            }
            size_t j = i + 1;
            while (j < rtf.length() && wxIsalpha(rtf[j])) ++j;
            const wxString word = rtf.Mid(i + 1, j - i - 1);
            while (j < rtf.length() && (wxIsdigit(rtf[j]) || rtf[j] == '-')) ++j;
            if (j < rtf.length() && rtf[j] == ' ') ++j;  // the delimiter belongs to the word
            if (skipDepth < 0 && (word == "par" || word == "line")) out += '\n';
            if (skipDepth < 0 && word == "tab") out += '\t';
            i = j - 1;
        } else if (c == '\n' || c == '\r') {
            continue;
        } else if (skipDepth < 0 && depth > 0) {
            out += c;
        }
    }
    return out;
}
