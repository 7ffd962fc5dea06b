// The registry stand-in's hive files ("HKEY_CURRENT_USER.reg" under TARVELO_REGISTRY_DIR), read
// as the program reads them: the screen saver's saved timeout (open or create its key, read a
// DWORD into 4 bytes, write it back) and the task-manager policy value (set, then delete). What
// is written reads back, and no call writes past the buffer it was given.
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "fuzz_common.h"
#include "platform/kernel.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = [] {
        const std::string d = fuzz::path("registry");
        if (::mkdir(d.c_str(), 0700) != 0) std::abort();
        setenv("TARVELO_REGISTRY_DIR", d.c_str(), 1);
        return d;
    }();
    fuzz::writeFile(dir + "/HKEY_CURRENT_USER.reg", data, size);

    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key) == LONG(ERROR_SUCCESS)) {
        unsigned char room[4 + 8];
        std::memset(room, 0xA5, sizeof room);
        DWORD type = 0, bytes = 4;
        const LONG read = RegQueryValueExA(key, "ScreenSaveTimeOut", nullptr, &type, room, &bytes);
        for (size_t i = 4; i < sizeof room; ++i) check(room[i] == 0xA5);
        if (read == LONG(ERROR_SUCCESS)) check(bytes <= 4 && (type != REG_DWORD || bytes == 4));
        const DWORD keep = 600;
        if (RegSetValueExA(key, "ScreenSaveTimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&keep), 4) ==
            LONG(ERROR_SUCCESS)) {
            DWORD back = 0;
            bytes = 4;
            check(RegQueryValueExA(key, "ScreenSaveTimeOut", nullptr, &type, reinterpret_cast<BYTE*>(&back), &bytes) ==
                  LONG(ERROR_SUCCESS));
            check(type == REG_DWORD && bytes == 4 && back == keep);
        }
        check(RegCloseKey(key) == LONG(ERROR_SUCCESS));
    }
    const char* policy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    if (RegOpenKeyA(HKEY_CURRENT_USER, policy, &key) == LONG(ERROR_SUCCESS) ||
        RegCreateKeyA(HKEY_CURRENT_USER, policy, &key) == LONG(ERROR_SUCCESS)) {
        const DWORD one = 1;
        if (RegSetValueExA(key, "DisableTaskMgr", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) ==
            LONG(ERROR_SUCCESS))
            check(RegDeleteValueA(key, "DisableTaskMgr") == LONG(ERROR_SUCCESS));
        RegCloseKey(key);
    }
    return 0;
}
