// Camera declarations (the file TARVELO_REPLAY_CAMERAS names): parsed, and each declared camera
// opened, its formats listed and one frame read, as device discovery and capture do. The folder
// "clip" beside the declarations holds one frame.
#include "fuzz_common.h"
#include "platform/capture/ReplayCamera.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string base = [] {
        const std::string clip = fuzz::path("clip");
        if (std::system(("mkdir -p '" + clip + "'").c_str()) != 0) std::abort();
        std::string pgm = "P5\n8 6\n255\n";
        for (int i = 0; i < 48; i++) pgm += (char)fuzz::texture(i);
        fuzz::writeFile(clip + "/f0.pgm", pgm);
        return fuzz::scratch();
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> warnings;
    const auto cameras = tarvelo::capture::parseReplayDeclarations(text, base, &warnings);
    for (const auto& camera : cameras) {
        std::string why;
        auto source = tarvelo::capture::ReplaySource::open(camera, &why);
        if (!source) continue;
        const auto formats = source->formats();
        if (formats.empty()) std::abort();
        for (const auto& f : formats)
            if (f.width <= 0 || f.height <= 0 || f.frameInterval <= 0) std::abort();
        if (source->start(formats.front()) != 0) continue;
        tarvelo::capture::FrameImage frame;
        source->read(frame, 0);
        source->stop();
    }
    return 0;
}
