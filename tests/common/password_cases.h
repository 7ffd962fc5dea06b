#pragma once
// The password verdicts of the unlock screen, shared by its windowless test and its dialog's test.
#include "platform/windows_types.h"

struct PasswordCase {
    bool logon;     // what the logon check answers
    DWORD error;    // its error code when it refuses
    const char* typed;
    bool unlocks;
    const char* line;     // what the screen logs
    const char* refusal;  // when it stays locked: the start of the message box's text
};

// 1326 is a wrong password; 1327 (ERROR_ACCOUNT_RESTRICTION) opens only with the field empty: an
// account without a password. The others are the account, not the password: the box says what
// stands in the way.
inline const PasswordCase kPasswordCases[] = {
    {false, 1326, "wrong", false, "The password isn't valid", "The password you entered is invalid"},
    {false, 1327, "", true, "The user don't have any password", ""},
    {false, 1327, "typed", false, "The password isn't valid", "The password you entered is invalid"},
    {false, 1326, "", false, "The password isn't valid", "The password you entered is invalid"},
    {true, 0, "right", true, "The password is valid", ""},
    {false, 1909, "right", false, "The password isn't valid", "Your account is locked"},
    {false, 1330, "right", false, "The password isn't valid", "Your password has expired"},
    {false, 1060, "right", false, "The password isn't valid", "Your password cannot be checked"},
};
