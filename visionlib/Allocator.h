#pragma once
// Owns memory blocks and objects; releasing the allocator releases everything it holds, newest first.
#include <cstddef>
#include <unordered_map>

namespace vision {

class Object;

enum AllocatorKind {
    ALLOC_PLAIN = 0,          // released with free
    ALLOC_OBJECT = 1,         // an Object allocated here: deleting destructor
    ALLOC_PLACED_OBJECT = 2,  // an Object in memory owned elsewhere: destructor only
};

struct AllocatorNode {
    void* ptr;
    int kind;
    AllocatorNode* prev;
    AllocatorNode* next;
    AllocatorNode* older;  // an earlier node for the same pointer (an object placed at a block's start)
};

class Allocator {
public:
    AllocatorNode* head;  // newest first

    Allocator();
    ~Allocator();
    Allocator(const Allocator&) = delete;
    Allocator& operator=(const Allocator&) = delete;

    void* alloc(long size, int kind = ALLOC_PLAIN);
    // Only for plain blocks; an object block is fatal.
    void* realloc(void* ptr, long size);
    void* free(void* ptr);
    void track(void* ptr, int kind);
    int untrack(void* ptr);
    AllocatorNode* owns(void* ptr);
    void adopt(void* ptr, Allocator* other);
    void adoptAll(Allocator* other);
    void freeAll();

private:
    // The newest node of each pointer: ownership look-ups in constant time, however many blocks.
    std::unordered_map<void*, AllocatorNode*> index;
    void release(void* ptr, int kind);
};

// Size <= 0 gives NULL; failure to allocate is fatal.
void* checkedMalloc(long size);
// Size <= 0 frees the block and gives NULL; failure is fatal.
void* checkedRealloc(void* ptr, long size);

}  // namespace vision
