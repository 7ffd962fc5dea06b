// The account name and the password check.
#include "platform/kernel.h"
#include "platform/kernel_handles.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include <pwd.h>
#include <security/pam_appl.h>
#include <shadow.h>
#include <unistd.h>

using namespace tarvelo_platform;

namespace {

struct TokenObject : KernelObject {
    std::string user;
    explicit TokenObject(std::string u) : KernelObject(Token), user(std::move(u)) {}
};

struct Credentials {
    const char* user;
    const char* password;
};

// Answers PAM's prompts: hidden prompts get the password, visible ones the user name.
int conversation(int count, const pam_message** messages, pam_response** responses, void* data) {
    auto* credentials = static_cast<Credentials*>(data);
    auto* replies = static_cast<pam_response*>(calloc(size_t(count), sizeof(pam_response)));
    if (!replies) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const char* answer = nullptr;
        switch (messages[i]->msg_style) {
        case PAM_PROMPT_ECHO_OFF: answer = credentials->password; break;
        case PAM_PROMPT_ECHO_ON: answer = credentials->user; break;
        default: break;
        }
        if (answer) {
            replies[i].resp = strdup(answer);
            if (!replies[i].resp) {
                for (int k = 0; k < i; ++k) free(replies[k].resp);
                free(replies);
                return PAM_BUF_ERR;
            }
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

// A rejected password of a local account whose shadow entry holds no password that can match:
// Debian's stacks end every failed authentication in pam_deny, so PAM alone cannot tell a locked
// account from a wrong password. Only where the entry can be read (root); 0 when it tells nothing.
DWORD unusableLocalPassword(const char* user) {
    std::vector<char> scratch(16384);
    spwd entry;
    spwd* found = nullptr;
    if (getspnam_r(user, &entry, scratch.data(), scratch.size(), &found) != 0 || !found || !found->sp_pwdp)
        return 0;
    const std::string hash = found->sp_pwdp;
    if (hash.empty()) return 0;  // no password at all: an empty field is what opens it
    if (hash[0] == '!') return ERROR_ACCOUNT_LOCKED_OUT;
    if (hash[0] == '$') return 0;
    // The traditional DES form: 13 characters of its alphabet.
    const bool des = hash.size() == 13 && hash.find_first_not_of("./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                  "abcdefghijklmnopqrstuvwxyz") == std::string::npos;
    return des ? 0 : ERROR_ACCOUNT_DISABLED;
}

// The Windows error of a failed PAM step.
DWORD logonError(int result, const char* user) {
    switch (result) {
    case PAM_AUTH_ERR: {
        const DWORD unusable = unusableLocalPassword(user);
        return unusable ? unusable : ERROR_LOGON_FAILURE;
    }
    case PAM_USER_UNKNOWN:
    case PAM_CRED_INSUFFICIENT:
        return ERROR_LOGON_FAILURE;
    case PAM_MAXTRIES:
        return ERROR_ACCOUNT_LOCKED_OUT;
    case PAM_ACCT_EXPIRED:
        return ERROR_ACCOUNT_EXPIRED;
    case PAM_AUTHTOK_EXPIRED:
        return ERROR_PASSWORD_EXPIRED;
    case PAM_NEW_AUTHTOK_REQD:
        return ERROR_PASSWORD_MUST_CHANGE;
    case PAM_PERM_DENIED:
        return ERROR_LOGON_NOT_GRANTED;
    case PAM_BUF_ERR:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:  // the service itself cannot check: a module missing or failing, no data to check against
        return ERROR_NO_LOGON_SERVERS;
    }
}

}  // namespace

extern "C" {

BOOL GetUserNameExA(EXTENDED_NAME_FORMAT format, LPSTR buffer, PULONG size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (format != NameSamCompatible) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    std::vector<char> scratch(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found) != 0 || !found) {
        SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
        return FALSE;
    }
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = 0;
    std::string domain = host;
    domain = domain.substr(0, domain.find('.'));
    for (char& c : domain) c = char(std::toupper(static_cast<unsigned char>(c)));
    std::string name = domain + "\\" + found->pw_name;
    if (!buffer || *size < name.size() + 1) {
        *size = ULONG(name.size() + 1);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = ULONG(name.size());
    return TRUE;
}

BOOL LogonUserA(LPCSTR user, LPCSTR, LPCSTR password, DWORD, DWORD, PHANDLE token) {
    if (token) *token = nullptr;
    if (!user || !*user || !password || !token) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Credentials credentials{user, password};
    pam_conv conv{conversation, &credentials};
    pam_handle_t* pam = nullptr;
    // pam_start fails when neither the service nor the "other" policy can be read.
    if (const int started = pam_start("tarvelo", user, &conv, &pam); started != PAM_SUCCESS) {
        SetLastError(started == PAM_BUF_ERR ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    // An empty password is let through only to learn whether the account has none (the service's
    // policy decides, pam_unix "nullok"): that is reported as Windows reports a blank password,
    // ERROR_ACCOUNT_RESTRICTION, and never as a logon.
    const bool empty = !*password;
    int rc = pam_authenticate(pam, PAM_SILENT | (empty ? 0 : PAM_DISALLOW_NULL_AUTHTOK));
    if (rc == PAM_SUCCESS) rc = pam_acct_mgmt(pam, PAM_SILENT);
    pam_end(pam, rc);
    if (rc != PAM_SUCCESS) {
        SetLastError(logonError(rc, user));
        return FALSE;
    }
    if (empty) {
        SetLastError(ERROR_ACCOUNT_RESTRICTION);
        return FALSE;
    }
    *token = registerHandle(new TokenObject(user));
    return TRUE;
}

}  // extern "C"
