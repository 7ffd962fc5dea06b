#include "visionlib/XFile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

void XFile::taggedWrite(const void* data, int element_size, int count, const char* tag) {
    int32_t tag_length = (int32_t)strlen(tag);
    int32_t size = element_size;
    int32_t n = count;
    write(&tag_length, sizeof(int32_t), 1);
    write(tag, 1, tag_length);
    write(&size, sizeof(int32_t), 1);
    write(&n, sizeof(int32_t), 1);
    write(data, element_size, count);
}

void XFile::taggedRead(void* data, int element_size, int count, const char* tag) {
    int32_t tag_length = 0;
    if (read(&tag_length, sizeof(int32_t), 1) != 1 || tag_length != (int32_t)strlen(tag))
        error("XFile: sorry, the tag <%s> cannot be read!", tag);
    char* read_tag = static_cast<char*>(checkedMalloc(tag_length + 1));
    bool short_tag = tag_length > 0 && read(read_tag, 1, tag_length) != tag_length;
    if (read_tag) read_tag[tag_length] = '\0';
    bool same = short_tag ? false : (tag_length == 0 || strcmp(read_tag, tag) == 0);
    ::free(read_tag);
    if (short_tag) error("XFile: sorry, the tag <%s> cannot be read!", tag);
    if (!same) error("XFile: tag <%s> not found!", tag);
    int32_t size = 0, n = 0;
    if (read(&size, sizeof(int32_t), 1) != 1 || read(&n, sizeof(int32_t), 1) != 1)
        error("XFile: sorry, the tag <%s> cannot be read!", tag);
    if (size != element_size || n != count) error("XFile: tag <%s> has a corrupted size!", tag);
    if (count > 0 && read(data, element_size, count) != count)
        error("XFile: tag <%s> has a corrupted size!", tag);
}

}  // namespace vision
