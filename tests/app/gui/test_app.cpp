#include "gui_harness.h"

#include <wx/app.h>

namespace guitest {
void installTestApp() { wxApp::SetInstance(new wxApp); }
}  // namespace guitest
