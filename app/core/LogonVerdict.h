#pragma once
// What the system's answer to a typed password means: whether it opens (the right password, or Enter
// on the empty field of an account that has none), and otherwise the sentence that says why not. The
// unlock screen and the enrollment page show the same sentences.
#include <string>

#include "platform/windows_types.h"

struct LogonVerdict {
    bool opens = false;
    bool withoutPassword = false;  // opened as an account without a password
    std::string text;              // when it does not open: the message box's text
    std::string caption;           // and its title
    std::string logLine;           // and why, for the log; "" for a wrong password
};

// loggedOn and error: what the logon check (LogonUserA) returned and left in GetLastError.
LogonVerdict judgeLogon(bool loggedOn, DWORD error, bool typedEmpty);
