#pragma once
// Where tests find the shared face data and the shipped models.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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

// A number of the shipped reference configuration ("Key=value" in any group); fallback when absent.
inline double referenceValue(const std::string& key, double fallback) {
    std::ifstream in(TARVELO_REFERENCE_CONFIG);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + "=") == 0) return std::atof(line.c_str() + key.size() + 1);
    return fallback;
}

}  // namespace testdata

// Skips the current test, saying why, when a folder of the shared data is absent.
#define REQUIRE_DATA(sub)                                                              \
    do {                                                                               \
        if (!testdata::exists(testdata::dataDir() + "/" + (sub)))                      \
            GTEST_SKIP() << "face data folder absent: " << testdata::dataDir() << "/" << (sub); \
    } while (0)
