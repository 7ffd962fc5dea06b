// Identity records (".userinfo.txt"), read as the program reads them; a record that reads must
// read the same after a save, since its user name names the user's folder.
#include <cstring>

#include "fuzz_common.h"
#include "verification/UserInfo.h"
#include "visionlib/MemoryXFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string file = fuzz::path("jdoe.userinfo.txt");
    fuzz::writeFile(file, data, size);
    vision::DiskXFile* in = vision::DiskXFile::tryOpen(file.c_str(), "r");
    if (!in) return 0;
    // The program reads records outside a recoverable scope: a fatal error here would end it, and
    // ends the run here too (a clean fatal exit is reported, not hidden).
    vision::UserInfo* record = vision::UserInfo::readFrom(in);
    delete in;
    if (!record) return 0;
    const std::string folder = vision::userFolderPath("users", record);
    vision::MemoryXFile saved;
    record->saveXFile(&saved);
    saved.rewind();
    vision::UserInfo* again = vision::UserInfo::readFrom(&saved);
    if (!again || std::strcmp(again->userName, record->userName) != 0 ||
        vision::userFolderPath("users", again) != folder || again->userId != record->userId)
        std::abort();
    delete again;
    delete record;
    return 0;
}
