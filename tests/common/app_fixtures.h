#pragma once
// Helpers of the capture graph tests: a logger that keeps its lines with their indent levels, a
// process environment with declared replay cameras, and synthetic frame folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "src/Logger.h"
#include "tests/capture/capture_fixtures.h"

struct LoggedLine {
    unsigned indent;
    std::string text;
};

class RecordingLogger : public Logger {
public:
    void log(const std::string& line) override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back({indent.load(), line});
    }
    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (const LoggedLine& l : lines) out.push_back(l.text);
        return out;
    }
    // Index of the first line equal to text at or after from, or -1.
    int find(const std::string& text, int from = 0) {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
            if (lines[i].text == text) return static_cast<int>(i);
        return -1;
    }
    bool has(const std::string& text) { return find(text) >= 0; }
    int count(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const LoggedLine& l) { return l.text == text; }));
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        lines.clear();
    }
    std::string dump() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string out;
        for (const LoggedLine& l : lines) out += std::string(l.indent * 4, ' ') + l.text + "\n";
        return out;
    }
    std::mutex mutex;
    std::vector<LoggedLine> lines;
};

// No webcams; the replay cameras of a declaration file written by the test.
class CameraEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TARVELO_V4L2_DEVICES", "", 1);
        ::unsetenv("TARVELO_REPLAY_CAMERAS");
    }
    void TearDown() override {
        ::unsetenv("TARVELO_REPLAY_CAMERAS");
        ::unsetenv("TARVELO_V4L2_DEVICES");
    }
    void declare(const std::string& lines) {
        writeFile(dir.path + "/cameras.txt", lines);
        ::setenv("TARVELO_REPLAY_CAMERAS", (dir.path + "/cameras.txt").c_str(), 1);
    }
    // A folder of gray frames w x h of random texture (a detector that takes every window finds
    // faces in it; a flat picture has no contrast to detect anything in).
    std::string frames(const std::string& name, int w, int h, int count) {
        const std::string folder = dir.path + "/" + name;
        ::mkdir(folder.c_str(), 0700);
        std::mt19937 rng(7);
        for (int i = 0; i < count; ++i) {
            char file[64];
            std::snprintf(file, sizeof file, "/frame%04d.pgm", i);
            std::string pixels(static_cast<size_t>(w) * h, '\0');
            for (char& p : pixels) p = static_cast<char>(rng() & 0xFF);
            writeFile(folder + file, "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + pixels);
        }
        return folder;
    }
    TempDir dir;
};
