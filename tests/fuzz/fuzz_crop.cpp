// Binary crops (".cro"): the sample s1 of a face list whose crop file is the input, loaded as the
// enrollment thread loads the store, beside the whole sample s2.
#include "fuzz_store_common.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryXFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string& users = fuzz::storeFolder();
    fuzz::writeFile(users + "/jdoe_0042/data/s0.cro", data, size);
    const std::string text = "WIDTH 96\nHEIGHT 80\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA 2\ns0\ns2\n";
    vision::runRecoverable([&] {
        vision::FrontalFaceData store(&fuzz::storeIdentity(), 96, 80, 10, users.c_str(), false, false, 0, true);
        vision::MemoryXFile list;
        list.write(text.data(), 1, (int)text.size());
        list.rewind();
        store.loadXFile(&list);
        for (int i = 0; i < store.getNumberOfFaces(); i++) {
            const vision::ImageGray* crop = store.getImage(i);
            if (crop->width != 64 || crop->height != 80) std::abort();
        }
    });
    return 0;
}
