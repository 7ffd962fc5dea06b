#pragma once
// Growable table of pointers that it does not own; the library's other lists share this code.
#include "visionlib/Allocator.h"
#include "visionlib/Object.h"

namespace vision {

template <typename T>
class BasicPointerList : public Object {
public:
    int n_nodes = 0;
    T** nodes = nullptr;

    void addNode(T* node) {
        nodes = static_cast<T**>(allocator->realloc(nodes, sizeof(T*) * (long)(n_nodes + 1)));
        nodes[n_nodes++] = node;
    }
    void add(BasicPointerList* other) {
        for (int i = 0; other && i < other->n_nodes; i++) addNode(other->nodes[i]);
    }
};

class PointerList : public BasicPointerList<void> {};

}  // namespace vision
