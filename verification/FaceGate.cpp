#include "verification/FaceGate.h"

#include <algorithm>

namespace vision {

namespace {

// Beyond any frame count a gate asks for; keeps the count from overflowing.
const int kLongHeld = 1 << 20;

// Intersection at least half of the union.
bool overlapByHalf(long long ax, long long ay, long long aw, long long ah, long long bx, long long by, long long bw,
                   long long bh) {
    if (aw <= 0 || ah <= 0 || bw <= 0 || bh <= 0) return false;
    const long long x0 = std::max(ax, bx), y0 = std::max(ay, by);
    const long long x1 = std::min(ax + aw, bx + bw), y1 = std::min(ay + ah, by + bh);
    if (x1 <= x0 || y1 <= y0) return false;
    const long long inter = (x1 - x0) * (y1 - y0);
    return 2 * inter >= aw * ah + bw * bh - inter;
}

}  // namespace

bool FaceGate::admit(unsigned count, const FaceInfo* faces) {
    std::vector<Held> current;
    for (unsigned i = 0; i < count; i++) {
        int frames = 1;
        const FaceInfo& f = faces[i];
        for (const Held& h : previous)
            if (overlapByHalf(h.x, h.y, h.width, h.height, f.bbx_x, f.bbx_y, f.bbx_width, f.bbx_height))
                frames = std::max(frames, std::min(h.frames, kLongHeld) + 1);
        current.push_back({f.bbx_x, f.bbx_y, f.bbx_width, f.bbx_height, frames});
    }
    previous.swap(current);
    // NaN compares false: a face without a score is not a face.
    return count > 0 && faces[0].score >= minScore && previous[0].frames >= minFrames;
}

}  // namespace vision
