#include "app/core/ProductConstants.h"

const char* const kProductConstants[15] = {
    "TarveloDesktop",
    "Tarvelo.exe",
    "Tarvelo",
    "Tarvelo",
    "v1.3.0",
    "Orvanta",
    "http://www.orvanta.example",
    "tarvelo@orvanta.example",
    "Global\\Tarvelo_RunOnce",
    "Global\\Tarvelo_RunOnceUnlock",
    "Tarvelo",
    "Tarvelo_Logo.png",
    "TarveloLicense.rtf",
    "Tarvelo.cfg.backup",
    ".userinfo.txt",
};

const char* const kTrayLogFile = "Tarvelo.log";
const char* const kUnlockLogFile = "Tarvelo_unlock.log";
const char* const kRegisterBatch = "register.bat";
