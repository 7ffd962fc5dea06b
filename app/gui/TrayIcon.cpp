#include "app/gui/TrayIcon.h"

#include <algorithm>
#include <vector>

#include <wx/app.h>
#include <wx/notifmsg.h>

#include "app/core/SessionGuardCore.h"
#include "app/gui/Resources.h"
#include "src/Logger.h"

void* savedTrayWindowProc = nullptr;

namespace {
// The window procedure that the platform's messages reach when no replacement handles them: the
// icon's hidden window does nothing with them.
LRESULT defaultTrayProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
int g_defaultProcMarker;

// The icons alive, which the window procedure hands their messages to (GUI thread only).
std::vector<TrayIcon*> g_icons;
}  // namespace

wxBEGIN_EVENT_TABLE(TrayIcon, wxTaskBarIcon)
    EVT_MENU(TrayIcon::ID_LOCK, TrayIcon::onMenuLock)
    EVT_MENU(TrayIcon::ID_ENABLE, TrayIcon::onMenuEnable)
    EVT_MENU(TrayIcon::ID_SETTINGS, TrayIcon::onMenuSettings)
    EVT_MENU(TrayIcon::ID_EXIT, TrayIcon::onMenuExit)
    EVT_TASKBAR_LEFT_DCLICK(TrayIcon::onLeftDoubleClick)
wxEND_EVENT_TABLE()

TrayIcon::TrayIcon(TrayHost& host) : host(host), enabled(true) { g_icons.push_back(this); }

TrayIcon::~TrayIcon() { g_icons.erase(std::remove(g_icons.begin(), g_icons.end(), this), g_icons.end()); }

Logger* TrayIcon::logger() const { return host.core().logger; }

void TrayIcon::log(const std::string& line) const { host.core().log(line); }

bool TrayIcon::setIconResource(const std::string& resource, const wxString& tooltip) {
    currentIcon = resource;
    const wxBitmap bitmap = loadBitmapResource(resource);
    if (!bitmap.IsOk()) return false;
    return SetIcon(wxBitmapBundle(bitmap), tooltip);
}

wxMenu* TrayIcon::CreatePopupMenu() {
    if (!enabled) return nullptr;
    wxMenu* menu = new wxMenu;
    menu->Append(ID_LOCK, "Lock (Alt+L)", "Lock the computer");
    menu->Enable(ID_LOCK, host.lockOffered());
    menu->AppendSeparator();
    if (host.isEnabled())
        menu->Append(ID_ENABLE, "Disable", "Disable the Tarvelo application");
    else
        menu->Append(ID_ENABLE, "Enable", "Enable the Tarvelo application");
    menu->AppendSeparator();
    menu->Append(ID_SETTINGS, "Settings", "Change the settings");
    menu->AppendSeparator();
    menu->Append(ID_EXIT, "Exit", "Quit this program");
    return menu;
}

void TrayIcon::onMenuLock(wxCommandEvent&) {
    log("Event: 'Lock' menu clicked");
    LogIndent indent(logger());
    host.lockSession(false);
}

void TrayIcon::onMenuEnable(wxCommandEvent&) {
    log("Event: 'Enable/Disable' menu clicked");
    LogIndent indent(logger());
    host.toggleEnabled();
}

void TrayIcon::onMenuSettings(wxCommandEvent&) {
    log("Event: 'Settings' menu clicked");
    LogIndent indent(logger());
    host.showSettingsDialog(0);
}

void TrayIcon::onMenuExit(wxCommandEvent&) {
    log("Event: 'Exit' menu clicked");
    LogIndent indent(logger());
    host.exitProgram();
}

void TrayIcon::onLeftDoubleClick(wxTaskBarIconEvent&) {
    if (!enabled) return;
    log("Event: Systray icon double-clicked");
    LogIndent indent(logger());
    disable();
    host.showSettingsDialog(0);
    enable();
}

bool TrayIcon::showBalloon(const wxString& title, const wxString& text, unsigned timeout, int iconFlags) {
    // The fixed fields of the notification record: 255 bytes of text and 63 of title.
    std::string t = text.ToStdString();
    if (t.size() > 255) t.resize(255);
    std::string h = title.ToStdString();
    if (h.size() > 63) h.resize(63);
    if (!IsIconInstalled()) {
        log("ERROR: Failed to show a balloon on the systray icon");
        return false;
    }
    log("Showing a balloon on the systray icon...");
    balloon.title = h;
    balloon.text = t;
    balloon.timeout = timeout;
    balloon.flags = static_cast<unsigned>(iconFlags) | NIIF_NOSOUND;
    ++balloon.count;
    // The notification area of this desktop shows balloons as desktop notifications, always silent.
    wxNotificationMessage notice(wxString::FromUTF8(h), wxString::FromUTF8(t));
    const unsigned kind = static_cast<unsigned>(iconFlags) & 0x0F;
    notice.SetFlags(kind == NIIF_INFO ? wxICON_INFORMATION : kind == NIIF_WARNING ? wxICON_WARNING
                                                         : kind == NIIF_ERROR   ? wxICON_ERROR
                                                                                : 0);
    return notice.Show(static_cast<int>((timeout + 999) / 1000));
}

bool TrayIcon::registerSystemHooks() {
    const HWND hwnd = windowHandle();
    if (!savedTrayWindowProc) {
        log("Overriding the WindowProc...");
        // Hotkey, session and power messages arrive on the platform's threads; handed to the GUI thread.
        tarvelo_platform::setSystemMessageHandler([](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            if (wxTheApp)
                wxTheApp->CallAfter([=] { TrayIcon::trayWindowProc(window, message, wParam, lParam); });
        });
        savedTrayWindowProc = &g_defaultProcMarker;
    }
    log("Registering to session notifications...");
    WTSRegisterSessionNotification(hwnd, NOTIFY_FOR_THIS_SESSION);
    log("Registering the Alt+L hotkey...");
    return RegisterHotKey(hwnd, HOTKEY_ID_LOCK, MOD_ALT, 0x4C) != FALSE;
}

void TrayIcon::unregisterSystemHooks() {
    const HWND hwnd = windowHandle();
    log("Unregistering the Alt+L hotkey...");
    UnregisterHotKey(hwnd, HOTKEY_ID_LOCK);
    log("Unregistering from session notifications...");
    WTSUnRegisterSessionNotification(hwnd);
}

void TrayIcon::enable() {
    log("Enabling the systray icon...");
    enabled = true;
    registerSystemHooks();
}

void TrayIcon::disable() {
    log("Disabling the systray icon...");
    enabled = false;
    unregisterSystemHooks();
}

LRESULT TrayIcon::trayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    for (TrayIcon* icon : g_icons) {
        if (window == HWND_BROADCAST || icon->windowHandle() == window)
            handled = icon->handleMessage(message, wParam) || handled;
    }
    return handled ? 1 : defaultTrayProc(window, message, wParam, lParam);
}

bool TrayIcon::handleMessage(UINT message, WPARAM wParam) {
    Logger* logger = this->logger();
    switch (message) {
    case WM_HOTKEY:
        if (host.lockOffered()) {
            log("Event: Hotkey Alt+L received");
            LogIndent indent(logger);
            host.lockSession(false);
        }
        return true;
    case WM_POWERBROADCAST:
        if (wParam == 6 || wParam == 7) {
            log("Event: WM_POWERBROADCAST, Resuming");
            LogIndent indent(logger);
            host.onResume();
            return true;
        }
        if (wParam == 0 || wParam == 4) {
            log("Event: WM_POWERBROADCAST, Suspend");
            LogIndent indent(logger);
            host.onSuspend();
            return true;
        }
        break;
    case WM_WTSSESSION_CHANGE:
        if (wParam == 5 || wParam == 8) {
            log("Event: WM_WTSSESSION_CHANGE, Logon or Unlock");
            LogIndent indent(logger);
            host.onResume();
            return true;
        }
        if (wParam == 6 || wParam == 7) {
            log("Event: WM_WTSSESSION_CHANGE, Logoff or Lock");
            LogIndent indent(logger);
            host.onSuspend();
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}
