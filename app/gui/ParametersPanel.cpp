#include "app/gui/ParametersPanel.h"

#include <algorithm>

#include <wx/gbsizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/core/SessionGuardCore.h"
#include "app/gui/SettingsDialog.h"
#include "src/DSF_GraphManager.h"
#include "src/Logger.h"

wxIMPLEMENT_DYNAMIC_CLASS(ParametersPanel, SettingsPanel);

wxBEGIN_EVENT_TABLE(ParametersPanel, SettingsPanel)
    EVT_TEXT(wxID_ANY, ParametersPanel::onValueChanged)
    EVT_CHOICE(ParametersPanel::ID_CAMERA, ParametersPanel::onValueChanged)
wxEND_EVENT_TABLE()

namespace {
wxSpinCtrl* delayField(wxWindow* parent) {
    wxSpinCtrl* field = new wxSpinCtrl(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS, 0,
                                       100, 0, "wxSpinCtrl");
    field->SetRange(kMinDelaySeconds, kMaxDelaySeconds);
    // 70 pixels, or what the toolkit needs at least: GTK 3 puts both arrows beside the number, and a
    // field narrower than its own minimum makes it complain at every layout.
    field->InvalidateBestSize();
    field->SetMinSize(wxSize(std::max(70, field->GetBestSize().x), -1));
    return field;
}
}  // namespace

ParametersPanel::ParametersPanel(SettingsDialog* owner) : SettingsPanel(owner) {
    Configuration& config = host().core().config;
    log("Creating the 'Parameters' panel...");
    LogIndent indent(logger());

    wxGridBagSizer* sizer = new wxGridBagSizer(10, 10);
    wxStaticText* title = new wxStaticText(this, wxID_ANY, "Settings");
    wxFont bold = title->GetFont();
    bold.SetWeight(wxFONTWEIGHT_BOLD);
    bold.SetPointSize(bold.GetPointSize() + 1);
    title->SetFont(bold);
    sizer->Add(title, wxGBPosition(0, 0), wxGBSpan(1, 3), wxALIGN_CENTER_VERTICAL);

    sizer->Add(new wxStaticText(this, wxID_ANY, "Delay of inactivity before locking the session (in seconds):"),
               wxGBPosition(1, 0), wxDefaultSpan, wxALIGN_CENTER_VERTICAL);
    idleDelayField = delayField(this);
    sizer->Add(idleDelayField, wxGBPosition(1, 1), wxGBSpan(1, 2), wxEXPAND);

    sizer->Add(new wxStaticText(this, wxID_ANY, "Delay of inactivity before disabling the camera (in seconds):"),
               wxGBPosition(2, 0), wxDefaultSpan, wxALIGN_CENTER_VERTICAL);
    cameraDelayField = delayField(this);
    sizer->Add(cameraDelayField, wxGBPosition(2, 1), wxGBSpan(1, 2), wxEXPAND);

    sizer->Add(new wxStaticText(this, wxID_ANY, "Camera device:"), wxGBPosition(3, 0), wxDefaultSpan,
               wxALIGN_CENTER_VERTICAL);
    cameraChoice = new wxChoice(this, ID_CAMERA);
    sizer->Add(cameraChoice, wxGBPosition(3, 1), wxGBSpan(1, 2), wxEXPAND);

    idleDelayField->SetValue(static_cast<int>(config.idleDelay / 1000));
    cameraDelayField->SetValue(static_cast<int>(config.verificationIdleDelay / 1000));

    DirectShowFramework::GraphManager devices(nullptr);
    const std::vector<std::string> names = devices.enumerateVideoCaptureDevices();
    for (const std::string& name : names) cameraChoice->Append(wxString::FromUTF8(name));
    if (names.empty()) {
        cameraChoice->Disable();
    } else if (config.cameraName.empty()) {
        cameraChoice->SetSelection(0);
    } else {
        const int found = cameraChoice->FindString(wxString::FromUTF8(config.cameraName), true);
        if (found == wxNOT_FOUND) {
            log("The configured capture device isn't available anymore, the first one will be used instead");
            cameraChoice->SetSelection(0);
        } else {
            cameraChoice->SetSelection(found);
        }
    }

    SetSizer(sizer);
    SetMinSize(sizer->GetMinSize());
    SetSize(sizer->GetMinSize());
}

bool ParametersPanel::hasChanged() {
    const Configuration& config = host().core().config;
    if (cameraChoice->GetCount() > 0) {
        if (cameraChoice->GetStringSelection().ToStdString(wxConvUTF8) != config.cameraName) return true;
    } else if (!config.cameraName.empty()) {
        return true;
    }
    return static_cast<uint32_t>(idleDelayField->GetValue()) * 1000 != config.idleDelay ||
           static_cast<uint32_t>(cameraDelayField->GetValue()) * 1000 != config.verificationIdleDelay;
}

bool ParametersPanel::applyChanges() {
    Configuration& config = host().core().config;
    config.idleDelay = static_cast<uint32_t>(idleDelayField->GetValue()) * 1000;
    config.verificationIdleDelay = static_cast<uint32_t>(cameraDelayField->GetValue()) * 1000;
    if (cameraChoice->GetCount() > 0) {
        const std::string selected = cameraChoice->GetStringSelection().ToStdString(wxConvUTF8);
        if (selected != config.cameraName) {
            config.cameraName = selected;
            cameraChanged = true;
        }
    } else {
        // Once changed in this dialog, the camera stays changed: an earlier apply may have set it.
        cameraChanged |= !config.cameraName.empty();
        config.cameraName.clear();
    }
    log("Applying parameters change...");
    LogIndent indent(logger());
    log("Application idle delay: " + std::to_string(config.idleDelay));
    log("Verification idle delay: " + std::to_string(config.verificationIdleDelay));
    log("Verification world model: " + config.worldModel);
    log("Camera: " + config.cameraName + (cameraChanged ? " (Changed)" : ""));
    log("Video format: " + config.getFormat());
    return true;
}

void ParametersPanel::onValueChanged(wxCommandEvent&) { notifyChanged(); }
