#include "visionlib/ipShift.h"

#include <cstring>

#include "visionlib/Message.h"

namespace vision {

ipShift::ipShift(int width_, int height_, const char* coding_)
    : ipCore(coding_), width(width_), height(height_) {
    addIntOption("shiftx", &shiftx, 0, "x shift");
    addIntOption("shifty", &shifty, 0, "y shift");
    output = new (allocator) Sequence(1, n_planes * width * height);
}

ipShift::~ipShift() {}

void ipShift::process(Sequence* input) {
    if (coding_id == CODING_FLOAT) {
        message("ipShift::process() not implemented for float format");
        return;
    }
    const real* src = input->frames[0];
    real* dst = output->frames[0];
    const int np = n_planes;
    for (int y = 0; y < height; y++) {
        const long yd = (long)y + shifty;
        if (yd < 0 || yd >= height) continue;
        for (int x = 0; x < width; x++) {
            const long xd = (long)x + shiftx;
            if (xd < 0 || xd >= width) continue;
            memcpy(dst + (yd * width + xd) * np, src + ((long)y * width + x) * np, sizeof(real) * np);
        }
    }
}

}  // namespace vision
