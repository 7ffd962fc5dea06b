// Multi-view model directories: "pyramid-cascade.model", the in-plane list and connect files and
// the out-of-plane ones, cut from the input at each "\n--\n" in that order (a missing part is a
// missing file). The directory also holds the cascades a.cascade to d.cascade. The tracker is built
// as the detection filter builds it (normalised when the pyramid file names router means) and
// scans one frame.
#include <cstdio>

#include "detection/FaceTrackerAPI.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    static const std::string dir = [] {
        const std::string d = fuzz::path("multiview");
        if (std::system(("mkdir -p '" + d + "'").c_str()) != 0) std::abort();
        for (const char* name : {"a", "b", "c", "d"}) fuzz::writeUniformCascade(d + "/" + name + ".cascade", *name != 'b');
        return d;
    }();
    static const char* const names[] = {"pyramid-cascade.model", "in.list", "in.connect", "out.list", "out.connect"};
    const std::vector<std::string> files = fuzz::parts(data, size, 5);
    for (size_t i = 0; i < 5; i++) {
        const std::string file = dir + "/" + names[i];
        if (i < files.size())
            fuzz::writeFile(file, files[i]);
        else
            std::remove(file.c_str());
    }
    const bool normalised = files[0].find("_mu") != std::string::npos;
    const int W = 64, H = 48;
    vision::FaceTrackingSettings settings(1, W, H);
    settings.modulo_detection.value = 1;
    vision::FaceTrackerAPI* tracker = nullptr;
    if (vision::runRecoverable(
            [&] { tracker = new vision::FaceTrackerAPI_MCTMSMFMV_1(dir.c_str(), 0, normalised, &settings, false); })) {
        std::vector<unsigned char> frame((size_t)W * H * 3);
        for (size_t i = 0; i < frame.size(); i++) frame[i] = fuzz::texture(i);
        vision::runRecoverable([&] { tracker->processImageBGR(frame.data()); });
    }
    delete tracker;
    return 0;
}
