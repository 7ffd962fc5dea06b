#pragma once
// The process's text log. Components announce an action, hold a LogIndent while it runs, and write
// lines either whole (log) or composed in the line buffer (stream << ...; flush()).
//
// Several threads write: the GUI thread, the unlock thread and the verification filter's streaming
// thread. Each thread composes into a buffer of its own (the line buffer keeps one per thread), a
// line reaches the file under a lock, and the indent level changes in one atomic step, so lines of
// two threads never mix.
#include <atomic>
#include <cstdint>
#include <fstream>
#include <locale>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

class Logger;

// The line buffer. Text is formatted as a default standard stream formats it, in the C locale
// (integers in decimal, floats with six significant digits, booleans as 1 and 0).
class LogLineBuffer {
public:
    template <class T>
    LogLineBuffer& operator<<(const T& value) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << value;
        append(text.str());
        return *this;
    }
    LogLineBuffer& operator<<(const char* text) {
        append(text ? std::string(text) : std::string());
        return *this;
    }
    LogLineBuffer& operator<<(const std::string& text) {
        append(text);
        return *this;
    }

    // Takes and empties the calling thread's text.
    std::string take();

private:
    void append(const std::string& text);
    std::mutex mutex_;
    std::map<std::thread::id, std::string> pending_;
};

class Logger {
public:
    virtual ~Logger();
    // Writes one line at the current indent level.
    virtual void log(const std::string& line) = 0;
    // Hands the text composed in `stream` by this thread to log() as one line.
    void flush();

    // Raising and lowering are single steps; lowering never goes below 0.
    void raiseIndent();
    void lowerIndent();

    std::atomic<uint32_t> indent{0};
    LogLineBuffer stream;
};

// Writes every line to a text file and flushes it at once. A file that cannot be opened leaves the
// logger mute.
class FileLogger : public Logger {
public:
    FileLogger(const std::string& path, bool truncate);
    ~FileLogger() override;
    void log(const std::string& line) override;

    bool isOpen() const { return file.is_open(); }

protected:
    std::ofstream file;
    std::mutex writeLock;
};

// Holds one indent level for the length of a scope; a null logger makes it do nothing.
class LogIndent {
public:
    explicit LogIndent(Logger* logger);
    ~LogIndent();
    LogIndent(const LogIndent&) = delete;
    LogIndent& operator=(const LogIndent&) = delete;

private:
    Logger* logger_;
};
