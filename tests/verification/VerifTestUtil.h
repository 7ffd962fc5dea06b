#pragma once
// Shared helpers of the verification tests: temporary folders, file contents, captured messages and
// fatal-error checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "temp_dir.h"
#include <sys/stat.h>
#include <unistd.h>

#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "read_file.h"

using testutil::readFile;

// The library prints its fatal message on standard output; the child sends it to standard error
// so the death test can match it. error() ends the process with -1, seen as 255.
#define EXPECT_FATAL(statement, regex)                                                      \
    EXPECT_EXIT(                                                                            \
        {                                                                                   \
            fflush(stdout);                                                                 \
            dup2(2, 1);                                                                     \
            statement;                                                                      \
        },                                                                                  \
        ::testing::ExitedWithCode(255), regex)

namespace verif_test {

// A textured gray frame (values 0..255, whole numbers as a camera gives them) that differs by seed.
inline void fillFrame(vision::Sequence* frame, int width, int height, int seed) {
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            frame->frames[0][y * width + x] = (vision::real)(int)(127.5 +
                60 * std::sin(x / (5.0 + seed)) * std::cos(y / 7.0) + 40 * std::sin((x + y + seed) / 3.0));
}

using TempDir = testutil::TempDir;

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline int fileMode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (int)(st.st_mode & 0777) : -1;
}

// Collects what the library prints, without echoing it.
class CapturedMessages : public vision::MessageHandler {
public:
    CapturedMessages() : vision::MessageHandler(true) {}
    void error(const char* text) override { errors += text; }
    void warning(const char* text) override { warnings += text; }
    void message(const char* text) override { messages += text; }
    void print(const char* text) override { printed += text; }
    std::string errors, warnings, messages, printed;
};

}  // namespace verif_test
