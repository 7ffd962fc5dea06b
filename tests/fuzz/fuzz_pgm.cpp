// PGM pictures, read as the enrollment thread reads the captured frame back.
#include "fuzz_common.h"
#include "visionlib/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string file = fuzz::path("lastface.raw.pgm");
    fuzz::writeFile(file, data, size);
    vision::runRecoverable([&] {
        vision::ImageGray image(file.c_str());
        // What a reader gets must be what it says it holds.
        for (int i = 0; i < image.width * image.height; i++)
            if (image.real_pixels[i] != image.byte_pixels[i]) std::abort();
    });
    return 0;
}
