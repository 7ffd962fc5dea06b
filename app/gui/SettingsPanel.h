#pragma once
#include <string>

#include <wx/panel.h>

#include "app/gui/WindowHosts.h"

class Logger;
class SettingsDialog;

// The base of the pages: the dialog asks each page whether it differs from the configuration,
// tells it to write itself into the configuration, and sizes it. A page has its dialog's host.
class SettingsPanel : public wxPanel {
public:
    explicit SettingsPanel(SettingsDialog* owner);

    void setAlignment(int alignment);
    void setPageSize(const wxSize& size);
    void notifyChanged();

    virtual bool applyChanges() { return true; }
    virtual bool hasChanged() { return false; }
    virtual void onResize(const wxSize& size) {}

    wxWindow* getInnerPanel() const { return innerPanel; }
    SettingsHost& host() const { return *windowHost; }

    SettingsDialog* owner;
    wxWindow* innerPanel;
    int alignment;
    bool mayEnter;
    bool mayLeave;

protected:
    SettingsPanel() : owner(nullptr), innerPanel(nullptr), alignment(0), mayEnter(true), mayLeave(true) {}
    Logger* logger() const;
    void log(const std::string& line) const;

private:
    SettingsHost* windowHost = nullptr;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(SettingsPanel);
    wxDECLARE_EVENT_TABLE();
};
