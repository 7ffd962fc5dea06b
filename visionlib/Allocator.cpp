#include "visionlib/Allocator.h"

#include <cstdlib>

#include "visionlib/Message.h"
#include "visionlib/Object.h"

namespace vision {

void* checkedMalloc(long size) {
    if (size <= 0) return nullptr;
    void* p = ::malloc((size_t)size);
    if (!p) error("Allocator: not enough memory. Buy new ram");
    return p;
}

void* checkedRealloc(void* ptr, long size) {
    if (size <= 0) {
        ::free(ptr);
        return nullptr;
    }
    void* p = ::realloc(ptr, (size_t)size);
    if (!p) error("Allocator: not enough memory. Buy new ram");
    return p;
}

Allocator::Allocator() : head(nullptr) {}

Allocator::~Allocator() { freeAll(); }

void* Allocator::alloc(long size, int kind) {
    if (size == 0) return nullptr;
    if (size < 0) error("Allocator: not enough memory. Buy new ram.");
    void* p = ::malloc((size_t)size);
    if (!p) error("Allocator: not enough memory. Buy new ram");
    track(p, kind);
    return p;
}

void* Allocator::realloc(void* ptr, long size) {
    if (size == 0) {
        if (ptr) free(ptr);
        return nullptr;
    }
    if (!ptr) return alloc(size, ALLOC_PLAIN);
    AllocatorNode* node = owns(ptr);
    if (!node) error("Allocator: cannot realloc a pointer which is not mine.");
    // Moving an object would leave its own pointers and vtable users dangling.
    if (node->kind != ALLOC_PLAIN) error("Allocator: cannot realloc an object.");
    if (size < 0) {
        untrack(ptr);
        ::free(ptr);
        error("Allocator: not enough memory. Buy new ram.");
    }
    void* moved = checkedRealloc(ptr, size);
    if (moved != ptr) {
        if (node->older)
            index[ptr] = node->older;
        else
            index.erase(ptr);
        node->ptr = moved;
        auto& newest = index[moved];
        node->older = newest;
        newest = node;
    }
    return node->ptr;
}

void Allocator::release(void* ptr, int kind) {
    switch (kind) {
        case ALLOC_OBJECT:
            delete static_cast<Object*>(ptr);
            break;
        case ALLOC_PLACED_OBJECT:
            static_cast<Object*>(ptr)->~Object();
            break;
        default:
            ::free(ptr);
            break;
    }
}

void* Allocator::free(void* ptr) {
    if (!ptr) return nullptr;
    release(ptr, untrack(ptr));
    return nullptr;
}

void Allocator::track(void* ptr, int kind) {
    AllocatorNode* node = static_cast<AllocatorNode*>(::malloc(sizeof(AllocatorNode)));
    if (!node) error("Allocator: not enough memory. Buy new ram");
    node->ptr = ptr;
    node->kind = kind;
    node->prev = nullptr;
    node->next = head;
    auto& newest = index[ptr];
    node->older = newest;
    newest = node;
    if (head) head->prev = node;
    head = node;
}

int Allocator::untrack(void* ptr) {
    AllocatorNode* node = owns(ptr);
    if (!node) error("Allocator: cannot release a pointer which is not mine.");
    if (node->prev)
        node->prev->next = node->next;
    else
        head = node->next;
    if (node->next) node->next->prev = node->prev;
    if (node->older)
        index[ptr] = node->older;
    else
        index.erase(ptr);
    int kind = node->kind;
    ::free(node);
    return kind;
}

AllocatorNode* Allocator::owns(void* ptr) {
    const auto found = index.find(ptr);
    return found == index.end() ? nullptr : found->second;
}

void Allocator::adopt(void* ptr, Allocator* other) { track(ptr, other->untrack(ptr)); }

void Allocator::adoptAll(Allocator* other) {
    while (other->head) adopt(other->head->ptr, other);
}

void Allocator::freeAll() {
    while (head) {
        void* ptr = head->ptr;
        release(ptr, untrack(ptr));
    }
}

}  // namespace vision
