#include "app/gui/SettingsPanel.h"

#include "app/core/SessionGuardCore.h"
#include "app/gui/SettingsDialog.h"

wxIMPLEMENT_DYNAMIC_CLASS(SettingsPanel, wxPanel);

wxBEGIN_EVENT_TABLE(SettingsPanel, wxPanel)
wxEND_EVENT_TABLE()

SettingsPanel::SettingsPanel(SettingsDialog* owner)
    : wxPanel(owner->book(), wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE, "panel"),
      owner(owner), innerPanel(nullptr), alignment(0), mayEnter(true), mayLeave(true), windowHost(&owner->host()) {
    innerPanel = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, "panel");
}

void SettingsPanel::setAlignment(int a) { alignment = a; }

void SettingsPanel::setPageSize(const wxSize& size) {
    SetSize(size);
    onResize(size);
    int x = 0;
    if (alignment == 1)
        x = (size.GetWidth() - innerPanel->GetSize().GetWidth()) / 2;
    else if (alignment == 2)
        x = size.GetWidth() - innerPanel->GetSize().GetWidth();
    if (x < 0) x = 0;
    innerPanel->Move(x, 0);
}

void SettingsPanel::notifyChanged() {
    if (owner) owner->updateApplyButton();
}

Logger* SettingsPanel::logger() const { return host().core().logger; }

void SettingsPanel::log(const std::string& line) const { host().core().log(line); }
