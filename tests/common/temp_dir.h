#pragma once
// Unique folders for test files, so that test runs can share a machine: each is made with mkdtemp
// under $TMPDIR (or /tmp) and removed with everything in it when it goes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace testutil {

class TempDir {
public:
    explicit TempDir(const std::string& tag = "tarvelo") {
        const char* env = std::getenv("TMPDIR");
        std::string pattern = std::string(env && *env ? env : "/tmp") + "/" + tag + "-XXXXXX";
        for (char& c : pattern)
            if (c == '\\') c = '_';
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()))
            path = name.data();
        else
            ADD_FAILURE() << "cannot make a folder " << pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }

    std::string path;  // empty when the folder could not be made
};

// A unique folder named after the running test that lives until the test program ends, for helpers
// that hand back a path rather than an owner.
inline std::string scratchDir(const std::string& tag = "") {
    static std::vector<std::unique_ptr<TempDir>> kept;
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = t ? std::string(t->test_suite_name()) + "_" + t->name() + tag : "tarvelo" + tag;
    for (char& c : name)
        if (c == '/') c = '_';
    kept.push_back(std::make_unique<TempDir>(name));
    return kept.back()->path;
}

}  // namespace testutil
