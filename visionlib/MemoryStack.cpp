#include "visionlib/MemoryStack.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

MemoryStack::MemoryStack() : stack(nullptr), stack_capacity(0), n_stacked(0) {}

MemoryStack::~MemoryStack() {}

void MemoryStack::push(void* address, int size) {
    if (size < 0) error("MemoryStack: cannot push a negative size (%d)", size);
    if (n_stacked == stack_capacity) {
        stack_capacity++;
        stack = static_cast<MemoryStackNode*>(
            allocator->realloc(stack, (long)sizeof(MemoryStackNode) * stack_capacity));
    }
    MemoryStackNode& node = stack[n_stacked++];
    node.address = address;
    node.size = size;
    node.copy = nullptr;
    if (address && size > 0) {
        node.copy = allocator->alloc(size);
        memcpy(node.copy, address, (size_t)size);
    }
}

void MemoryStack::pop() {
    if (n_stacked == 0) error("MemoryStack: cannot pop an empty stack");
    MemoryStackNode& node = stack[--n_stacked];
    if (node.copy) {
        memcpy(node.address, node.copy, (size_t)node.size);
        allocator->free(node.copy);
        node.copy = nullptr;
    }
}

}  // namespace vision
