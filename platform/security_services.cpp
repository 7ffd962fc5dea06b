// The account name and the password check.
#include "platform/kernel.h"
#include "platform/kernel_handles.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include <pwd.h>
#include <security/pam_appl.h>
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
    if (pam_start("tarvelo", user, &conv, &pam) != PAM_SUCCESS) {
        SetLastError(ERROR_LOGON_FAILURE);
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
        SetLastError(ERROR_LOGON_FAILURE);
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
