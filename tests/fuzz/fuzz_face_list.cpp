// Face lists (".facedata.txt"), loaded into the user's sample store as the enrollment thread loads
// them before adapting, then one sample added and the list written again.
#include "fuzz_store_common.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string& users = fuzz::storeFolder();
    const std::string list = fuzz::path("jdoe.facedata.txt");
    fuzz::writeFile(list, data, size);
    const int W = 96, H = 80;
    vision::runRecoverable([&] {
        vision::FrontalFaceData store(&fuzz::storeIdentity(), W, H, 10, users.c_str(), false, false, 0, true);
        vision::DiskXFile file(list.c_str(), "r");
        store.loadXFile(&file);
        vision::Sequence gray(1, W * H);
        for (int i = 0; i < W * H; i++) gray.frames[0][i] = fuzz::texture(i);
        vision::FaceInfo face;
        face.left_eye_x = 30;
        face.left_eye_y = 30;
        face.right_eye_x = 63;
        face.right_eye_y = 30;
        store.addFaceData(&gray, &face, "s3");
        vision::MemoryXFile written;
        store.saveXFile(&written);
    });
    return 0;
}
