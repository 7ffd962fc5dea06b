#pragma once
// The shipped PAM service "tarvelo" set up for PAM's test wrapper: the wrapper redirects the
// service file but not its includes, so the common-auth and common-account that it includes are
// answered by pam_matrix from a password file of the test ("user:password:service" lines).
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pamtest {

// Writes the service folder into dir; returns the number of includes replaced (0: the shipped
// file could not be read). moreAuth and moreAccount are lines put after pam_matrix in the two
// stacks (each line ending in a newline).
inline int writeServiceFolder(const std::string& dir, const std::string& shippedFile, const std::string& moduleDir,
                              const std::string& passdb, const std::string& moreAuth = "",
                              const std::string& moreAccount = "") {
    const std::string matrix = moduleDir + "/pam_matrix.so passdb=" + dir + "/passdb";
    const std::map<std::string, std::string> included = {
        {"common-auth", "auth required " + matrix + "\n" + moreAuth},
        {"common-account", "account required " + matrix + "\n" + moreAccount}};
    std::ifstream shipped(shippedFile);
    if (!shipped) return 0;
    std::ofstream service(dir + "/tarvelo");
    int includes = 0;
    for (std::string line; std::getline(shipped, line);) {
        if (line.compare(0, 9, "@include ") == 0) {
            auto it = included.find(line.substr(9));
            if (it == included.end()) return 0;
            line = it->second;
            ++includes;
        }
        service << line << (line.empty() || line.back() != '\n' ? "\n" : "");
    }
    std::ofstream(dir + "/other") << "auth required pam_deny.so\naccount required pam_deny.so\n";
    std::ofstream(dir + "/passdb") << passdb;
    return includes;
}

// The environment a process needs to run its PAM calls through the wrapper and that folder. The
// wrapper must be preloaded from the start; the sanitizers' runtimes tolerate it beside them, but not
// its deep binding of libpam (the wrapper reads this variable under uid_wrapper's name).
inline std::vector<std::pair<std::string, std::string>> environment(const std::string& dir,
                                                                    const std::string& wrapperLibrary) {
    std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
    asan += std::string(asan.empty() ? "" : ":") + "verify_asan_link_order=0";
    return {{"PAM_WRAPPER", "1"},
            {"PAM_WRAPPER_SERVICE_DIR", dir},
            {"LD_PRELOAD", wrapperLibrary},
            {"ASAN_OPTIONS", asan},
            {"UID_WRAPPER_DISABLE_DEEPBIND", "1"}};
}

}  // namespace pamtest
