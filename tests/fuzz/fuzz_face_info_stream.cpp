// The face information stream between the filters: one sample unpacked as the verification and
// highlighting filters unpack it, and its first face cut out of the frame into the verification
// filter's one-face store.
#include <memory>

#include "fuzz_store_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    // A sample is one 196-byte buffer; its length is at most that.
    if (size > 196) return 0;
    unsigned count = 0;
    vision::FaceInfo* faces = nullptr;
    if (!vision::unpackFaceInfo(data, size, &count, &faces)) return 0;
    std::unique_ptr<vision::FaceInfo[]> owned(faces);
    if (count == 0) return 0;
    fuzz::FaceFrame frame;
    vision::FrontalFaceData store(&fuzz::storeIdentity(), frame.W, frame.H, 1, "", false, false, 0, false);
    vision::runRecoverable([&] {
        store.addFaceData(&frame.gray, &faces[0], nullptr);
        store.removeFaceData(0);
    });
    return 0;
}
