// The registry: one text file per hive, read and rewritten whole under a file lock for every call,
// so that several processes see one store. A line is "K\t<key>" or
// "V\t<key>\t<value name>\t<type>\t<data in hex>"; key paths use '\' between their parts.
#include "platform/kernel.h"
#include "platform/kernel_handles.h"
#include "platform/regular_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvelo_platform;

struct HKEY__ {
    std::string hive;
    std::string path;  // lower-case comparison key is built on demand
};

namespace {

std::mutex& keyLock() {
    static std::mutex* m = new std::mutex();
    return *m;
}
std::set<HKEY>& liveKeys() {
    static std::set<HKEY>* s = new std::set<HKEY>();
    return *s;
}

const char* hiveName(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return nullptr;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// Resolves a base key and a sub-key into hive and normalised path; false for an unknown handle.
bool resolve(HKEY key, const char* subKey, std::string& hive, std::string& path) {
    if (const char* h = hiveName(key)) {
        hive = h;
        path.clear();
    } else {
        std::lock_guard<std::mutex> lock(keyLock());
        if (!key || !liveKeys().count(key)) return false;
        hive = key->hive;
        path = key->path;
    }
    std::string sub = subKey ? subKey : "";
    std::string part;
    std::vector<std::string> parts;
    std::stringstream in(path + "\\" + sub);
    while (std::getline(in, part, '\\'))
        if (!part.empty()) parts.push_back(part);
    path.clear();
    for (auto& p : parts) path += (path.empty() ? "" : "\\") + p;
    return true;
}

std::string storeDir() {
    if (const char* d = getenv("TARVELO_REGISTRY_DIR"); d && *d) return d;
    if (const char* x = getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/tarvelo-registry";
    const char* home = getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config/tarvelo-registry";
}

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};
struct Hive {
    std::map<std::string, std::string> keys;                     // lower path -> path as written
    std::map<std::string, std::map<std::string, Value>> values;  // lower path -> lower name -> value
};

// A hive holds a handful of values; a megabyte is far beyond any the program writes.
constexpr size_t kMostHiveBytes = 1 << 20;

// Holds the hive's lock file for as long as it lives.
class HiveFile {
public:
    explicit HiveFile(const std::string& hive) {
        std::string dir = storeDir();
        std::string parent = dir.substr(0, dir.rfind('/'));
        if (!parent.empty()) ::mkdir(parent.c_str(), 0700);
        ::mkdir(dir.c_str(), 0700);
        path_ = dir + "/" + hive + ".reg";
        lockFd_ = ::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ >= 0) ::flock(lockFd_, LOCK_EX);
    }
    ~HiveFile() {
        if (lockFd_ >= 0) ::close(lockFd_);
    }
    bool ok() const { return lockFd_ >= 0; }

    // False for a hive that is not a regular file (a FIFO would hang every caller) or is larger
    // than any the program writes: every call then fails and the file stays as it is.
    bool read(Hive& hive) {
        const tarvelo_platform::RegularFile file(path_);
        if (!file.isOpen()) return file.missing;
        std::string text;
        if (file.size > kMostHiveBytes || !file.read(file.size, text)) return false;
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> f;
            std::stringstream s(line);
            std::string field;
            while (std::getline(s, field, '\t')) f.push_back(field);
            if (f.size() >= 2 && f[0] == "K") {
                hive.keys[lower(f[1])] = f[1];
            } else if (f.size() >= 4 && f[0] == "V") {
                Value v{f[2], DWORD(strtoul(f[3].c_str(), nullptr, 10)), {}};
                const std::string hex = f.size() > 4 ? f[4] : "";
                for (size_t i = 0; i + 1 < hex.size(); i += 2)
                    v.data.push_back(BYTE(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
                // A DWORD is 4 bytes, as RegSetValueExA holds it: a reader takes 4 and no fewer.
                if (v.type == REG_DWORD && v.data.size() != 4) continue;
                hive.values[lower(f[1])][lower(f[2])] = v;
            }
        }
        return true;
    }

    bool write(const Hive& hive) {
        std::string tmp = path_ + ".tmp";
        {
            std::ofstream out(tmp, std::ios::trunc);
            if (!out) return false;
            for (auto& k : hive.keys) out << "K\t" << k.second << "\n";
            for (auto& byKey : hive.values) {
                auto key = hive.keys.find(byKey.first);
                if (key == hive.keys.end()) continue;
                for (auto& v : byKey.second) {
                    out << "V\t" << key->second << "\t" << v.second.name << "\t" << v.second.type << "\t";
                    char hex[3];
                    for (BYTE b : v.second.data) {
                        snprintf(hex, sizeof hex, "%02x", b);
                        out << hex;
                    }
                    out << "\n";
                }
            }
            out.flush();
            if (!out) return false;
        }
        ::chmod(tmp.c_str(), 0600);
        return ::rename(tmp.c_str(), path_.c_str()) == 0;
    }

private:
    std::string path_;
    int lockFd_ = -1;
};

bool validName(const char* name) { return !name || !std::strpbrk(name, "\t\n\r"); }

LONG openOrCreate(HKEY key, LPCSTR subKey, PHKEY result, bool create) {
    if (!result) return LONG(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::string hive, path;
    if (!resolve(key, subKey, hive, path)) return LONG(ERROR_INVALID_HANDLE);
    if (!validName(subKey)) return LONG(ERROR_INVALID_PARAMETER);
    if (!path.empty()) {
        HiveFile file(hive);
        if (!file.ok()) return LONG(ERROR_ACCESS_DENIED);
        Hive h;
        if (!file.read(h)) return LONG(ERROR_BADDB);
        if (!h.keys.count(lower(path))) {
            if (!create) return LONG(ERROR_FILE_NOT_FOUND);
            std::string prefix;
            std::stringstream s(path);
            std::string part;
            while (std::getline(s, part, '\\')) {
                prefix += (prefix.empty() ? "" : "\\") + part;
                if (!h.keys.count(lower(prefix))) h.keys[lower(prefix)] = prefix;
            }
            if (!file.write(h)) return LONG(ERROR_ACCESS_DENIED);
        }
    }
    HKEY opened = new HKEY__{hive, path};
    std::lock_guard<std::mutex> lock(keyLock());
    liveKeys().insert(opened);
    *result = opened;
    return LONG(ERROR_SUCCESS);
}

// Runs change on the hive of an existing key; the key must still be in the store.
template <class F>
LONG withKey(HKEY key, bool write, F change) {
    std::string hive, path;
    if (!resolve(key, nullptr, hive, path)) return LONG(ERROR_INVALID_HANDLE);
    HiveFile file(hive);
    if (!file.ok()) return LONG(ERROR_ACCESS_DENIED);
    Hive h;
    if (!file.read(h)) return LONG(ERROR_BADDB);
    if (!path.empty() && !h.keys.count(lower(path))) return LONG(ERROR_FILE_NOT_FOUND);
    if (path.empty() && write) return LONG(ERROR_ACCESS_DENIED);  // no values on a hive's root
    LONG rc = change(h, lower(path));
    if (rc == LONG(ERROR_SUCCESS) && write && !file.write(h)) return LONG(ERROR_ACCESS_DENIED);
    return rc;
}

}  // namespace

extern "C" {

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return openOrCreate(key, subKey, result, false); }

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return openOrCreate(key, subKey, result, true); }

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!validName(name) || (size && !data) || (type == REG_DWORD && size != 4))
        return LONG(ERROR_INVALID_PARAMETER);
    return withKey(key, true, [&](Hive& h, const std::string& path) {
        Value v{name ? name : "", type, std::vector<BYTE>(data, data + size)};
        h.values[path][lower(v.name)] = v;
        return LONG(ERROR_SUCCESS);
    });
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (data && !size) return LONG(ERROR_INVALID_PARAMETER);
    return withKey(key, false, [&](Hive& h, const std::string& path) {
        auto byKey = h.values.find(path);
        if (byKey == h.values.end()) return LONG(ERROR_FILE_NOT_FOUND);
        auto v = byKey->second.find(lower(name ? name : ""));
        if (v == byKey->second.end()) return LONG(ERROR_FILE_NOT_FOUND);
        if (type) *type = v->second.type;
        DWORD needed = DWORD(v->second.data.size());
        LONG rc = LONG(ERROR_SUCCESS);
        if (data) {
            if (*size < needed)
                rc = LONG(ERROR_MORE_DATA);
            else if (needed)
                std::memcpy(data, v->second.data.data(), needed);
        }
        if (size) *size = needed;
        return rc;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    return withKey(key, true, [&](Hive& h, const std::string& path) {
        auto byKey = h.values.find(path);
        if (byKey == h.values.end() || !byKey->second.erase(lower(name ? name : "")))
            return LONG(ERROR_FILE_NOT_FOUND);
        return LONG(ERROR_SUCCESS);
    });
}

LONG RegCloseKey(HKEY key) {
    if (hiveName(key)) return LONG(ERROR_SUCCESS);
    {
        std::lock_guard<std::mutex> lock(keyLock());
        if (!key || !liveKeys().erase(key)) return LONG(ERROR_INVALID_HANDLE);
    }
    delete key;
    return LONG(ERROR_SUCCESS);
}

}  // extern "C"
