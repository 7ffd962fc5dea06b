#pragma once
// Small helpers of the capture tests: a temporary folder and synthetic frame files.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "temp_dir.h"

using testutil::TempDir;

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline void writeGrayFrame(const std::string& path, int w, int h, uint8_t value) {
    writeFile(path, "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
                        std::string(static_cast<size_t>(w) * h, static_cast<char>(value)));
}
