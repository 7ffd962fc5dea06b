#pragma once
// The "Help" page: the logo, the product text and the licence agreement.
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/gui/SettingsPanel.h"

class HelpPanel : public SettingsPanel {
public:
    explicit HelpPanel(SettingsDialog* owner);
    void onResize(const wxSize& size) override;

    // The licence file as text: rich-text control words and groups are dropped, paragraphs kept.
    static wxString licenceText(const wxString& rtf);

    wxStaticBitmap* logo = nullptr;
    wxStaticText* text = nullptr;
    wxStaticText* licenceCaption = nullptr;
    wxTextCtrl* licenceBox = nullptr;

private:
    HelpPanel() = default;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(HelpPanel);
    wxDECLARE_EVENT_TABLE();
};
