// Runs one test again in a process of its own: for process-wide platform state that a test must find
// new (the session watch), and for a library that must be preloaded from the start.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fresh_process {

// True inside the re-run.
inline bool inside() { return getenv("TARVELO_FRESH_PROCESS") != nullptr; }

// Re-runs the tests matching the filter with the extra environment; the exit status (128 + signal
// for a killed run).
inline int run(const std::string& filter, const std::vector<std::pair<std::string, std::string>>& environment) {
    pid_t child = fork();
    if (child == 0) {
        setenv("TARVELO_FRESH_PROCESS", "1", 1);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        const std::string option = "--gtest_filter=" + filter;
        char self[] = "/proc/self/exe";
        char* argv[] = {self, const_cast<char*>(option.c_str()), nullptr};
        execv(self, argv);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace fresh_process
