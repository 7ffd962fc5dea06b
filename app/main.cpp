// The program's entry: the toolkit's standard entry with the application object of both instances.
// (The GUI tests define wxGetApp for their own application object.)
#include "app/gui/SessionGuardApp.h"

wxIMPLEMENT_APP(SessionGuardApp);
