#include "tools/facekit/Scan.h"

#include <algorithm>

#include "detection/TrackerDetectors.h"
#include "visionlib/Allocator.h"

namespace facekit {

namespace {

// The tracker's scan of a frame of this size, over the range asked for.
vision::ScanRange rangeFor(int width, int height, const ScanSettings& s) {
    vision::FaceTrackingSettings tracker(1, width, height);
    setScanSteps(tracker, s.step_x_factor, s.step_y_factor);
    vision::ScanRange r(tracker);
    r.min_size = s.min_size;
    r.max_size = std::min(s.max_size, std::min(width, height));
    r.force_multiple = s.force_multiple;
    r.max_patterns = s.capacity;
    return r;
}

}  // namespace

void setScanSteps(vision::FaceTrackingSettings& settings, float step_x_factor, float step_y_factor) {
    if (step_x_factor > 0) settings.step_x_factor.value = step_x_factor;
    if (step_y_factor > 0) settings.step_y_factor.value = step_y_factor;
}

std::vector<Window> scanFrame(FrameCodes& frame, const std::string& cascade, const ScanSettings& s) {
    const int w = frame.width(), h = frame.height();
    std::vector<Window> out;
    if (w < 23 || h < 23) return out;
    vision::Allocator owner;
    // The frame's own integral image: the detector fills it again from the same frame.
    const vision::FrontalDetector d = vision::buildFrontalDetector(
        &owner, cascade.c_str(), s.threshold, w, h, rangeFor(w, h, s), false, frame.integral(),
        s.fuse ? s.fusion_capacity : 0);
    d.detector->overflow = s.overflow;
    d.detector->process(frame.normalised());
    for (int i = 0; i < d.detector->n_patterns; ++i) {
        const vision::Pattern* p = d.detector->patterns[i];
        out.push_back({p->x, p->y, p->w, p->h, p->confidence, p->activation});
    }
    return out;
}

namespace {

void setPattern(const Window& w, vision::Pattern* p) {
    p->x = w.x, p->y = w.y, p->w = w.w, p->h = w.h;
    p->scale = w.w / 19.0f;
    p->view = 0;
    p->confidence = w.confidence;
}

}  // namespace

float windowOverlap(const Window& a, const Window& b) {
    vision::Pattern p, q;
    setPattern(a, &p);
    setPattern(b, &q);
    return vision::patternOverlap(p, q);
}

std::vector<Window> fuseWindows(const std::vector<Window>& raw, float threshold) {
    // The detector reports a lone window as it stands, unfused.
    if (raw.size() < 2) return raw;
    std::vector<Window> out;
    vision::Allocator owner;
    vision::ViewPatternFusion* fusion = vision::buildFrontalFusion(&owner, threshold, static_cast<int>(raw.size()));
    std::vector<vision::Pattern> patterns(raw.size());
    std::vector<vision::Pattern*> sorted;
    for (size_t i = 0; i < raw.size(); ++i) {
        setPattern(raw[i], &patterns[i]);
        sorted.push_back(&patterns[i]);
    }
    vision::sortPatternsByConfidence(sorted.data(), static_cast<int>(sorted.size()));
    if (!fusion->fuse(static_cast<int>(sorted.size()), sorted.data())) return out;
    std::vector<vision::Pattern*> kept(fusion->count);
    kept.resize(vision::keepFusedPatterns(*fusion, fusion->output, fusion->count, kept.data()));
    for (const vision::Pattern* p : kept) out.push_back({p->x, p->y, p->w, p->h, p->confidence, p->activation});
    return out;
}

std::vector<ViewWindow> scanFrameMultiView(FrameCodes& frame, const std::string& directory, const ScanSettings& s) {
    const int w = frame.width(), h = frame.height();
    std::vector<ViewWindow> out;
    if (w < 23 || h < 23) return out;
    vision::Allocator owner;
    const vision::MultiViewDetector d = vision::buildMultiViewDetector(
        &owner, directory.c_str(), s.threshold, false, w, h, rangeFor(w, h, s), false, frame.integral());
    d.detector->overflow = s.overflow;
    d.detector->process(frame.normalised());
    vision::ViewPatternFusion& final_fusion = *d.final_fusion;
    if (d.detector->n_patterns == 0 || !final_fusion.fuse(d.detector->n_patterns, d.detector->patterns)) return out;
    for (int i = 0; i < final_fusion.count; ++i) {
        const vision::Pattern* p = final_fusion.output[i];
        if (p->activation <= 0) continue;
        ViewWindow v;
        v.x = p->x, v.y = p->y, v.w = p->w, v.h = p->h, v.confidence = p->confidence, v.activation = p->activation;
        v.view = p->view;
        out.push_back(v);
    }
    return out;
}

}  // namespace facekit
