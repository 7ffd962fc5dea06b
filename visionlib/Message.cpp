#include "visionlib/Message.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace vision {

namespace {

// Per thread so that concurrent callers never share a half-written text; bounded formatting cuts long texts.
const int kMessageBufferSize = 10000;
thread_local char message_buffer[kMessageBufferSize];

std::atomic<MessageHandler*> registered_handler{nullptr};

// Depth of runRecoverable scopes active on this thread.
thread_local int recoverable_depth = 0;

struct RecoverableError {
    std::string text;
};

void format(const char* fmt, va_list args) {
    vsnprintf(message_buffer, kMessageBufferSize, fmt, args);
}

enum Kind { KIND_ERROR, KIND_WARNING, KIND_MESSAGE, KIND_PRINT };

// Formats into this thread's buffer, writes the standard-output copy and hands the text to the handler.
void deliver(Kind kind, const char* fmt, va_list args) {
    static const char* const copies[] = {"\n$ Error: %s\n\n", "! Warning: %s\n", "# %s\n", "%s"};
    format(fmt, args);
    MessageHandler* h = registered_handler.load();
    if (h == nullptr || !h->silent) {
        ::printf(copies[kind], message_buffer);
        fflush(stdout);
    }
    if (!h) return;
    switch (kind) {
        case KIND_ERROR: h->error(message_buffer); break;
        case KIND_WARNING: h->warning(message_buffer); break;
        case KIND_MESSAGE: h->message(message_buffer); break;
        case KIND_PRINT: h->print(message_buffer); break;
    }
}

}  // namespace

void error(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    deliver(KIND_ERROR, fmt, args);
    va_end(args);
    if (recoverable_depth > 0) throw RecoverableError{message_buffer};
    fflush(stdout);
    fflush(stderr);
    // No static destructors: other threads may still be inside library code.
    _Exit(-1);
}

#define VISION_DELIVER(kind)      \
    va_list args;                 \
    va_start(args, fmt);          \
    deliver(kind, fmt, args);     \
    va_end(args)

void warning(const char* fmt, ...) { VISION_DELIVER(KIND_WARNING); }
void message(const char* fmt, ...) { VISION_DELIVER(KIND_MESSAGE); }
void print(const char* fmt, ...) { VISION_DELIVER(KIND_PRINT); }

#undef VISION_DELIVER

void printProgress(int i, int n) {
    if (i == -1) {
        print("[");
        return;
    }
    if (n < 10 || i % (n / 10) == 0) print(".");
    if (i + 1 == n) print("]\n");
}

MessageHandler::MessageHandler(bool silent_) : silent(silent_) {
    MessageHandler* none = nullptr;
    registered_handler.compare_exchange_strong(none, this);
}

MessageHandler::~MessageHandler() {
    MessageHandler* self = this;
    registered_handler.compare_exchange_strong(self, nullptr);
}

bool runRecoverable(const std::function<void()>& fn, std::string* errorText) {
    struct Depth {
        Depth() { ++recoverable_depth; }
        ~Depth() { --recoverable_depth; }
    };
    try {
        Depth depth;
        fn();
    } catch (RecoverableError& e) {
        if (errorText) *errorText = e.text;
        return false;
    }
    return true;
}

}  // namespace vision
