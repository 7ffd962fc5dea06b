#pragma once
// The product's fixed names, shared by every source file of the program, and the numbers of the
// notifications that the worker objects and the filter listeners send to the windows and to the
// application object.
#include <cstdint>

// Indices into kProductConstants.
enum ProductConstant {
    PC_LOCK_DESKTOP = 0,       // the separate desktop of the unlock screen
    PC_EXECUTABLE = 1,         // started with "--lock" on that desktop
    PC_PRODUCT = 2,            // configuration file, configuration application name, message texts
    PC_TITLE = 3,              // balloon and dialog titles, tray tooltip, help page, version line
    PC_VERSION = 4,
    PC_VENDOR = 5,
    PC_VENDOR_URL = 6,
    PC_VENDOR_MAIL = 7,
    PC_MUTEX_TRAY = 8,
    PC_MUTEX_UNLOCK = 9,
    PC_SETTINGS_TITLE = 10,
    PC_LOGO = 11,
    PC_LICENSE = 12,
    PC_REFERENCE_CONFIG = 13,
    PC_USERINFO_SUFFIX = 14,
};

extern const char* const kProductConstants[15];

// Log files and the batch file of the working folder.
extern const char* const kTrayLogFile;    // "Tarvelo.log"
extern const char* const kUnlockLogFile;  // "Tarvelo_unlock.log"
extern const char* const kRegisterBatch;  // "register.bat"

// Exit statuses of the unlock-screen instance. Only these two tell the tray instance that the
// screen was opened; any other end (another status, a signal, a failed start) leaves the session
// locked and a new unlock screen is started.
constexpr int kUnlockedByFace = 0;
constexpr int kUnlockedByPassword = 86;
// Every other end of the unlock-screen instance: a close that was not an unlock, a forced end.
constexpr int kStillLocked = 1;

// The icons of a balloon of the tray icon.
constexpr unsigned NIIF_INFO = 0x1;
constexpr unsigned NIIF_WARNING = 0x2;
constexpr unsigned NIIF_ERROR = 0x3;
constexpr unsigned NIIF_NOSOUND = 0x10;
