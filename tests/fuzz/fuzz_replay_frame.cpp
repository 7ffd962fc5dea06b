// Replay camera frames (binary PGM and PPM), read as the replay camera reads each frame file.
#include "fuzz_common.h"
#include "platform/capture/FrameImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = fuzz::path("frame.pgm");
    fuzz::writeFile(file, data, size);
    tarvelo::capture::FrameImage frame;
    std::string why;
    if (tarvelo::capture::readNetpbm(file, frame, &why) &&
        frame.bgr.size() != (size_t)frame.width * (size_t)frame.height * 3)
        std::abort();
    return 0;
}
