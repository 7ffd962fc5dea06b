#pragma once
// Abstract file with the operations of a stdio stream, plus the tagged binary records of model files.
#include "visionlib/Object.h"

namespace vision {

class XFile : public Object {
public:
    // Elements read / written.
    virtual int read(void* buffer, int element_size, int count) = 0;
    virtual int write(const void* buffer, int element_size, int count) = 0;
    virtual int eof() = 0;
    virtual int flush() = 0;
    // Origins as stdio: 0 start, 1 current, 2 end. Returns 0 or -1.
    virtual int seek(int offset, int origin) = 0;
    virtual int tell() = 0;
    virtual void rewind() = 0;
    virtual int printf(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    // One destination; returns the number of values converted.
    virtual int scanf(const char* format, void* destination) = 0;
    virtual char* gets(char* buffer, int size) = 0;

    // Record: int32 tag length, tag characters, int32 element size, int32 count, data.
    void taggedWrite(const void* data, int element_size, int count, const char* tag);
    // Any mismatch or short read is fatal, so a truncated model never loads.
    void taggedRead(void* data, int element_size, int count, const char* tag);
};

}  // namespace vision
