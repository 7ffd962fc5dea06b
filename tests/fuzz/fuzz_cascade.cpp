// Frontal cascade files: the tracker built on one as the detection filter builds it, then one
// frame scanned with it.
#include "detection/FaceTrackerAPI.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string model = fuzz::path("frontal.cascade");
    fuzz::writeFile(model, data, size);
    const int W = 64, H = 48;
    vision::FaceTrackingSettings settings(1, W, H);
    settings.modulo_detection.value = 1;
    vision::FaceTrackerAPI* tracker = nullptr;
    if (vision::runRecoverable([&] { tracker = new vision::FaceTrackerAPI_MCTMSMFF_2(model.c_str(), 0, &settings, false); })) {
        std::vector<unsigned char> frame((size_t)W * H * 3);
        for (size_t i = 0; i < frame.size(); i++) frame[i] = fuzz::texture(i);
        vision::runRecoverable([&] { tracker->processImageBGR(frame.data()); });
    }
    delete tracker;
    return 0;
}
