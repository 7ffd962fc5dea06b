#include "visionlib/DiskXFile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "visionlib/Allocator.h"
#include "visionlib/ByteOrder.h"
#include "visionlib/Message.h"

namespace vision {

namespace {

bool isGzipRead(const char* path, const char* mode) {
    size_t len = strlen(path);
    return strcmp(mode, "r") == 0 && len > 3 && strcmp(path + len - 3, ".gz") == 0;
}

// gzip data read through zlib in the process (no program found through PATH is run), behind a
// stdio stream so that every operation stays the stdio call. Data that is not gzip reads as
// nothing, as zcat gave nothing for it.
struct GzipInput {
    gzFile file;
    bool refused;
};

ssize_t gzipRead(void* cookie, char* buffer, size_t size) {
    GzipInput* in = static_cast<GzipInput*>(cookie);
    if (in->refused) return 0;
    const int n = gzread(in->file, buffer, static_cast<unsigned>(size < (1u << 30) ? size : (1u << 30)));
    return n < 0 ? -1 : n;
}

int gzipSeek(void* cookie, off64_t* offset, int origin) {
    GzipInput* in = static_cast<GzipInput*>(cookie);
    if (in->refused || origin == SEEK_END) return -1;
    const z_off_t at = gzseek(in->file, static_cast<z_off_t>(*offset), origin);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int gzipClose(void* cookie) {
    GzipInput* in = static_cast<GzipInput*>(cookie);
    const int rc = gzclose_r(in->file);
    delete in;
    return rc == Z_OK ? 0 : EOF;
}

// Takes over fd, a regular file opened for reading.
FILE* openGzip(int fd) {
    if (fd < 0) return nullptr;
    gzFile file = gzdopen(fd, "rb");
    if (!file) {
        close(fd);
        return nullptr;
    }
    GzipInput* in = new GzipInput{file, gzdirect(file) != 0};
    cookie_io_functions_t io = {gzipRead, nullptr, gzipSeek, gzipClose};
    FILE* stream = fopencookie(in, "r", io);
    if (!stream) gzipClose(in);
    return stream;
}

}  // namespace

FILE* openRegularFile(const char* path, const char* mode, bool* irregular) {
    if (irregular) *irregular = false;
    // Without O_NONBLOCK the open of a FIFO waits for the other end, for ever; fstat on what was
    // opened leaves no gap in which the file could be swapped after a check.
    int flags = strchr(mode, '+') ? O_RDWR : (mode[0] == 'r' ? O_RDONLY : O_WRONLY);
    if (mode[0] == 'w') flags |= O_CREAT | O_TRUNC;
    if (mode[0] == 'a') flags |= O_CREAT | O_APPEND;
    int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        // A FIFO opened for writing without a reader.
        if (irregular && errno == ENXIO) *irregular = true;
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        if (irregular) *irregular = true;
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, mode);
    if (!stream) close(fd);
    return stream;
}

DiskXFile::DiskXFile()
    : stream(nullptr), opened_here(false), is_pipe(false), buffer_block(nullptr), buffer_block_size(0) {}

DiskXFile::DiskXFile(const char* path, const char* mode) : DiskXFile() { open(path, mode, true); }

DiskXFile::DiskXFile(FILE* stream_) : DiskXFile() { stream = stream_; }

DiskXFile* DiskXFile::tryOpen(const char* path, const char* mode, Allocator* allocator) {
    DiskXFile* file = new (allocator) DiskXFile();
    if (file->open(path, mode, false)) return file;
    if (allocator)
        allocator->free(file);
    else
        delete file;
    return nullptr;
}

bool DiskXFile::open(const char* path, const char* mode, bool fatal) {
    // Files are always binary here: text files get bare line feeds without a mode switch.
    if (isGzipRead(path, mode)) {
        // The file checked is the file decompressed: its descriptor goes to zlib.
        FILE* plain = openRegularFile(path, "r");
        if (!plain) {
            if (fatal) error("DiskXFile: cannot open the file <%s> for reading", path);
            return false;
        }
        const int fd = fcntl(fileno(plain), F_DUPFD_CLOEXEC, 0);
        fclose(plain);
        stream = openGzip(fd);
        if (!stream) {
            if (fatal) error("DiskXFile: cannot open the file <%s> for reading", path);
            return false;
        }
        is_pipe = true;
    } else {
        bool irregular = false;
        stream = openRegularFile(path, mode, &irregular);
        if (!stream) {
            if (fatal && irregular)
                error("DiskXFile: <%s> is not a regular file, it is not %s", path, mode[0] == 'r' ? "read" : "written");
            if (fatal) error("DiskXFile: cannot open <%s> in mode <%s>. Sorry.", path, mode);
            return false;
        }
    }
    opened_here = true;
    return true;
}

DiskXFile::~DiskXFile() {
    if (!opened_here || !stream) return;
    fclose(stream);
}

void DiskXFile::reverseElementBytes(void* data, int element_size, int count) {
    if (element_size <= 1) return;
    reverseBytes(data, element_size, count);
}

int DiskXFile::read(void* buffer, int element_size, int count) {
    if (element_size <= 0 || count <= 0) return 0;
    int n = (int)fread(buffer, (size_t)element_size, (size_t)count, stream);
    if (!byteOrderIsNative()) reverseElementBytes(buffer, element_size, n);
    return n;
}

int DiskXFile::write(const void* buffer, int element_size, int count) {
    if (element_size <= 0 || count <= 0) return 0;
    if (byteOrderIsNative() || element_size == 1)
        return (int)fwrite(buffer, (size_t)element_size, (size_t)count, stream);
    // Reverse a copy: the caller's buffer stays as it was (and may be read-only).
    long bytes = (long)element_size * count;
    if (bytes > buffer_block_size) {
        buffer_block = allocator->realloc(buffer_block, bytes);
        buffer_block_size = (int)bytes;
    }
    memcpy(buffer_block, buffer, (size_t)bytes);
    reverseElementBytes(buffer_block, element_size, count);
    return (int)fwrite(buffer_block, (size_t)element_size, (size_t)count, stream);
}

int DiskXFile::eof() { return feof(stream); }
int DiskXFile::flush() { return fflush(stream); }
int DiskXFile::seek(int offset, int origin) { return fseek(stream, offset, origin); }
int DiskXFile::tell() { return (int)ftell(stream); }
void DiskXFile::rewind() { ::rewind(stream); }

int DiskXFile::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vfprintf(stream, format, args);
    va_end(args);
    return n;
}

int DiskXFile::scanf(const char* format, void* destination) { return fscanf(stream, format, destination); }

char* DiskXFile::gets(char* buffer, int size) { return fgets(buffer, size, stream); }

}  // namespace vision
