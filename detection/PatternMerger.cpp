#include "detection/PatternMerger.h"

#include "visionlib/Message.h"

namespace vision {

PatternMerger::PatternMerger() : count(0) { addBoolOption("verbose", &verbose, false, "verbose"); }

meanRectPatternMerger::meanRectPatternMerger() { reset(); }

void meanRectPatternMerger::reset() {
    if (verbose) print(" * meanRectPatternMerger::reset()\n");
    sum_cx = sum_cy = sum_w = sum_h = sum_scale = sum_view = sum_confidence = 0;
    max_confidence = -1000;
    count = 0;
}

void meanRectPatternMerger::add(const Pattern& p) {
    sum_cx += p.x + p.w * 0.5f;
    sum_cy += p.y + p.h * 0.5f;
    sum_w += p.w;
    sum_h += p.h;
    sum_scale += p.scale;
    sum_view += (real)p.view;
    sum_confidence += p.confidence;
    if (p.confidence > max_confidence) max_confidence = p.confidence;
    if (verbose) print(" + meanRectPatternMerger::add(%d): %2.3f max=%2.3f\n", count, p.confidence, max_confidence);
    count++;
}

bool meanRectPatternMerger::merge(Pattern& out) {
    const real a = 1.0f / (real)count;
    const real cx = sum_cx * a, cy = sum_cy * a, w = sum_w * a, h = sum_h * a;
    out.w = (int)w;
    out.h = (int)h;
    out.x = (int)(cx - w * 0.5f);
    out.y = (int)(cy - h * 0.5f);
    out.scale = sum_scale * a;
    out.view = (int)(sum_view * a);
    out.confidence = sum_confidence * a;
    if (verbose) print(" > meanRectPatternMerger::merge(): %2.3f\n", out.confidence);
    return true;
}

maxRectPatternMerger::maxRectPatternMerger() { reset(); }

void maxRectPatternMerger::reset() {
    if (verbose) print(" * maxRectPatternMerger::reset()\n");
    count = 0;
    best_confidence = -1000;
}

void maxRectPatternMerger::add(const Pattern& p) {
    if (count == 0 || p.confidence > best_confidence) {
        best.copy(&p);
        best_confidence = p.confidence;
    }
    if (verbose) print(" + maxRectPatternMerger::add(%d): %2.3f max=%2.3f\n", count, p.confidence, best_confidence);
    count++;
}

bool maxRectPatternMerger::merge(Pattern& out) {
    out.copy(&best);
    if (verbose) print(" > maxRectPatternMerger::merge(): %2.3f\n", out.confidence);
    return true;
}

}  // namespace vision
