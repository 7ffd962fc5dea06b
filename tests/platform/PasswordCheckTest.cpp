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


TEST(PasswordCheck, ShippedServiceAcceptsOnlyTheAccountsOwnPassword) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    if (!fresh_process::inside()) {
        char folder[] = "/tmp/tarvelo-pam-XXXXXX";
        ASSERT_TRUE(mkdtemp(folder));
        const std::string dir = folder;
        EXPECT_EQ(pamtest::writeServiceFolder(dir, TARVELO_PAM_SERVICE_FILE, TARVELO_PAM_MODULE_DIR,
                                              "alice:s3cret word:tarvelo\nnopass::tarvelo\nbob:secret:sshd\n"),
                  2)
            << "the service authenticates and checks the account";
        std::vector<std::pair<std::string, std::string>> env = pamtest::environment(dir, TARVELO_PAM_WRAPPER_LIBRARY);
        EXPECT_EQ(fresh_process::run("PasswordCheck.*", env), 0)
            << "the checks under the wrapper failed (see above)";
        (void)std::system(("rm -rf '" + dir + "'").c_str());
        return;
    }
    struct Case {
        const char* user;
        const char* password;
        bool logsOn;
        DWORD error;
    };
    const Case cases[] = {
        {"alice", "s3cret word", true, ERROR_SUCCESS},
        {"alice", "s3cret wor", false, ERROR_LOGON_FAILURE},
        {"alice", "S3cret word", false, ERROR_LOGON_FAILURE},
        {"alice", "", false, ERROR_LOGON_FAILURE},                // Enter on an empty field, with a password
        {"nopass", "", false, ERROR_ACCOUNT_RESTRICTION},         // the account has none: told, not logged on
        {"nopass", "x", false, ERROR_LOGON_FAILURE},
        {"bob", "secret", false, ERROR_LOGON_FAILURE},            // right password, account not for this service
        {"carol", "s3cret word", false, ERROR_LOGON_FAILURE},     // no such account
    };
    for (const Case& c : cases) {
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
#endif
}

}  // namespace
