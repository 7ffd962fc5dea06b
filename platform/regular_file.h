#pragma once
// A file opened for reading only when it is a regular file: without waiting, and checked with fstat
// on what was opened, so that a FIFO cannot hold the caller and a folder or a device is a refusal,
// never an exception. Internal to the platform library.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>

namespace tarvelo_platform {

class RegularFile {
public:
    explicit RegularFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        missing = fd < 0 && errno == ENOENT;
        struct stat st;
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        if (fd >= 0) size = static_cast<size_t>(st.st_size);
    }
    ~RegularFile() {
        if (fd >= 0) ::close(fd);
    }
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool isOpen() const { return fd >= 0; }
    bool missing = false;  // nothing of that name
    size_t size = 0;       // when open

    // The file's first count bytes into buf (fewer at its end), reading only those that buf does
    // not hold yet; false on a read error. Buf is a byte container (std::vector<uint8_t>, std::string).
    template <class Bytes>
    bool read(size_t count, Bytes& buf) const {
        size_t got = std::min(buf.size(), count);
        buf.resize(count);
        while (got < count) {
            const ssize_t n = ::pread(fd, &buf[got], count - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        buf.resize(got);
        return true;
    }

private:
    int fd;
};

}  // namespace tarvelo_platform
