#pragma once
// What the windows ask of the application object, one interface per role. The application object
// implements all three and hands itself to each window it makes, so that no window depends on it;
// the configuration, the log and the user's files come from its core.
#include <string>

#include <wx/string.h>

#include "platform/windows_types.h"

class SessionGuardCore;

// The tray icon: the commands of its menu and of the system's messages, and what the menu shows.
class TrayHost {
public:
    virtual SessionGuardCore& core() = 0;
    virtual bool isEnabled() const = 0;
    // Whether the menu's Lock and Alt+L lock now.
    virtual bool lockOffered() = 0;
    virtual void lockSession(bool checkPresence) = 0;
    virtual void toggleEnabled() = 0;
    virtual void showSettingsDialog(int page) = 0;
    virtual void onSuspend() = 0;
    virtual void onResume() = 0;
    // Ends the tray instance's event loop (the menu's Exit).
    virtual void exitProgram() = 0;

protected:
    ~TrayHost() = default;
};

// What a window that checks the account's password asks: the core and the system's logon check.
class AccountHost {
public:
    virtual SessionGuardCore& core() = 0;
    virtual bool logonUser(const std::string& user, const std::string& domain, const std::string& password,
                           DWORD& error) = 0;

protected:
    ~AccountHost() = default;
};

// The settings dialog and its pages: the password check before a model changes, and the tray icon
// that tells of an enrollment.
class SettingsHost : public AccountHost {
public:
    virtual bool isEnabled() const = 0;
    virtual void setTrayIcon(const char* resource) = 0;
    // Shown on the tray icon, when there is one.
    virtual void showBalloon(const wxString& title, const wxString& text, unsigned timeout, int iconFlags) = 0;

protected:
    ~SettingsHost() = default;
};

// The unlock screen: the password check and the status the unlock-screen instance ends with.
class UnlockHost : public AccountHost {
public:
    virtual void setUnlockStatus(int status) = 0;

protected:
    ~UnlockHost() = default;
};
