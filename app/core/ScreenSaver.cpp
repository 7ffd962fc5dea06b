#include "app/core/ScreenSaver.h"

#include "platform/user.h"
#include "src/Logger.h"

bool screenSaverConfigured = false;

namespace {
// A refused question reads as "no".
bool ask(UINT action) {
    BOOL answer = FALSE;
    return SystemParametersInfoA(action, 0, &answer, 0) && answer == TRUE;
}
}  // namespace

ScreenSaver::ScreenSaver() {
    if (!screenSaverConfigured) screenSaverConfigured = ask(SPI_GETSCREENSAVEACTIVE);
}

void ScreenSaver::disable(Logger* logger) {
    if (!ask(SPI_GETSCREENSAVEACTIVE)) return;
    if (logger) logger->log("Disabling the screensaver...");
    // No update flags: the change holds for this session and is not written to the profile.
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
}

void ScreenSaver::restore(Logger* logger) {
    if (!screenSaverConfigured) return;
    if (logger) logger->log("Enabling the screensaver...");
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, 0);
}

bool ScreenSaver::isRunning() { return ask(SPI_GETSCREENSAVERRUNNING); }
