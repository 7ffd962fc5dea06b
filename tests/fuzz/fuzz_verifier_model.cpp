// Verifier models: the world model, then the user model fitted to it, loaded as the verification
// filter loads them, and one face scored with them. Input: world model, "\n--\n", user model (the
// world model's bytes serve for both when there is no cut).
#include <memory>

#include "fuzz_store_common.h"
#include "verification/FaceVerif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::vector<std::string> files = fuzz::parts(data, size, 2);
    const std::string world = fuzz::path("world.model"), user = fuzz::path("user.model");
    fuzz::writeFile(world, files[0]);
    fuzz::writeFile(user, files.size() > 1 ? files[1] : files[0]);

    vision::FaceVerif_GmmDCTmod2* worldVerifier = nullptr;
    vision::FaceVerif_MapGmmDCTmod2* userVerifier = nullptr;
    const bool loaded = vision::runRecoverable([&] {
        worldVerifier = new vision::FaceVerif_GmmDCTmod2(world.c_str(), 0);
        userVerifier = new vision::FaceVerif_MapGmmDCTmod2(user.c_str(), worldVerifier, 0);
    });
    if (loaded) {
        fuzz::FaceFrame frame;
        vision::FrontalFaceData store(&fuzz::storeIdentity(), frame.W, frame.H, 1, "", false, false, 0, false);
        vision::runRecoverable([&] {
            store.addFaceData(&frame.gray, &frame.face, nullptr);
            vision::real score = 0;
            userVerifier->test(&store, &score);
            store.removeFaceData(0);
        });
    }
    delete userVerifier;
    delete worldVerifier;
    return 0;
}
