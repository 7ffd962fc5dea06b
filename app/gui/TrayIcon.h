#pragma once
// The tray instance's icon in the notification area: its menu (lock, enable or disable, settings,
// exit), the double-click that opens the settings, balloon tips, and the system notifications the
// program reacts to: the Alt+L hotkey, suspend and resume, and session changes.
#include <string>

#include <wx/menu.h>
#include <wx/taskbar.h>

#include "app/core/ProductConstants.h"
#include "app/gui/WindowHosts.h"
#include "platform/session.h"
#include "platform/user.h"

constexpr int HOTKEY_ID_LOCK = 200;

class Logger;

class TrayIcon : public wxTaskBarIcon {
public:
    enum { ID_SETTINGS = 6000, ID_LOCK = 6001, ID_ENABLE = 6003, ID_EXIT = 5006 };

    explicit TrayIcon(TrayHost& host);
    ~TrayIcon() override;

    bool showBalloon(const wxString& title, const wxString& text, unsigned timeout, int iconFlags);
    bool registerSystemHooks();
    void unregisterSystemHooks();
    void enable();
    void disable();
    bool isEnabled() const { return enabled; }

    // Shows the named icon resource with that tooltip.
    bool setIconResource(const std::string& resource, const wxString& tooltip);
    const std::string& iconResource() const { return currentIcon; }

    // The window procedure of the icons' hidden windows: hotkey, power and session messages. A
    // message reaches the icon whose window it names, a broadcast every icon.
    static LRESULT trayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The handle under which the icon receives its messages.
    HWND windowHandle() const { return reinterpret_cast<HWND>(const_cast<TrayIcon*>(this)); }

    // The last balloon, as the notification area would show it.
    struct Balloon {
        std::string title;  // at most 63 bytes
        std::string text;   // at most 255 bytes
        unsigned timeout = 0;
        unsigned flags = 0;
        int count = 0;
    };
    const Balloon& lastBalloon() const { return balloon; }

    wxMenu* CreatePopupMenu() override;

    void onMenuLock(wxCommandEvent& event);
    void onMenuEnable(wxCommandEvent& event);
    void onMenuSettings(wxCommandEvent& event);
    void onMenuExit(wxCommandEvent& event);
    void onLeftDoubleClick(wxTaskBarIconEvent& event);

private:
    // This icon's part of the window procedure; false for what goes to the default procedure.
    bool handleMessage(UINT message, WPARAM wParam);
    Logger* logger() const;
    void log(const std::string& line) const;

    TrayHost& host;
    bool enabled;
    std::string currentIcon;
    Balloon balloon;

    wxDECLARE_EVENT_TABLE();
};

// The replaced window procedure is installed once per process: the handler that hands the
// platform's hotkey messages to the GUI thread. Null before.
extern void* savedTrayWindowProc;
