#pragma once
// A growing list of memory buffers behind the XFile interface: written text reads back without a file.
#include "visionlib/PointerList.h"
#include "visionlib/XFile.h"

namespace vision {

struct MemoryXFileNode {
    void* mem;
    int size;  // bytes
};

class MemoryXFileBufferList : public BasicPointerList<MemoryXFileNode> {};

class MemoryXFile : public XFile {
public:
    bool is_eof;
    MemoryXFileBufferList* memory;
    int position;     // bytes from the start
    int size;         // bytes of data
    int buffer_size;  // bytes of all buffers (capacity)
    int buffer_size_option;  // "buffer size": least size of a new buffer
    int current_buffer;
    int offset;  // in the current buffer
    char* format_buffer;
    int format_buffer_size;

    explicit MemoryXFile(int format_buffer_size = 256);
    // Reads the caller's buffers (which stay the caller's); total_size < 0 means their sum.
    MemoryXFile(MemoryXFileBufferList* buffers, int total_size = -1, int format_buffer_size = 256);
    MemoryXFile(void* mem, int size, int format_buffer_size = 256);
    ~MemoryXFile() override;

    int read(void* buffer, int element_size, int count) override;  // whole elements copied
    int write(const void* buffer, int element_size, int count) override;
    int eof() override;
    int flush() override;
    int seek(int offset, int origin) override;
    int tell() override;
    void rewind() override;
    int printf(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    int scanf(const char* format, void* destination) override;
    char* gets(char* buffer, int size) override;

    void makeContiguous();

private:
    void init(int format_buffer_size);
    void appendNode(void* mem, int size);
    void locate();  // current buffer and offset from position
};

}  // namespace vision
