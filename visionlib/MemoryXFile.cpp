#include "visionlib/MemoryXFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

namespace {
const int kPrintfBufferSize = 10000;
}

void MemoryXFile::init(int format_size) {
    is_eof = false;
    position = size = buffer_size = 0;
    current_buffer = offset = 0;
    addIntOption("buffer size", &buffer_size_option, 65536, "buffer size for writing");
    memory = new (allocator) MemoryXFileBufferList();
    format_buffer_size = std::max(format_size, 3);
    format_buffer = static_cast<char*>(allocator->alloc(format_buffer_size));
}

MemoryXFile::MemoryXFile(int format_size) { init(format_size); }

MemoryXFile::MemoryXFile(MemoryXFileBufferList* buffers, int total_size, int format_size) {
    init(format_size);
    int sum = 0;
    for (int i = 0; i < buffers->n_nodes; i++) {
        appendNode(buffers->nodes[i]->mem, buffers->nodes[i]->size);
        sum += buffers->nodes[i]->size;
    }
    size = buffer_size = total_size < 0 ? sum : total_size;
}

MemoryXFile::MemoryXFile(void* mem, int mem_size, int format_size) {
    init(format_size);
    appendNode(mem, mem_size);
    size = buffer_size = mem_size;
}

MemoryXFile::~MemoryXFile() {}

void MemoryXFile::appendNode(void* mem, int node_size) {
    MemoryXFileNode* node = static_cast<MemoryXFileNode*>(allocator->alloc(sizeof(MemoryXFileNode)));
    node->mem = mem;
    node->size = node_size;
    memory->addNode(node);
}

void MemoryXFile::locate() {
    int start = 0;
    current_buffer = 0;
    offset = position;
    for (int i = 0; i < memory->n_nodes; i++) {
        int s = memory->nodes[i]->size;
        if (position < start + s || i == memory->n_nodes - 1) {
            current_buffer = i;
            offset = position - start;
            return;
        }
        start += s;
    }
}

// Copies n bytes between the buffers (from byte pos on) and a flat block.
static void transfer(MemoryXFileBufferList* list, int pos, char* flat, int n, bool out) {
    int start = 0;
    for (int i = 0; i < list->n_nodes && n > 0; i++) {
        MemoryXFileNode* node = list->nodes[i];
        if (pos < start + node->size) {
            int in_node = pos - start;
            int k = std::min(n, node->size - in_node);
            char* mem = static_cast<char*>(node->mem) + in_node;
            if (out)
                memcpy(flat, mem, (size_t)k);
            else
                memcpy(mem, flat, (size_t)k);
            flat += k;
            pos += k;
            n -= k;
        }
        start += node->size;
    }
}

int MemoryXFile::read(void* buffer, int element_size, int count) {
    if (element_size <= 0 || count <= 0) return 0;
    if (position >= size) {
        is_eof = true;
        return 0;
    }
    long want = (long)element_size * count;
    long left = size - position;
    if (want > left) {
        is_eof = true;
        want = left;
    }
    transfer(memory, position, static_cast<char*>(buffer), (int)want, true);
    position += (int)want;
    locate();
    // Whole elements, as the disk file reports them: a short read is visible to the caller.
    return (int)(want / element_size);
}

int MemoryXFile::write(const void* buffer, int element_size, int count) {
    if (element_size <= 0 || count <= 0) return 0;
    long n = (long)element_size * count;
    const char* src = static_cast<const char*>(buffer);
    long room = buffer_size - position;
    long first = std::min(n, std::max(room, 0L));
    if (first > 0) transfer(memory, position, const_cast<char*>(src), (int)first, false);
    long rest = n - first;
    if (rest > 0) {
        long block = std::max(rest, (long)buffer_size_option);
        void* mem = allocator->alloc(block);
        memcpy(mem, src + first, (size_t)rest);
        appendNode(mem, (int)block);
        buffer_size += (int)block;
    }
    position += (int)n;
    if (position > size) size = position;
    locate();
    return count;
}

int MemoryXFile::eof() { return is_eof ? 1 : 0; }
int MemoryXFile::flush() { return 0; }
int MemoryXFile::tell() { return position; }
void MemoryXFile::rewind() { seek(0, 0); }

int MemoryXFile::seek(int off, int origin) {
    long target;
    switch (origin) {
        case 0: target = off; break;
        case 1: target = (long)position + off; break;
        case 2: target = (long)size - off; break;
        default: target = 0; break;
    }
    if (target > size || target < 0) return -1;
    position = (int)target;
    locate();
    is_eof = false;
    return 0;
}

int MemoryXFile::printf(const char* format, ...) {
    char local[kPrintfBufferSize];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(local, sizeof local, format, args);
    va_end(args);
    if (len < 0) return len;
    if (len < (int)sizeof local) {
        write(local, 1, len);
        return len;
    }
    // Longer than the fixed buffer: format again into one of the right size.
    char* big = static_cast<char*>(checkedMalloc((long)len + 1));
    va_start(args, format);
    vsnprintf(big, (size_t)len + 1, format, args);
    va_end(args);
    write(big, 1, len);
    ::free(big);
    return len;
}

void MemoryXFile::makeContiguous() {
    if (size == 0) return;
    if (memory->n_nodes == 1) {
        MemoryXFileNode* node = memory->nodes[0];
        if (node->size > size && static_cast<char*>(node->mem)[size] == '\0') return;
    }
    char* block = static_cast<char*>(allocator->alloc((long)size + 1));
    transfer(memory, 0, block, size, true);
    block[size] = '\0';
    for (int i = 0; i < memory->n_nodes; i++) {
        MemoryXFileNode* node = memory->nodes[i];
        if (allocator->owns(node->mem)) allocator->free(node->mem);
        allocator->free(node);
    }
    memory->allocator->free(memory->nodes);
    memory->nodes = nullptr;
    memory->n_nodes = 0;
    appendNode(block, size + 1);
    buffer_size = size + 1;
    current_buffer = 0;
    offset = position;
}

int MemoryXFile::scanf(const char* format, void* destination) {
    if (position >= size) {
        is_eof = true;
        return 0;
    }
    makeContiguous();
    int needed = (int)strlen(format) + 3;
    if (needed > format_buffer_size) {
        format_buffer = static_cast<char*>(allocator->realloc(format_buffer, needed));
        format_buffer_size = needed;
    }
    snprintf(format_buffer, (size_t)format_buffer_size, "%s%%n", format);
    const char* data = static_cast<const char*>(memory->nodes[0]->mem) + position;
    int consumed = -1;
    int ret = destination ? sscanf(data, format_buffer, destination, &consumed)
                          : sscanf(data, format_buffer, &consumed);
    // No count means the format stopped matching: treat the rest as unreadable, like end of input.
    if (ret == -1 || consumed < 0)
        position = size;
    else
        position += consumed;
    if (position > size) error("MemoryXFile: fatal read error, you have a bug in your code!");
    offset = position;
    if (position == size) is_eof = true;
    return ret;
}

char* MemoryXFile::gets(char* buffer, int buffer_len) {
    if (position >= size) {
        is_eof = true;
        return nullptr;
    }
    if (buffer_len <= 0) return nullptr;
    int left = size - position;
    int max = buffer_len - 1;
    int n = 0;
    bool line_end = false;
    while (n < max && position < size) {
        char c;
        transfer(memory, position, &c, 1, true);
        buffer[n++] = c;
        position++;
        if (c == '\n') {
            line_end = true;
            break;
        }
    }
    buffer[n] = '\0';
    if (left < max) is_eof = true;
    if (line_end) is_eof = false;
    locate();
    return buffer;
}

}  // namespace vision
