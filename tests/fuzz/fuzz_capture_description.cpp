// Capture descriptions (".info.txt"): read back as the enrollment thread reads "lastface.info.txt"
// and the face it describes cut out of the captured frame into the store.
#include "fuzz_store_common.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string info = fuzz::path("lastface.info.txt");
    fuzz::writeFile(info, data, size);
    const int W = 96, H = 80;
    vision::runRecoverable([&] {
        vision::FaceInfo face;
        {
            vision::DiskXFile file(info.c_str(), "r");
            if (!vision::readCaptureDescription(&file, &face)) return;
        }
        vision::FrontalFaceData store(&fuzz::storeIdentity(), W, H, 10, "", false, false, 0, false);
        vision::Sequence gray(1, W * H);
        for (int i = 0; i < W * H; i++) gray.frames[0][i] = fuzz::texture(i);
        store.addFaceData(&gray, &face, nullptr);
    });
    return 0;
}
