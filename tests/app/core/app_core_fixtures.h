#pragma once
// The program core on folders of the test's own: a user data folder and a working folder under a
// fresh temporary folder, and a recording logger.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "app/core/SessionGuardCore.h"
#include "tests/common/app_fixtures.h"
#include "visionlib/DiskXFile.h"
#include "read_file.h"

using testutil::readFile;

class TestCore : public SessionGuardCore {
public:
    std::string dataDir;
    std::string baseUserDataDir() override { return dataDir; }
};

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A world (or user) model file: two Gaussians on the 18 DCT-mod2 features, equal weights, means
// -mean and mean, variances variance and twice it. The user models enrolled on it keep its weights
// and variances.
inline void writeMixture(const std::string& path, float variance = 1.0f, float mean = 1.0f) {
    vision::DiskXFile file(path.c_str(), "w");
    int g = 2, d = 18;
    file.taggedWrite(&g, 4, 1, "n_gaussians");
    file.taggedWrite(&d, 4, 1, "n_inputs");
    std::vector<float> params(2, std::log(0.5f));
    for (int k = 0; k < g; ++k) {
        for (int j = 0; j < d; ++j) params.push_back(k ? mean : -mean);
        for (int j = 0; j < d; ++j) params.push_back(variance * (k + 1));
    }
    file.taggedWrite(params.data(), 4, int(params.size()), "PARAMS");
}

inline bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

inline mode_t modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

// Changes into a fresh working folder for the test and back again after it.
class AppCoreTest : public ::testing::Test {
protected:
    std::string root, work, previous;
    TestCore core;
    RecordingLogger logger;

    void SetUp() override {
        char tmpl[] = "/tmp/tarvelo-app-XXXXXX";
        root = mkdtemp(tmpl);
        work = root + "/work";
        ::mkdir(work.c_str(), 0755);
        char cwd[4096];
        previous = getcwd(cwd, sizeof cwd) ? cwd : "/";
        ASSERT_EQ(chdir(work.c_str()), 0);
        core.dataDir = root + "/Tarvelo";
        core.logger = &logger;
        setenv("TARVELO_REGISTRY_DIR", (root + "/registry").c_str(), 1);
    }
    void TearDown() override {
        if (!previous.empty()) (void)!chdir(previous.c_str());
        unsetenv("TARVELO_REGISTRY_DIR");
        std::string cmd = "rm -rf " + root;
        (void)!system(cmd.c_str());
    }
};
