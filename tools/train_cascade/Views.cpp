#include "tools/train_cascade/Views.h"

#include <algorithm>
#include <cmath>

#include "visionlib/ipRotate.h"

namespace cascade_training {

float viewDegrees(int view) {
    static const float degrees[] = {0, 22.5f, -22.5f, 45, -45, 22.5f, -22.5f, 45, -45};
    return view >= 0 && view <= 8 ? degrees[view] : 0;
}

GrayFrame detectorSized(const GrayFrame& f) {
    const int k = std::max(1, 240 / std::max(1, f.height));
    if (k == 1) return f;
    GrayFrame g;
    g.width = f.width * k;
    g.height = f.height * k;
    g.pixels.resize(static_cast<size_t>(g.width) * g.height);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            g.pixels[static_cast<size_t>(y) * g.width + x] = bilinear(f, (x + 0.5f) / k - 0.5f, (y + 0.5f) / k - 0.5f);
    return g;
}

namespace {

bool sameFace(const Window& a, const Window& b) {
    const float d = std::hypot((a.x + a.w * 0.5f) - (b.x + b.w * 0.5f), (a.y + a.h * 0.5f) - (b.y + b.h * 0.5f));
    return d <= 0.2f * a.w && std::abs(a.w - b.w) <= 0.15f * a.w;
}

// Codes the square window of width w centred on (cx, cy), as given and in jittered variants.
void addWindow(FrameCodes& codes, float cx, float cy, float w0, int jitters, std::mt19937& rng, SampleSet* set) {
    std::uniform_real_distribution<float> shift(-0.06f, 0.06f), scale(0.92f, 1.08f);
    uint16_t row[kLocations];
    for (int j = 0; j <= jitters; ++j) {
        const float sc = j ? scale(rng) : 1.0f, dx = j ? shift(rng) * w0 : 0, dy = j ? shift(rng) * w0 : 0;
        const int w = static_cast<int>(std::lround(w0 * sc));
        const int x = static_cast<int>(std::lround(cx + dx - w * 0.5f));
        const int y = static_cast<int>(std::lround(cy + dy - w * 0.5f));
        if (w < 19 || x < 2 || y < 2 || x + w > codes.width() - 2 || y + w > codes.height() - 2) continue;
        codes.codes(x, y, w, row);
        set->add(row);
    }
}

}  // namespace

GrayFrame turned(const GrayFrame& f, float degrees, float x, float y, float* xo, float* yo) {
    vision::Sequence in(1, f.width * f.height);
    for (int i = 0; i < f.width * f.height; ++i) in.frames[0][i] = f.pixels[i];
    vision::ipRotate rotate(degrees, f.width, f.height, "gray");
    rotate.process(&in);
    GrayFrame out;
    out.width = rotate.getOutputWidth();
    out.height = rotate.getOutputHeight();
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    const vision::real* v = rotate.output->frames[0];
    for (size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = static_cast<unsigned char>(std::lround(std::max(0.0f, std::min(255.0f, v[i]))));
    double dx, dy;
    rotate.forwardPoint(static_cast<double>(x), static_cast<double>(y), &dx, &dy);
    *xo = static_cast<float>(dx);
    *yo = static_cast<float>(dy);
    return out;
}

PersonFrames findFaces(const std::string& folder, const std::string& cascade, float threshold) {
    PersonFrames p;
    std::vector<std::string> files = facekit::listPgm(folder);
    const size_t n = files.size();
    p.frames.resize(n);
    p.boxes.resize(n);
    p.known.assign(n, false);
    std::vector<bool> has(n, false);
    for (size_t i = 0; i < n; ++i) {
        GrayFrame raw;
        if (!loadGray(files[i], &raw)) continue;
        p.frames[i] = detectorSized(raw);
        FrameCodes codes(p.frames[i]);
        ScanSettings s;
        s.threshold = threshold;
        std::vector<Window> found = facekit::scanFrame(codes, cascade, s);
        if (!found.empty() && found[0].activation >= 2) p.boxes[i] = found[0], has[i] = true;
    }
    for (size_t i = 0; i < n; ++i)
        p.known[i] = has[i] && ((i > 0 && has[i - 1] && sameFace(p.boxes[i], p.boxes[i - 1])) ||
                                (i + 1 < n && has[i + 1] && sameFace(p.boxes[i], p.boxes[i + 1])));
    for (size_t i = 0; i < n; ++i) {
        if (!p.known[i]) continue;
        for (size_t j = i + 2; j <= i + 3 && j < n; ++j) {
            if (!p.known[j] || !sameFace(p.boxes[i], p.boxes[j])) continue;
            for (size_t k = i + 1; k < j; ++k) {
                if (p.known[k] || p.frames[k].width == 0) continue;
                const float t = static_cast<float>(k - i) / static_cast<float>(j - i);
                auto mix = [t](int a, int b) { return static_cast<int>(std::lround(a + t * (b - a))); };
                const Window& a = p.boxes[i];
                const Window& b = p.boxes[j];
                p.boxes[k] = {mix(a.x, b.x), mix(a.y, b.y), mix(a.w, b.w), mix(a.h, b.h), 0, 0};
                p.known[k] = true;
            }
            break;
        }
    }
    return p;
}

void addBoxes(const PersonFrames& person, float degrees, int jitters, std::mt19937& rng, SampleSet* set) {
    for (size_t i = 0; i < person.frames.size(); ++i) {
        if (!person.known[i]) continue;
        const Window& b = person.boxes[i];
        for (int flip = 0; flip < 2; ++flip) {
            GrayFrame frame = flip ? mirrored(person.frames[i]) : person.frames[i];
            float cx = flip ? frame.width - (b.x + b.w * 0.5f) : b.x + b.w * 0.5f, cy = b.y + b.h * 0.5f;
            if (degrees != 0) frame = turned(frame, degrees, cx, cy, &cx, &cy);
            FrameCodes codes(frame);
            addWindow(codes, cx, cy, static_cast<float>(b.w), jitters, rng, set);
        }
    }
}

void addTurned(const PersonFrames& person, float degrees, int jitters, std::mt19937& rng, SampleSet* set) {
    const size_t n = person.frames.size();
    if (n < 2) return;
    std::vector<Window> frontal;
    for (size_t i = n - n / 6 - 1; i < n; ++i)
        if (person.known[i]) frontal.push_back(person.boxes[i]);
    if (frontal.empty()) return;
    auto median = [&](int Window::*field) {
        std::vector<int> v;
        for (const Window& w : frontal) v.push_back(w.*field);
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    const Window box{median(&Window::x), median(&Window::y), median(&Window::w), median(&Window::h), 0, 0};
    for (size_t i = 0; i < n; ++i) {
        const float pose = 90.0f * (1.0f - static_cast<float>(i) / static_cast<float>(n - 1));
        if (std::abs(pose - std::abs(degrees)) > 11.25f || person.frames[i].width == 0) continue;
        const bool flip = degrees < 0;
        const GrayFrame frame = flip ? mirrored(person.frames[i]) : person.frames[i];
        const float cx = flip ? frame.width - (box.x + box.w * 0.5f) : box.x + box.w * 0.5f;
        FrameCodes codes(frame);
        addWindow(codes, cx, box.y + box.h * 0.5f, static_cast<float>(box.w), jitters, rng, set);
    }
}

GrayFrame turnedPatch(const GrayFrame& patch, float degrees) {
    GrayFrame padded;
    padded.width = padded.height = 39;
    padded.pixels.resize(39 * 39);
    for (int y = 0; y < 39; ++y)
        for (int x = 0; x < 39; ++x)
            padded.pixels[y * 39 + x] = patch.at(std::max(0, std::min(18, x - 10)), std::max(0, std::min(18, y - 10)));
    float cx, cy;
    GrayFrame t = turned(padded, degrees, 19.5f, 19.5f, &cx, &cy);
    GrayFrame out;
    out.width = out.height = 19;
    out.pixels.resize(19 * 19);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 19; ++x) out.pixels[y * 19 + x] = bilinear(t, cx - 9.5f + x, cy - 9.5f + y);
    return out;
}

}  // namespace cascade_training
