#pragma once
// Shared by the fuzz harnesses: a private scratch folder per process, files written from the
// fuzzer's bytes, silenced library messages, and the small fixtures the readers need beside their
// input (frames, crops, cascades), all made here.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "uniform_cascade.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"

namespace fuzz {

// Library messages would flood the fuzzer's output; their texts are not checked here.
class Quiet : public vision::MessageHandler {
public:
    Quiet() : vision::MessageHandler(true) {}
    void error(const char*) override {}
    void warning(const char*) override {}
    void message(const char*) override {}
    void print(const char*) override {}
};

inline void silence() { static Quiet quiet; }

// A folder of this process's own under TMPDIR, removed at exit.
inline const std::string& scratch() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvelo-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!mkdtemp(name.data())) std::abort();
        std::string made(name.data());
        static std::string removal = "rm -rf '" + made + "'";
        std::atexit([] { if (std::system(removal.c_str()) != 0) {} });
        return made;
    }();
    return dir;
}

inline std::string path(const std::string& name) { return scratch() + "/" + name; }

inline void writeFile(const std::string& file, const void* data, size_t size) {
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

inline void writeFile(const std::string& file, const std::string& text) { writeFile(file, text.data(), text.size()); }

// The input cut at each "\n--\n": one part per file of a reader that reads several.
inline std::vector<std::string> parts(const uint8_t* data, size_t size, size_t most) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    const std::string cut = "\n--\n";
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() + 1 < most) {
        const size_t at = all.find(cut, start);
        if (at == std::string::npos) break;
        out.push_back(all.substr(start, at - start));
        start = at + cut.size();
    }
    out.push_back(all.substr(start));
    return out;
}

using fixtures::writeUniformCascade;

// A textured gray level for pixel i (the same every run).
inline unsigned char texture(size_t i) { return (unsigned char)((i * 2654435761u) >> 24); }

}  // namespace fuzz
