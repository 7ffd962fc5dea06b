#include "app/core/LogonVerdict.h"

#include "platform/kernel.h"

namespace {

struct Refusal {
    DWORD error;
    const char* text;
    const char* caption;
};

// A wrong password, and whatever the system reports that no other row names, reads as before.
const Refusal kRefusals[] = {
    {ERROR_ACCOUNT_LOCKED_OUT,
     "Your account is locked: the system accepts no password for it until an administrator unlocks it.",
     "Account locked"},
    {ERROR_ACCOUNT_DISABLED,
     "Your account has no password that the system can check: give it one (passwd) to log in with it.",
     "No usable password"},
    {ERROR_ACCOUNT_EXPIRED,
     "Your account has expired: the system accepts no password for it until an administrator renews it.",
     "Account expired"},
    {ERROR_PASSWORD_EXPIRED, "Your password has expired: change it (passwd) from another session to log in with it.",
     "Password expired"},
    {ERROR_PASSWORD_MUST_CHANGE,
     "Your password must be changed before it can be used: change it (passwd) from another session.",
     "Password expired"},
    {ERROR_LOGON_NOT_GRANTED,
     "The system does not let your account log in through Tarvelo (the PAM service \"tarvelo\" refuses it).",
     "Logon not allowed"},
    {ERROR_NO_LOGON_SERVERS,
     "Your password cannot be checked: the system's password service for Tarvelo (the PAM service \"tarvelo\") "
     "does not work.",
     "Password not checked"},
    {ERROR_SERVICE_DOES_NOT_EXIST,
     "Your password cannot be checked: the PAM service \"tarvelo\" is not installed and the system has no default "
     "one. Ask your administrator to install it (see the README).",
     "Password not checked"},
    {ERROR_NOT_ENOUGH_MEMORY, "Your password cannot be checked now: the system is out of memory.",
     "Password not checked"},
};

}  // namespace

LogonVerdict judgeLogon(bool loggedOn, DWORD error, bool typedEmpty) {
    LogonVerdict verdict;
    if (loggedOn) {
        verdict.opens = true;
        return verdict;
    }
    // The system's answer for an account without a password, to Enter on the empty field only.
    if (error == ERROR_ACCOUNT_RESTRICTION && typedEmpty) {
        verdict.opens = verdict.withoutPassword = true;
        return verdict;
    }
    verdict.text = "The password you entered is invalid";
    verdict.caption = "Invalid password";
    for (const Refusal& r : kRefusals)
        if (r.error == error) {
            verdict.text = r.text;
            verdict.caption = r.caption;
            verdict.logLine = "ERROR: The account cannot log on (error " + std::to_string(error) + "): " + r.text;
        }
    return verdict;
}
