#pragma once
// Helpers shared by the detection tests: fatal-error checks and message capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "visionlib/Message.h"

// The library prints fatal errors on standard output; death tests read standard error.
#define EXPECT_FATAL(statement, regex)                   \
    EXPECT_EXIT(                                         \
        {                                                \
            ::dup2(2, 1);                                \
            statement;                                   \
        },                                               \
        ::testing::ExitedWithCode(255), regex)

// Collects every text the library prints while it lives, without the standard-output copies.
class CapturedMessages : public vision::MessageHandler {
public:
    std::string printed, warnings, errors;
    CapturedMessages() : vision::MessageHandler(true) {}
    void error(const char* text) override { errors += text; }
    void warning(const char* text) override { warnings += text; }
    void message(const char* text) override {}
    void print(const char* text) override { printed += text; }
};
