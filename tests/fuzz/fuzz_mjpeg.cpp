// MJPEG frames as a webcam delivers them, decoded as the capture stream decodes each one: to the
// negotiated size. Each input is decoded to 320x240 and to the size its own header declares (when
// that is at most 1024x1024 pixels, which keeps a run's memory small: larger stream sizes take the
// same path), so that the decoder's whole road is reached, not only the size refusal.
#include <cstdlib>
#include <string>

#include "platform/capture/FrameImage.h"

namespace {

void decodeTo(const uint8_t* data, size_t size, int width, int height) {
    tarvelo::capture::FrameImage frame;
    std::string why;
    if (tarvelo::capture::mjpegToBgr(data, size, width, height, frame, &why)) {
        if (frame.width != width || frame.height != height ||
            frame.bgr.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3)
            std::abort();
    } else if (why.empty()) {
        std::abort();  // a refusal always says why
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodeTo(data, size, 320, 240);
    int width = 0, height = 0;
    if (tarvelo::capture::jpegDeclaredSize(data, size, width, height) && width > 0 && height > 0 &&
        static_cast<long>(width) * height <= 1024L * 1024 && (width != 320 || height != 240))
        decodeTo(data, size, width, height);
    return 0;
}
