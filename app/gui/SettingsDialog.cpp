#include "app/gui/SettingsDialog.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "app/gui/EnrollmentPanel.h"
#include "app/gui/HelpPanel.h"
#include "app/gui/ParametersPanel.h"
#include "app/gui/Resources.h"
#include "src/Logger.h"

wxIMPLEMENT_DYNAMIC_CLASS(SettingsDialog, wxPropertySheetDialog);

wxBEGIN_EVENT_TABLE(SettingsDialog, wxPropertySheetDialog)
    EVT_BUTTON(wxID_OK, SettingsDialog::onSave)
    EVT_BUTTON(wxID_NO, SettingsDialog::onApply)
    EVT_CLOSE(SettingsDialog::onClose)
    EVT_LISTBOOK_PAGE_CHANGING(SettingsDialog::ID_BOOK, SettingsDialog::onPageChanging)
    EVT_LISTBOOK_PAGE_CHANGED(SettingsDialog::ID_BOOK, SettingsDialog::onPageChanged)
wxEND_EVENT_TABLE()

wxBookCtrlBase* SettingsDialog::CreateBookCtrl() {
    return new wxListbook(this, ID_BOOK, wxDefaultPosition, wxDefaultSize, wxLB_TOP);
}

SettingsDialog::SettingsDialog(SettingsHost& host, wxWindow* parent, int initialPage) : windowHost(&host) {
    Create(parent, wxID_ANY, kProductConstants[PC_SETTINGS_TITLE], wxDefaultPosition, wxDefaultSize,
           wxDEFAULT_DIALOG_STYLE, "dialog");
    SetIcon(loadIconResource("application"));

    CreateButtons(wxOK | wxNO | wxCANCEL);
    for (wxWindow* child : GetChildren()) {
        wxButton* button = dynamic_cast<wxButton*>(child);
        if (!button) continue;
        if (button->GetId() == wxID_OK) {
            button->SetLabel("Save");
            save = button;
        } else if (button->GetId() == wxID_NO) {
            button->SetLabel("Apply");
            apply = button;
            apply->Disable();
        } else if (button->GetId() == wxID_CANCEL) {
            cancel = button;
        }
    }
    // The standard button row may sit in a sizer of its own rather than directly in the dialog.
    if (!save || !apply || !cancel) {
        if (!save) save = dynamic_cast<wxButton*>(FindWindow(wxID_OK));
        if (!apply) {
            apply = dynamic_cast<wxButton*>(FindWindow(wxID_NO));
            if (apply) {
                apply->SetLabel("Apply");
                apply->Disable();
            }
        }
        if (!cancel) cancel = dynamic_cast<wxButton*>(FindWindow(wxID_CANCEL));
        if (save) save->SetLabel("Save");
    }

    images = new wxImageList(48, 48, true, 1);
    for (const char* name : {"enrollment", "enrollment_gray", "parameters", "help"}) {
        wxBitmap bitmap = loadBitmapResource(name);
        if (!bitmap.IsOk()) bitmap = wxBitmap(48, 48);  // keeps the image indices in place
        images->Add(bitmap);
    }
    book()->SetImageList(images);

    pages[0] = new EnrollmentPanel(this);
    book()->AddPage(pages[0], "Enrollment", false, 0);
    // The first page added becomes the selection; where the book does so without its change
    // notifications, the enrollment page is started as they would have started it.
    if (!pageChangeSeen && book()->GetSelection() == 0) enrollmentPage()->startFaceDetection();
    pages[1] = new ParametersPanel(this);
    book()->AddPage(pages[1], "Settings", false, 2);
    pages[2] = new HelpPanel(this);
    book()->AddPage(pages[2], "Help", false, 3);

    LayoutDialog();

    wxSize largest(0, 0);
    for (SettingsPanel* p : pages) {
        const wxSize s = p->GetSize();
        largest.x = std::max(largest.x, s.x);
        largest.y = std::max(largest.y, s.y);
    }
    for (SettingsPanel* p : pages) p->setPageSize(largest);

    updateState();
    book()->SetSelection(initialPage);
}

SettingsDialog::~SettingsDialog() {
    // The pages go with the window tree; the enrollment page stops its detection on its way out.
    if (book()) book()->SetImageList(nullptr);
    delete images;
}

EnrollmentPanel* SettingsDialog::enrollmentPage() const { return static_cast<EnrollmentPanel*>(pages[0]); }
ParametersPanel* SettingsDialog::parametersPage() const { return static_cast<ParametersPanel*>(pages[1]); }

bool SettingsDialog::isCameraChanged() const { return parametersPage() && parametersPage()->cameraChanged; }

void SettingsDialog::onEnrollmentDone(bool built) {
    if (enrollmentPage()) enrollmentPage()->onEnrollmentDone(built);
}

void SettingsDialog::disableButtons() {
    if (save) save->Disable();
    if (apply) apply->Disable();
    if (cancel) cancel->Disable();
}

void SettingsDialog::enableButtons() {
    if (save) save->Enable();
    if (cancel) cancel->Enable();
    updateApplyButton();
}

void SettingsDialog::updateApplyButton() {
    bool changed = false;
    for (SettingsPanel* p : pages) {
        if (p && p->hasChanged()) {
            changed = true;
            break;
        }
    }
    if (apply) apply->Enable(changed);
}

void SettingsDialog::updateState() {
    SessionGuardCore& core = host().core();
    const bool usable = core.isCameraAvailable() && !core.adaptationRunning;
    if (book() && book()->GetPageCount() > 0) book()->SetPageImage(0, usable ? 0 : 1);
    if (pages[0]) pages[0]->mayEnter = usable;
    updateApplyButton();
}

void SettingsDialog::onPageChanging(wxBookCtrlEvent& event) {
    const int from = event.GetOldSelection(), to = event.GetSelection();
    if (from >= 0 && from < 3 && pages[from] && !pages[from]->mayLeave) {
        event.Veto();
        return;
    }
    if (to == 0 && pages[0] && !pages[0]->mayEnter) {
        event.Veto();
        return;
    }
    SetCursor(*wxHOURGLASS_CURSOR);
}

void SettingsDialog::onPageChanged(wxBookCtrlEvent& event) {
    pageChangeSeen = true;
    const int from = event.GetOldSelection(), to = event.GetSelection();
    if (from == 0 && enrollmentPage()) enrollmentPage()->stopFaceDetection();
    if (to == 0 && enrollmentPage()) enrollmentPage()->startFaceDetection();
    SetCursor(wxNullCursor);
}

void SettingsDialog::onApply(wxCommandEvent&) { applyAndSave(); }

bool SettingsDialog::applyAndSave() {
    SetCursor(*wxHOURGLASS_CURSOR);
    for (SettingsPanel* p : pages) {
        if (!p->applyChanges()) {
            SetCursor(wxNullCursor);
            return false;
        }
    }
    SessionGuardCore& core = host().core();
    const std::string path = core.configFilePath();
    const bool saved = core.config.save(path);
    updateState();
    SetCursor(wxNullCursor);
    if (!saved) {
        // The settings hold for this run only; Apply stays on so that the user can try again.
        if (core.logger) core.logger->log("ERROR: Failed to save the configuration file " + path);
        if (apply) apply->Enable();
        wxMessageBox(wxString::Format("Your settings could not be saved to the file '%s'. They apply until %s "
                                      "exits.",
                                      wxString::FromUTF8(path), kProductConstants[PC_PRODUCT]),
                     kProductConstants[PC_TITLE], wxOK | wxICON_ERROR, this);
        return false;
    }
    if (apply) apply->Disable();
    return true;
}

void SettingsDialog::onSave(wxCommandEvent&) {
    // A failed save keeps the dialog open after its message; Cancel still leaves.
    if (!applyAndSave()) return;
    if (Validate() && TransferDataFromWindow()) EndModal(wxID_OK);
}

void SettingsDialog::onClose(wxCloseEvent& event) {
    // While an enrollment runs the buttons are off and the window stays open.
    if (save && save->IsEnabled()) {
        if (IsModal())
            EndModal(wxID_CANCEL);
        else
            Destroy();
    } else if (event.CanVeto()) {
        event.Veto();
    }
}
