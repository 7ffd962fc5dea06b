// Face lists (".facedata.txt"), loaded into the user's sample store as the enrollment thread loads
// them before adapting, then one sample added and the list written again.
#include "fuzz_store_common.h"
#include "visionlib/MemoryXFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string& users = fuzz::storeFolder();
    const std::string list = fuzz::path("jdoe.facedata.txt");
    fuzz::writeFile(list, data, size);
    fuzz::FaceFrame frame;
    vision::runRecoverable([&] {
        vision::FrontalFaceData store(&fuzz::storeIdentity(), frame.W, frame.H, 10, users.c_str(), false, false, 0, true);
        vision::DiskXFile file(list.c_str(), "r");
        store.loadXFile(&file);
        store.addFaceData(&frame.gray, &frame.face, "s3");
        vision::MemoryXFile written;
        store.saveXFile(&written);
    });
    return 0;
}
