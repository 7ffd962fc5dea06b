#pragma once
// Fatal library errors end the process with status -1 and print "\n$ Error: <text>\n\n" on standard
// output; the child sends standard output to standard error so that the death test can read it.
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fatal {

inline std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

inline std::string pattern(const std::string& text) { return "\n\\$ Error: " + escape(text) + "\n\n"; }

}  // namespace fatal

#define EXPECT_FATAL(statement, text)                                                       \
    EXPECT_EXIT(                                                                            \
        {                                                                                   \
            dup2(2, 1);                                                                     \
            statement;                                                                      \
        },                                                                                  \
        ::testing::ExitedWithCode(255), fatal::pattern(text))
