#pragma once
// The library's only way to report: error (fatal), warning, message, print, and an optional handler.
#include <functional>
#include <string>

namespace vision {

// Prints "\n$ Error: %s\n\n" and ends the process with status -1 (inside runRecoverable: unwinds instead).
[[noreturn]] void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printProgress(int i, int n);

// Receives a copy of every text; a silent handler suppresses the standard-output copies.
class MessageHandler {
public:
    bool silent;
    explicit MessageHandler(bool silent = false);
    ~MessageHandler();
    MessageHandler(const MessageHandler&) = delete;
    MessageHandler& operator=(const MessageHandler&) = delete;

    virtual void error(const char* text) = 0;
    virtual void warning(const char* text) = 0;
    virtual void message(const char* text) = 0;
    virtual void print(const char* text) = 0;
};

// Runs fn; a fatal error() raised inside it on this thread makes it return false (and fills *errorText)
// instead of ending the process. Nested scopes are allowed; outside any scope error() ends the process.
bool runRecoverable(const std::function<void()>& fn, std::string* errorText = nullptr);

}  // namespace vision
