#pragma once
// Helpers of the GUI tests: letting the toolkit paint, and screenshots of real windows.
#include <string>

#include <wx/window.h>

namespace guitest {

// Installs the application object the tests run with (before the toolkit starts).
void installTestApp();
// The replay camera over the shared video data, or "" when the data is absent.
const std::string& replayCameraName();
// A camera that is always there and never shows a face.
const std::string& coveredCameraName();

// Runs the toolkit's pending events and paints for a while.
void pump(int milliseconds = 100);

// Saves what the screen shows of the window as build/screenshots/<name>.png (beside bin/) and
// returns the path; empty when it could not be written.
std::string screenshot(wxWindow* window, const std::string& name);

// Saves the whole screen as build/screenshots/<name>.png, whoever's windows show there.
std::string screenshotScreen(const std::string& name);

// The colour of one pixel of the window as the screen shows it, as 0xRRGGBB.
unsigned long pixelAt(wxWindow* window, int x, int y);

}  // namespace guitest
