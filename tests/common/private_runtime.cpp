// Every test program gets a runtime folder of its own ($XDG_RUNTIME_DIR), which the programs it
// starts inherit: the single-instance names live there, so two test runs on one machine never see
// each other's instances.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct PrivateRuntime {
    std::string path;
    pid_t owner = ::getpid();
    PrivateRuntime() {
        const char* env = std::getenv("TMPDIR");
        std::string pattern = std::string(env && *env ? env : "/tmp") + "/tarvelo-runtime-XXXXXX";
        if (::mkdtemp(pattern.data())) {  // made 0700, as a runtime folder must be
            path = pattern;
            ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
        }
    }
    ~PrivateRuntime() {
        std::error_code ignored;
        if (!path.empty() && ::getpid() == owner) std::filesystem::remove_all(path, ignored);
    }
};

PrivateRuntime runtime;

}  // namespace
