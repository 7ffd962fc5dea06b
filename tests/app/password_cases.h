#pragma once
// The password verdicts of the unlock screen, shared by its windowless test and its dialog's test.
#include "platform/windows_types.h"

struct PasswordCase {
    bool logon;     // what the logon check answers
    DWORD error;    // its error code when it refuses
    const char* typed;
    bool unlocks;
    const char* line;  // what the screen logs
};

// 1326 is a wrong password; 1327 (ERROR_ACCOUNT_RESTRICTION) opens only with the field empty: an
// account without a password.
inline const PasswordCase kPasswordCases[] = {
    {false, 1326, "wrong", false, "The password isn't valid"},
    {false, 1327, "", true, "The user don't have any password"},
    {false, 1327, "typed", false, "The password isn't valid"},
    {false, 1326, "", false, "The password isn't valid"},
    {true, 0, "right", true, "The password is valid"},
};
