// The password check end to end through PAM: PAM's test wrapper stands in for /etc/pam.d and the
// shipped service file "tarvelo" runs as installed, except that the common-auth and common-account
// it includes are answered by pam_matrix from a password file that the test writes. (The wrapper
// redirects the service file but not its includes, so the test puts them in place itself.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include <unistd.h>

#include "fresh_process.h"
#include "pam_test_service.h"
#include "platform/kernel.h"

namespace {

struct Case {
    const char* user;
    const char* password;
    bool logsOn;
    DWORD error;
};

void expectLogons(const Case* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.user) + " / '" + c.password + "'");
        HANDLE token = reinterpret_cast<HANDLE>(1);
        SetLastError(0xDEAD);
        const BOOL ok = LogonUserA(c.user, ".", c.password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token);
        EXPECT_EQ(ok != FALSE, c.logsOn);
        if (ok) {
            EXPECT_NE(token, nullptr);
            EXPECT_TRUE(CloseHandle(token));
        } else {
            EXPECT_EQ(token, nullptr);
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

#ifdef TARVELO_PAM_WRAPPER_LIBRARY
// Runs that test again in a process whose PAM goes through the wrapper to a service folder made by
// write (given the folder); the exit status of the run. libpam itself keeps a little of a pam_start
// that fails: the leak checker is told to let that one library be (ours is still checked).
template <typename Write>
int underWrapper(const std::string& test, Write write, bool startFails = false) {
    char folder[] = "/tmp/tarvelo-pam-XXXXXX";
    if (!mkdtemp(folder)) return -1;
    const std::string dir = folder;
    write(dir);
    auto environment = pamtest::environment(dir, TARVELO_PAM_WRAPPER_LIBRARY);
    if (startFails) {
        std::ofstream(dir + "/lsan.supp") << "leak:libpam.so\n";
        const char* options = getenv("LSAN_OPTIONS");
        environment.emplace_back("LSAN_OPTIONS", std::string(options && *options ? options : "") +
                                                     (options && *options ? ":" : "") + "suppressions=" + dir +
                                                     "/lsan.supp");
    }
    const int status = fresh_process::run("PasswordCheck." + test, environment);
    (void)std::system(("rm -rf '" + dir + "'").c_str());
    return status;
}
#endif

TEST(PasswordCheck, ShippedServiceAcceptsOnlyTheAccountsOwnPassword) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    if (!fresh_process::inside()) {
        EXPECT_EQ(underWrapper("ShippedServiceAcceptsOnlyTheAccountsOwnPassword",
                               [](const std::string& dir) {
                                   EXPECT_EQ(pamtest::writeServiceFolder(
                                                 dir, TARVELO_PAM_SERVICE_FILE, TARVELO_PAM_MODULE_DIR,
                                                 "alice:s3cret word:tarvelo\nnopass::tarvelo\nbob:secret:sshd\n"),
                                             2)
                                       << "the service authenticates and checks the account";
                               }),
                  0)
            << "the checks under the wrapper failed (see above)";
        return;
    }
    const Case cases[] = {
        {"alice", "s3cret word", true, ERROR_SUCCESS},
        {"alice", "s3cret wor", false, ERROR_LOGON_FAILURE},
        {"alice", "S3cret word", false, ERROR_LOGON_FAILURE},
        {"alice", "", false, ERROR_LOGON_FAILURE},                // Enter on an empty field, with a password
        {"nopass", "", false, ERROR_ACCOUNT_RESTRICTION},         // the account has none: told, not logged on
        {"nopass", "x", false, ERROR_LOGON_FAILURE},
        {"bob", "secret", false, ERROR_LOGON_NOT_GRANTED},        // right password, account not for this service
        {"carol", "s3cret word", false, ERROR_LOGON_FAILURE},     // no such account
    };
    expectLogons(cases, std::size(cases));
#endif
}

// What PAM says of an account that it cannot log on reaches the caller as its own error; a wrong
// password stays a wrong password, whatever the account's state.
TEST(PasswordCheck, AnAccountThatCannotLogOnSaysWhy) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    // pam_debug returns what it is told, for one user each.
    const auto forUser = [](const char* stack, const char* user, const char* result) {
        return std::string(stack) + " [success=ignore default=1] pam_succeed_if.so quiet user = " + user + "\n" + stack +
               " requisite pam_debug.so " + (std::string(stack) == "auth" ? "auth=" : "acct=") + result + "\n";
    };
    if (!fresh_process::inside()) {
        EXPECT_EQ(underWrapper("AnAccountThatCannotLogOnSaysWhy",
                               [&](const std::string& dir) {
                                   std::string passdb;
                                   for (const char* user : {"locked", "cannot", "broken", "expired", "aged", "renew",
                                                            "denied", "nopass"})
                                       passdb += std::string(user) + (std::string(user) == "nopass" ? "::" : ":pw:") +
                                                 "tarvelo\n";
                                   EXPECT_EQ(pamtest::writeServiceFolder(
                                                 dir, TARVELO_PAM_SERVICE_FILE, TARVELO_PAM_MODULE_DIR, passdb,
                                                 forUser("auth", "locked", "maxtries") +
                                                     forUser("auth", "cannot", "authinfo_unavail") +
                                                     forUser("auth", "broken", "system_err"),
                                                 forUser("account", "expired", "acct_expired") +
                                                     forUser("account", "aged", "authtok_expired") +
                                                     forUser("account", "renew", "new_authtok_reqd") +
                                                     forUser("account", "denied", "perm_denied") +
                                                     forUser("account", "nopass", "acct_expired")),
                                             2);
                               }),
                  0)
            << "the checks under the wrapper failed (see above)";
        return;
    }
    const Case cases[] = {
        {"locked", "pw", false, ERROR_ACCOUNT_LOCKED_OUT},
        {"cannot", "pw", false, ERROR_NO_LOGON_SERVERS},
        {"broken", "pw", false, ERROR_NO_LOGON_SERVERS},
        {"expired", "pw", false, ERROR_ACCOUNT_EXPIRED},
        {"expired", "wrong", false, ERROR_LOGON_FAILURE},  // the state is told only to the right password
        {"aged", "pw", false, ERROR_PASSWORD_EXPIRED},
        {"renew", "pw", false, ERROR_PASSWORD_MUST_CHANGE},
        {"denied", "pw", false, ERROR_LOGON_NOT_GRANTED},
        {"nopass", "", false, ERROR_ACCOUNT_EXPIRED},  // an expired account without password opens nothing
    };
    expectLogons(cases, std::size(cases));
#endif
}

TEST(PasswordCheck, WithoutTheServiceAndTheSystemPolicyTheServiceIsMissing) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    if (!fresh_process::inside()) {
        // An empty folder: neither "tarvelo" nor "other".
        EXPECT_EQ(underWrapper("WithoutTheServiceAndTheSystemPolicyTheServiceIsMissing", [](const std::string&) {}, true),
                  0);
        return;
    }
    const Case cases[] = {{"alice", "s3cret word", false, ERROR_SERVICE_DOES_NOT_EXIST}};
    expectLogons(cases, std::size(cases));
#endif
}

}  // namespace
