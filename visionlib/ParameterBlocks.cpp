#include "visionlib/ParameterBlocks.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/XFile.h"

namespace vision {

ParameterBlocks::ParameterBlocks() : data(nullptr), n_data(0), size(nullptr), n_params(0) {}

ParameterBlocks::ParameterBlocks(int n) : ParameterBlocks() {
    if (n <= 0) return;
    data = static_cast<real**>(allocator->alloc(sizeof(real*)));
    size = static_cast<int*>(allocator->alloc(sizeof(int)));
    data[0] = static_cast<real*>(allocator->alloc((long)sizeof(real) * n));
    size[0] = n;
    n_data = 1;
    n_params = n;
}

ParameterBlocks::~ParameterBlocks() {}

void ParameterBlocks::add(real* block, int n, bool copy) {
    if (!block) return;
    if (n < 0) error("ParameterBlocks: cannot add a block of negative size (%d)", n);
    data = static_cast<real**>(allocator->realloc(data, (long)sizeof(real*) * (n_data + 1)));
    size = static_cast<int*>(allocator->realloc(size, (long)sizeof(int) * (n_data + 1)));
    real* stored = block;
    if (copy) {
        stored = static_cast<real*>(allocator->alloc((long)sizeof(real) * n));
        if (n > 0) memcpy(stored, block, sizeof(real) * (size_t)n);
    }
    data[n_data] = stored;
    size[n_data] = n;
    n_data++;
    n_params += n;
}

void ParameterBlocks::add(ParameterBlocks* other, bool copy) {
    if (!other) return;
    for (int i = 0; i < other->n_data; i++) add(other->data[i], other->size[i], copy);
}

void ParameterBlocks::copy(ParameterBlocks* other) {
    if (n_params == 0) return;
    if (other->n_params < n_params)
        error("ParameterBlocks: cannot copy %d values from parameters of %d values", n_params,
              other->n_params);
    int src_block = 0, src_pos = 0;
    for (int i = 0; i < n_data; i++) {
        for (int j = 0; j < size[i]; j++) {
            while (src_pos >= other->size[src_block]) {
                src_block++;
                src_pos = 0;
            }
            data[i][j] = other->data[src_block][src_pos++];
        }
    }
}

void ParameterBlocks::copyFrom(const real* values) {
    for (int i = 0; i < n_data; i++) {
        if (size[i] > 0) memcpy(data[i], values, sizeof(real) * (size_t)size[i]);
        values += size[i];
    }
}

void ParameterBlocks::copyTo(real* values) {
    for (int i = 0; i < n_data; i++) {
        if (size[i] > 0) memcpy(values, data[i], sizeof(real) * (size_t)size[i]);
        values += size[i];
    }
}

void ParameterBlocks::loadXFile(XFile* file) {
    for (int i = 0; i < n_data; i++) file->taggedRead(data[i], sizeof(real), size[i], "PARAMS");
}

void ParameterBlocks::saveXFile(XFile* file) {
    for (int i = 0; i < n_data; i++) file->taggedWrite(data[i], sizeof(real), size[i], "PARAMS");
}

}  // namespace vision
