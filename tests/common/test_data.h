#pragma once
// Where tests find the shared face data and the shipped models.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace testdata {

inline std::string dataDir() {
    const char* env = std::getenv("TARVELO_DATA");
    return env && *env ? env : TARVELO_DATA_DIR;
}

inline std::string modelsDir() { return TARVELO_MODELS_DIR; }

inline bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace testdata

// Skips the current test, saying why, when a folder of the shared data is absent.
#define REQUIRE_DATA(sub)                                                              \
    do {                                                                               \
        if (!testdata::exists(testdata::dataDir() + "/" + (sub)))                      \
            GTEST_SKIP() << "face data folder absent: " << testdata::dataDir() << "/" << (sub); \
    } while (0)
