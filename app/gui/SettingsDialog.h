#pragma once
// The program's configuration window: three pages (enrollment, parameters, help) in a list book
// with large icons, and the buttons Save, Apply and Cancel. While an enrollment runs, the page
// cannot be changed and the dialog cannot be closed.
#include <wx/imaglist.h>
#include <wx/listbook.h>
#include <wx/panel.h>
#include <wx/propdlg.h>

#include "app/gui/SettingsPanel.h"
#include "app/gui/WindowHosts.h"

class EnrollmentPanel;
class ParametersPanel;

class SettingsDialog : public wxPropertySheetDialog {
public:
    enum { ID_BOOK = 6000 };

    SettingsDialog(SettingsHost& host, wxWindow* parent, int initialPage);
    ~SettingsDialog() override;

    bool isCameraChanged() const;
    // built: the enrollment thread wrote a new model.
    void onEnrollmentDone(bool built);
    void disableButtons();
    void enableButtons();
    void updateApplyButton();
    void updateState();

    EnrollmentPanel* enrollmentPage() const;
    ParametersPanel* parametersPage() const;
    SettingsPanel* page(int index) const { return pages[index]; }
    wxButton* saveButton() const { return save; }
    wxButton* applyButton() const { return apply; }
    wxButton* cancelButton() const { return cancel; }
    wxListbook* book() const { return GetBookCtrl() ? static_cast<wxListbook*>(GetBookCtrl()) : nullptr; }
    SettingsHost& host() const { return *windowHost; }

    // Applies every page and saves the configuration; a failed save is reported in a message box
    // and leaves Apply enabled. False when a page refused or the save failed.
    bool applyAndSave();
    void onSave(wxCommandEvent& event);
    void onApply(wxCommandEvent& event);
    void onClose(wxCloseEvent& event);
    void onPageChanging(wxBookCtrlEvent& event);
    void onPageChanged(wxBookCtrlEvent& event);

protected:
    wxBookCtrlBase* CreateBookCtrl() override;

private:
    SettingsDialog() = default;

    SettingsHost* windowHost = nullptr;
    wxImageList* images = nullptr;
    SettingsPanel* pages[3] = {nullptr, nullptr, nullptr};
    wxButton* save = nullptr;
    wxButton* apply = nullptr;
    wxButton* cancel = nullptr;
    bool pageChangeSeen = false;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(SettingsDialog);
    wxDECLARE_EVENT_TABLE();
};
