#include "visionlib/DiskXFile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "visionlib/Allocator.h"
#include "visionlib/ByteOrder.h"
#include "visionlib/Message.h"

extern char** environ;

namespace vision {

namespace {

bool isGzipRead(const char* path, const char* mode) {
    size_t len = strlen(path);
    return strcmp(mode, "r") == 0 && len > 3 && strcmp(path + len - 3, ".gz") == 0;
}

// Starts "zcat <path>" with an argument vector, so no shell ever sees the path.
FILE* startZcat(const char* path, pid_t* child) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>("zcat"), const_cast<char*>(path), nullptr};
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "zcat", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return nullptr;
    }
    FILE* stream = fdopen(fds[0], "r");
    if (!stream) {
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    *child = pid;
    return stream;
}

}  // namespace

FILE* openRegularFile(const char* path, const char* mode, bool* irregular) {
    if (irregular) *irregular = false;
    // Without O_NONBLOCK the open of a FIFO waits for a writer, for ever; fstat on what was opened
    // leaves no gap in which the file could be swapped after a check.
    const int access = strchr(mode, '+') ? O_RDWR : O_RDONLY;
    int fd = ::open(path, access | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
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
    : stream(nullptr), opened_here(false), is_pipe(false), buffer_block(nullptr), buffer_block_size(0),
      child(0) {}

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
        FILE* probe = openRegularFile(path, "r");
        if (!probe) {
            if (fatal) error("DiskXFile: cannot open the file <%s> for reading", path);
            return false;
        }
        fclose(probe);
        stream = startZcat(path, &child);
        if (!stream) {
            if (fatal) error("DiskXFile: cannot execute the command <zcat %s>", path);
            return false;
        }
        is_pipe = true;
    } else {
        bool irregular = false;
        stream = mode[0] == 'r' ? openRegularFile(path, mode, &irregular) : fopen(path, mode);
        if (!stream) {
            if (fatal && irregular) error("DiskXFile: <%s> is not a regular file, it is not read", path);
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
    if (is_pipe && child > 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
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
