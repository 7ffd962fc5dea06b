#pragma once
// Saves small pieces of memory and writes them back on pop, newest first.
#include "visionlib/Object.h"

namespace vision {

struct MemoryStackNode {
    void* address;
    void* copy;  // saved bytes, or NULL
    int size;    // bytes
};

class MemoryStack : public Object {
public:
    MemoryStackNode* stack;
    int stack_capacity;  // records
    int n_stacked;

    MemoryStack();
    ~MemoryStack() override;
    void push(void* address, int size);
    // Popping an empty stack is fatal.
    void pop();
};

}  // namespace vision
