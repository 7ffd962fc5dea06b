// Capture descriptions (".info.txt"): read back as the enrollment thread reads "lastface.info.txt"
// and the face it describes cut out of the captured frame into the store.
#include "fuzz_store_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string info = fuzz::path("lastface.info.txt");
    fuzz::writeFile(info, data, size);
    fuzz::FaceFrame frame;
    vision::runRecoverable([&] {
        vision::FaceInfo face;
        {
            vision::DiskXFile file(info.c_str(), "r");
            if (!vision::readCaptureDescription(&file, &face)) return;
        }
        vision::FrontalFaceData store(&fuzz::storeIdentity(), frame.W, frame.H, 10, "", false, false, 0, false);
        store.addFaceData(&frame.gray, &face, nullptr);
    });
    return 0;
}
