#include "visionlib/ipMirror.h"

#include <cstring>

#include "visionlib/Message.h"

namespace vision {

ipMirror::ipMirror(int width_, int height_, const char* coding_)
    : ipCore(coding_), width(width_), height(height_) {
    output = new (allocator) Sequence(1, n_planes * width * height);
}

ipMirror::~ipMirror() {}

void ipMirror::process(Sequence* input) {
    if (coding_id == CODING_FLOAT) {
        message("ipMirror::process() not implemented for float format");
        return;
    }
    const real* src = input->frames[0];
    real* dst = output->frames[0];
    const int np = n_planes;
    for (int y = 0; y < height; y++) {
        const real* srow = src + (long)y * width * np;
        real* drow = dst + (long)y * width * np;
        for (int x = 0; x < width; x++)
            memcpy(drow + x * np, srow + (width - 1 - x) * np, sizeof(real) * np);
    }
}

}  // namespace vision
