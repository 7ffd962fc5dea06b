#pragma once
// The "Settings" page: the two inactivity delays and the capture device.
#include <wx/choice.h>
#include <wx/spinctrl.h>

#include "app/gui/SettingsPanel.h"

class ParametersPanel : public SettingsPanel {
public:
    enum { ID_CAMERA = 6001 };

    explicit ParametersPanel(SettingsDialog* owner);

    bool applyChanges() override;
    bool hasChanged() override;
    void onValueChanged(wxCommandEvent& event);

    wxSpinCtrl* idleDelayField = nullptr;
    wxSpinCtrl* cameraDelayField = nullptr;
    wxChoice* cameraChoice = nullptr;
    bool cameraChanged = false;

private:
    ParametersPanel() = default;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(ParametersPanel);
    wxDECLARE_EVENT_TABLE();
};
