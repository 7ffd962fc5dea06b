#pragma once
// Switches the system's screen saver off while the program watches the session and back on when it
// ends. The process-wide flag screenSaverConfigured says that one was configured at start (or, in
// the unlock-screen instance, that the tray instance said so with "--screensaver").
extern bool screenSaverConfigured;

class Logger;

class ScreenSaver {
public:
    // Asks the system while the flag is still unset.
    ScreenSaver();
    // Only when the screen saver is active: "Disabling the screensaver..." (to logger, when given) and off.
    void disable(Logger* logger);
    // Only when the flag is set: "Enabling the screensaver..." and on.
    void restore(Logger* logger);
    bool isRunning();
};
