// Idle time and the screen-saver setting on X11 (the XScreenSaver extension and the server's
// screen-saver timeout).
#include "platform/kernel.h"
#include "platform/user.h"
#include "platform/x11_display.h"

#include <X11/extensions/scrnsaver.h>

using tarvelo_platform::x11::Connection;

extern "C" {

BOOL GetLastInputInfo(PLASTINPUTINFO info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Connection c("GetLastInputInfo");
    if (!c) return FALSE;
    int eventBase, errorBase;
    if (!XScreenSaverQueryExtension(c.display, &eventBase, &errorBase)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    XScreenSaverInfo* ss = XScreenSaverAllocInfo();
    if (!ss) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Status ok = XScreenSaverQueryInfo(c.display, DefaultRootWindow(c.display), ss);
    unsigned long idle = ss->idle;
    XFree(ss);
    if (!ok) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    info->dwTime = GetTickCount() - DWORD(idle);
    return TRUE;
}

BOOL SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT) {
    if (action != SPI_GETSCREENSAVEACTIVE && action != SPI_SETSCREENSAVEACTIVE && action != SPI_GETSCREENSAVERRUNNING) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (action != SPI_SETSCREENSAVEACTIVE && !pvParam) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Connection c("SystemParametersInfoA");
    if (!c) return FALSE;
    int timeout, interval, blanking, exposures;
    XGetScreenSaver(c.display, &timeout, &interval, &blanking, &exposures);
    if (action == SPI_GETSCREENSAVEACTIVE) {
        *static_cast<BOOL*>(pvParam) = timeout != 0 ? TRUE : FALSE;
        return TRUE;
    }
    if (action == SPI_GETSCREENSAVERRUNNING) {
        XScreenSaverInfo* ss = XScreenSaverAllocInfo();
        int eventBase, errorBase;
        bool running = false;
        if (ss && XScreenSaverQueryExtension(c.display, &eventBase, &errorBase) &&
            XScreenSaverQueryInfo(c.display, DefaultRootWindow(c.display), ss))
            running = ss->state == ScreenSaverOn;
        if (ss) XFree(ss);
        *static_cast<BOOL*>(pvParam) = running ? TRUE : FALSE;
        return TRUE;
    }
    HKEY key = nullptr;
    LONG opened = RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key);
    if (uiParam) {
        if (timeout == 0) {
            DWORD saved = 600, size = sizeof saved, type = 0;
            if (opened == LONG(ERROR_SUCCESS) &&
                (RegQueryValueExA(key, "ScreenSaveTimeOut", nullptr, &type, reinterpret_cast<BYTE*>(&saved),
                                  &size) != LONG(ERROR_SUCCESS) ||
                 type != REG_DWORD || saved == 0 || saved > 0x7FFF))
                saved = 600;
            XSetScreenSaver(c.display, int(saved), interval, blanking, exposures);
        }
    } else if (timeout != 0) {
        if (opened == LONG(ERROR_SUCCESS)) {
            DWORD keep = DWORD(timeout);
            RegSetValueExA(key, "ScreenSaveTimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&keep), 4);
        }
        XSetScreenSaver(c.display, 0, interval, blanking, exposures);
    }
    if (key) RegCloseKey(key);
    XSync(c.display, False);
    return TRUE;
}

}  // extern "C"
