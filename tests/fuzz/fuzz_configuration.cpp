// The configuration ("Tarvelo.cfg"), loaded as start-up loads it; the detector's settings made from
// it as the detection filter makes them for a frame; saved and loaded again.
#include <wx/init.h>

#include "app/core/Configuration.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    static wxInitializer toolkit;
    const std::string file = fuzz::path("Tarvelo.cfg"), copy = fuzz::path("Tarvelo.cfg.copy");
    fuzz::writeFile(file, data, size);
    Configuration config;
    if (!config.load(file)) return 0;
    vision::FaceTrackingSettings live(1, (int)config.getFormatWidth(), (int)config.getFormatHeight());
    live.copyFrom(*config.trackingSettings);
    // The window sizes stay within the frame (motion may pass its maximum: widths 480 and 576 force it).
    if (live.min_size.value > live.min_size.max || live.max_size.value > live.max_size.max) std::abort();
    if (config.save(copy)) {
        Configuration again;
        if (!again.load(copy)) std::abort();
    }
    return 0;
}
