#include "tools/train_cascade/EyeFaces.h"

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "tools/facekit/FrameCodes.h"
#include "tools/facekit/Images.h"
#include "tools/train_cascade/Views.h"

namespace cascade_training {

namespace {

// Codes the w-wide window centred on (cx, cy), the picture enlarged first when the window is narrower
// than the pattern; false when the window leaves the picture.
bool codeWindow(const GrayFrame& picture, float cx, float cy, float w, uint16_t* row) {
    GrayFrame enlarged;
    if (w < 19) {
        const float k = 19.0f / w;
        enlarged = facekit::resized(picture, k);
        cx *= k, cy *= k, w = 19;
    }
    const GrayFrame& f = enlarged.width ? enlarged : picture;
    const int size = static_cast<int>(std::lround(w));
    const int x = static_cast<int>(std::lround(cx - size * 0.5f)), y = static_cast<int>(std::lround(cy - size * 0.5f));
    if (size < 19 || x < 2 || y < 2 || x + size > f.width - 2 || y + size > f.height - 2) return false;
    facekit::FrameCodes codes(f);
    codes.codes(x, y, size, row);
    return true;
}

// A face's picture and its mirror image, each with the box its eyes give; false when unreadable.
struct PlacedFace {
    GrayFrame frame;
    facekit::Box box;
};
bool placeFace(const facekit::EyeFace& face, PlacedFace placed[2]) {
    GrayFrame picture;
    if (!facekit::loadGray(face.path, &picture) || picture.width < 8 || picture.height < 8) return false;
    const facekit::Eyes& e = face.eyes;
    placed[1].frame = facekit::mirrored(picture);
    placed[1].box = facekit::boxFromEyes({picture.width - 1 - e.right_x, e.right_y, picture.width - 1 - e.left_x, e.left_y});
    placed[0].frame = std::move(picture);
    placed[0].box = facekit::boxFromEyes(e);
    return true;
}

// The samples of one face; its own random stream keeps the result independent of the threads.
std::vector<uint16_t> faceSamples(const facekit::EyeFace& face, float degrees, int jitters, const EyeJitter& j,
                                  unsigned seed) {
    std::vector<uint16_t> out;
    PlacedFace placed[2];
    if (!placeFace(face, placed)) return out;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> shift(-j.shift, j.shift), turn(-j.degrees, j.degrees),
        logScale(std::log(j.min_scale), std::log(j.max_scale)), chance(0, 1);
    uint16_t row[kLocations];
    for (const PlacedFace& p : placed) {
        const facekit::Box& box = p.box;
        for (int v = 0; v <= jitters; ++v) {
            const float sc = v ? std::exp(logScale(rng)) : 1.0f, dx = v ? shift(rng) : 0, dy = v ? shift(rng) : 0;
            const float deg = degrees + (v ? turn(rng) : 0);
            // Drawn only when asked for, so that the other variants stay what they were without it.
            const bool soft = v && j.soft > 0 && chance(rng) < j.soft;
            float cx = box.x + box.w * 0.5f, cy = box.y + box.w * 0.5f, w = box.w * sc;
            GrayFrame f = deg != 0 ? turned(p.frame, deg, cx, cy, &cx, &cy) : p.frame;
            if (soft) {
                const GrayFrame half = facekit::resized(f, 0.5f);
                f = facekit::resized(half, static_cast<float>(f.width) / half.width);
            }
            cx += dx * box.w;
            cy += dy * box.w;
            if (codeWindow(f, cx, cy, w, row)) out.insert(out.end(), row, row + kLocations);
        }
    }
    return out;
}

std::vector<uint16_t> misplacedSamples(const facekit::EyeFace& face, int per_face, unsigned seed) {
    std::vector<uint16_t> out;
    PlacedFace placed[2];
    if (!placeFace(face, placed)) return out;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0, 1), angle(0, 6.2831853f), small(0.9f, 1.1f),
        narrow(std::log(0.55f), std::log(0.72f)), wide(std::log(1.4f), std::log(1.8f));
    uint16_t row[kLocations];
    for (const PlacedFace& p : placed) {
        const facekit::Box& box = p.box;
        for (int v = 0; v < per_face; ++v) {
            float cx = box.x + box.w * 0.5f, cy = box.y + box.w * 0.5f, w = box.w;
            if (unit(rng) < 0.5f) {  // shifted
                const float d = (0.2f + 0.2f * unit(rng)) * box.w, a = angle(rng);
                cx += d * std::cos(a), cy += d * std::sin(a), w *= small(rng);
            } else {  // another size about the same centre
                w *= std::exp(unit(rng) < 0.5f ? narrow(rng) : wide(rng));
                cx += (unit(rng) - 0.5f) * 0.1f * box.w, cy += (unit(rng) - 0.5f) * 0.1f * box.w;
            }
            if (codeWindow(p.frame, cx, cy, w, row)) out.insert(out.end(), row, row + kLocations);
        }
    }
    return out;
}

template <class Samples>
int addSamples(const std::vector<facekit::EyeFace>& faces, int threads, SampleSet* set, Samples samples) {
    std::vector<std::vector<uint16_t>> rows(faces.size());
    std::atomic<size_t> next{0};
    auto work = [&]() {
        for (size_t i; (i = next++) < faces.size();) rows[i] = samples(faces[i], i);
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < std::max(1, threads); ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    int used = 0;
    for (const std::vector<uint16_t>& r : rows) {
        if (!r.empty()) ++used;
        set->codes.insert(set->codes.end(), r.begin(), r.end());
    }
    return used;
}

}  // namespace

int addEyeFaces(const std::vector<facekit::EyeFace>& faces, float degrees, int jitters, const EyeJitter& jitter,
                unsigned seed, int threads, SampleSet* set) {
    return addSamples(faces, threads, set, [&](const facekit::EyeFace& face, size_t i) {
        return faceSamples(face, degrees, jitters, jitter, seed * 2654435761u + static_cast<unsigned>(i));
    });
}

int addMisplacedFaces(const std::vector<facekit::EyeFace>& faces, int per_face, unsigned seed, int threads,
                      SampleSet* set) {
    return addSamples(faces, threads, set, [&](const facekit::EyeFace& face, size_t i) {
        return misplacedSamples(face, per_face, seed * 2654435761u + static_cast<unsigned>(i));
    });
}

}  // namespace cascade_training
