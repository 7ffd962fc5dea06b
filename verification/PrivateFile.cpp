#include "verification/PrivateFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"

namespace vision {

void writePrivateFile(const char* path, const std::function<void(XFile*)>& write) {
    // A fresh name per write (mode 0600), so two writers of one file never share a temporary file.
    std::string tmp = std::string(path) + ".tmp.XXXXXX";
    int fd = ::mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0)
        error("DiskXFile: cannot open <%s> in mode <%s>. Sorry.", path, "w");
    FILE* stream = fdopen(fd, "wb");
    if (!stream) {
        ::close(fd);
        ::unlink(tmp.c_str());
        error("DiskXFile: cannot open <%s> in mode <%s>. Sorry.", path, "w");
    }
    try {
        DiskXFile file(stream);
        write(&file);
    } catch (...) {
        // A recoverable error raised while writing: leave no temporary file behind.
        fclose(stream);
        ::unlink(tmp.c_str());
        throw;
    }
    bool ok = fflush(stream) == 0;
    ok = fsync(fileno(stream)) == 0 && ok;
    ok = fclose(stream) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), path) != 0) {
        ::unlink(tmp.c_str());
        error("DiskXFile: cannot write <%s>. Sorry.", path);
    }
}

bool makePrivateFolder(const char* path) {
    if (::mkdir(path, 0700) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace vision
