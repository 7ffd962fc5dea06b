#include "tools/facekit/Matching.h"

#include <algorithm>
#include <cmath>

#include "visionlib/filter/FaceInfo.h"

namespace facekit {

bool matches(const Window& d, const MarkedFace& g) {
    const float cx = d.x + d.w * 0.5f, cy = d.y + d.h * 0.5f;
    const float ratio = d.w / g.w;
    return cx >= g.x && cx <= g.x + g.w && cy >= g.y && cy <= g.y + g.h && ratio >= 0.5f && ratio <= 2.0f;
}

std::vector<int> matchDetections(const std::vector<Window>& dets, const std::vector<MarkedFace>& faces) {
    struct Pair { float d; int det; int face; };
    std::vector<Pair> pairs;
    for (int i = 0; i < static_cast<int>(dets.size()); ++i)
        for (int f = 0; f < static_cast<int>(faces.size()); ++f) {
            const Window& d = dets[i];
            const MarkedFace& g = faces[f];
            if (!matches(d, g)) continue;
            const float cx = d.x + d.w * 0.5f, cy = d.y + d.h * 0.5f;
            pairs.push_back({std::hypot(cx - (g.x + g.w * 0.5f), cy - (g.y + g.h * 0.5f)), i, f});
        }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.d < b.d; });
    std::vector<int> match(dets.size(), -1);
    std::vector<bool> used(faces.size(), false);
    for (const Pair& p : pairs)
        if (match[p.det] < 0 && !used[p.face]) match[p.det] = p.face, used[p.face] = true;
    return match;
}

double eyeError(const Window& d, const Eyes& g) {
    vision::FaceInfo face;
    face.bbx_x = d.x;
    face.bbx_y = d.y;
    face.bbx_width = d.w;
    face.bbx_height = d.h;
    face.computeEyesFromBbx();
    const double dist = std::hypot(g.right_x - g.left_x, g.right_y - g.left_y);
    if (dist <= 0) return -1;
    return (std::hypot(face.left_eye_x - g.left_x, face.left_eye_y - g.left_y) +
            std::hypot(face.right_eye_x - g.right_x, face.right_eye_y - g.right_y)) / (2 * dist);
}

}  // namespace facekit
