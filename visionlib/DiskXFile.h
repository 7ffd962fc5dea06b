#pragma once
// A file on disk, or for "r" of a ".gz" name its gzip data decompressed (through zlib), behind the
// XFile interface.
#include <cstdio>

#include "visionlib/XFile.h"

namespace vision {

// Opens path with an fopen mode only when it is a regular file (made by "w" and "a" when missing);
// NULL otherwise, with *irregular (when given) telling a FIFO, device or folder from a file that
// cannot be opened. Every file of the library is opened through it, for reading and for writing.
FILE* openRegularFile(const char* path, const char* mode, bool* irregular = nullptr);

class DiskXFile : public XFile {
public:
    FILE* stream;
    bool opened_here;
    bool is_pipe;           // the stream is the file's gzip data decompressed
    void* buffer_block;     // scratch for byte reversal, in the allocator
    int buffer_block_size;  // bytes

    // Failure to open is fatal; so is reading anything but a regular file.
    DiskXFile(const char* path, const char* mode);
    // Wraps an open stream; the destructor leaves it open.
    explicit DiskXFile(FILE* stream);
    // For program callers: NULL instead of a fatal error when the file cannot be opened.
    static DiskXFile* tryOpen(const char* path, const char* mode, Allocator* allocator = nullptr);
    ~DiskXFile() override;

    int read(void* buffer, int element_size, int count) override;
    int write(const void* buffer, int element_size, int count) override;
    int eof() override;
    int flush() override;
    int seek(int offset, int origin) override;
    int tell() override;
    void rewind() override;
    int printf(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    int scanf(const char* format, void* destination) override;
    char* gets(char* buffer, int size) override;

    void reverseElementBytes(void* data, int element_size, int count);

private:
    DiskXFile();
    // Returns false (or ends the process when fatal) when the file cannot be opened.
    bool open(const char* path, const char* mode, bool fatal);
};

}  // namespace vision
