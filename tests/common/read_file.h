#pragma once
// A file's whole contents, byte for byte; empty when it cannot be read (a test that needs the file
// checks its contents).
#include <fstream>
#include <sstream>
#include <string>

namespace testutil {

// Through the stream buffer: a read error (a /proc file whose process ends meanwhile) ends the
// contents where it struck instead of throwing, as an iterator over the buffer would.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testutil
