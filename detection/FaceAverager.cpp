#include "detection/FaceAverager.h"

#include <algorithm>
#include <cmath>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

FaceAverager::FaceAverager(FaceTrackingSettings* settings_, bool verbose_) : settings(settings_), verbose(verbose_) {
    if (settings == nullptr) error("FaceAverager: no settings provided.");
    // Settings made by hand may hold zeros; a track needs at least one slot and one history entry.
    n_tracks = std::max(1, settings->max_faces);
    length = std::max(1, settings->averager_length.value);
    current = (int*)allocator->alloc((long)sizeof(int) * n_tracks);
    active = (bool*)allocator->alloc((long)sizeof(bool) * n_tracks);
    produced = (int*)allocator->alloc((long)sizeof(int) * n_tracks);
    history = (FaceInfo***)allocator->alloc((long)sizeof(FaceInfo**) * n_tracks);
    for (int i = 0; i < n_tracks; i++) {
        history[i] = (FaceInfo**)allocator->alloc((long)sizeof(FaceInfo*) * length);
        for (int k = 0; k < length; k++) history[i][k] = new (allocator) FaceInfo();
    }
    faces = (FaceInfo**)allocator->alloc((long)sizeof(FaceInfo*) * n_tracks);
    for (int i = 0; i < n_tracks; i++) faces[i] = new (allocator) FaceInfo();
    n_faces = 0;
    FaceAverager::reset();
}

void FaceAverager::reset() {
    n_faces = 0;
    for (int i = 0; i < n_tracks; i++) {
        for (int k = 0; k < length; k++) history[i][k]->reset();
        faces[i]->reset();
        current[i] = 0;
        active[i] = false;
        produced[i] = -1;
    }
}

void FaceAverager::print() {
    vision::print("current: ");
    for (int i = 0; i < n_tracks; i++) vision::print("%d ", current[i]);
    vision::print("   activ: ");
    for (int i = 0; i < n_tracks; i++) vision::print("%d ", (int)active[i]);
    vision::print("  n_faces: %d [%d-%d]\n", n_faces, n_tracks, length);
}

void FaceAverager::store(int track, const FaceInfo& face) {
    history[track][current[track]]->copyFrom(face);
    current[track] = (current[track] + 1) % length;
    active[track] = true;
}

void FaceAverager::matchFaces(int n, FaceInfo** newFaces) {
    if (verbose) vision::print("%s::add() ...\n", className());
    n = std::max(0, n);
    bool* matched = (bool*)allocator->alloc((long)sizeof(bool) * std::max(n, 1));
    std::fill(matched, matched + std::max(n, 1), false);

    for (int i = 0; i < n_tracks; i++) {
        if (!active[i]) continue;
        active[i] = false;
        const int out = produced[i];
        if (out >= 0) {
            const FaceInfo& last = *faces[out];
            if (verbose) {
                vision::print("Face %d match:\n", i);
                last.print();
            }
            for (int j = 0; j < n; j++) {
                if (matched[j]) continue;
                if (verbose) {
                    vision::print("   face %d ?\n", j);
                    newFaces[j]->print();
                }
                if (!matches(last, *newFaces[j])) continue;
                store(i, *newFaces[j]);
                matched[j] = true;
            }
        }
        if (!active[i]) {  // nothing matched: the track ends at once
            current[i] = 0;
            for (int k = 0; k < length; k++) history[i][k]->reset();
        }
    }

    for (int j = 0; j < n; j++) {
        if (matched[j]) continue;
        int free = -1;
        for (int i = 0; i < n_tracks && free < 0; i++)
            if (!active[i]) free = i;
        if (free < 0) break;  // every track busy: the rest is dropped
        store(free, *newFaces[j]);
        matched[j] = true;
    }
    allocator->free(matched);
}

void FaceAverager::averageTracks() {
    if (verbose) vision::print("%s::average() ...\n", className());
    n_faces = 0;
    for (int i = 0; i < n_tracks; i++) {
        faces[i]->reset();
        produced[i] = -1;
    }
    for (int i = 0; i < n_tracks; i++) {
        if (!active[i]) continue;
        FaceInfo& out = *faces[n_faces];
        out.score = 0;
        int valid = 0, nIn = 0, nOut = 0;
        long long sx = 0, sy = 0, sw = 0, sh = 0;
        real inScore = 0, inAngle = 0, outScore = 0, outAngle = 0;
        for (int k = 0; k < length; k++) {
            const FaceInfo& h = *history[i][k];
            if (h.bbx_width == 0) continue;
            valid++;
            sx += h.bbx_x;
            sy += h.bbx_y;
            sw += h.bbx_width;
            sh += h.bbx_height;
            if (h.inplane) {
                nIn++;
                inScore += h.score;
                inAngle += h.angle;
            }
            if (h.outplane) {
                nOut++;
                outScore += h.score;
                outAngle += h.angle;
            }
        }
        if (valid == 0) {
            out.reset();
            continue;
        }
        const real inMeanScore = nIn ? inScore / nIn : 0, inMeanAngle = nIn ? inAngle / nIn : 0;
        const real outMeanScore = nOut ? outScore / nOut : 0, outMeanAngle = nOut ? outAngle / nOut : 0;
        if (verbose) {
            vision::print("Averaging face %d:\n", i);
            vision::print("cnt inplane = %d (%g)\n", nIn, (double)inMeanScore);
            vision::print("cnt outplane = %d (%g)\n", nOut, (double)outMeanScore);
        }
        if (inMeanScore <= outMeanScore) {
            out.outplane = true;
            out.inplane = false;
            out.score = outMeanScore;
            out.angle = outMeanAngle;
            if (verbose) vision::print("-> outplane : angle=%g  score=%g\n", (double)out.angle, (double)out.score);
        } else {
            out.inplane = true;
            out.outplane = false;
            out.score = inMeanScore;
            out.angle = inMeanAngle;
            if (verbose) vision::print("-> inplane : angle=%g  score=%g\n", (double)out.angle, (double)out.score);
        }
        out.bbx_x = (int32_t)(sx / valid);
        out.bbx_y = (int32_t)(sy / valid);
        out.bbx_width = (int32_t)(sw / valid);
        out.bbx_height = (int32_t)(sh / valid);
        out.computeEyesFromBbx();
        out.id = n_faces;
        produced[i] = n_faces;
        n_faces++;
    }
}

namespace {

inline long long centreX(const FaceInfo& f) { return (long long)f.bbx_x + f.bbx_width / 2; }
inline long long centreY(const FaceInfo& f) { return (long long)f.bbx_y + f.bbx_height / 2; }

}  // namespace

RokelFaceAverager::RokelFaceAverager(FaceTrackingSettings* settings, bool verbose) : FaceAverager(settings, verbose) {}

void RokelFaceAverager::add(int n, FaceInfo** newFaces) { matchFaces(n, newFaces); }

void RokelFaceAverager::average() { averageTracks(); }

bool RokelFaceAverager::matches(const FaceInfo& t, const FaceInfo& f) {
    const long long dx = centreX(t) - centreX(f), dy = centreY(t) - centreY(f);
    const long long d = dx * dx + dy * dy;
    if (verbose) vision::print("Similarity: d=%g\n", (double)d);
    return d < settings->max_distance.value;
}

VimboFaceAverager::VimboFaceAverager(FaceTrackingSettings* settings, bool verbose) : FaceAverager(settings, verbose) {}

void VimboFaceAverager::add(int n, FaceInfo** newFaces) { matchFaces(n, newFaces); }

void VimboFaceAverager::average() { averageTracks(); }

bool VimboFaceAverager::matches(const FaceInfo& t, const FaceInfo& f) {
    const long long dx = (long long)t.bbx_x - f.bbx_x, dy = (long long)t.bbx_y - f.bbx_y;
    const long long d = dx * dx + dy * dy;
    const long long s = (long long)f.bbx_width - t.bbx_width;
    if (verbose) vision::print("Similarity: d=%lld  s=%lld\n", d, s);
    const long long maxDelta = settings->max_delta_width.value;
    return d <= settings->max_distance.value && s >= -maxDelta && s <= maxDelta;
}

stdCorrelationFaceAverager::stdCorrelationFaceAverager(FaceTrackingSettings* settings, bool verbose)
    : FaceAverager(settings, verbose) {
    distance = new (allocator) StdCorrelationDistance(3);
}

void stdCorrelationFaceAverager::add(int n, FaceInfo** newFaces) { matchFaces(n, newFaces); }

void stdCorrelationFaceAverager::average() { averageTracks(); }

bool stdCorrelationFaceAverager::matches(const FaceInfo& t, const FaceInfo& f) {
    const float a[3] = {(float)centreX(t), (float)centreY(t), (float)t.bbx_width};
    const float b[3] = {(float)centreX(f), (float)centreY(f), (float)f.bbx_width};
    const float d = distance->distance(a, b);
    if (verbose) vision::print("Similarity: d=%g\n", (double)d);
    return d < settings->correlation_threshold.value;  // not a number never matches
}

NullFaceAverager::NullFaceAverager(FaceTrackingSettings* settings, bool verbose) : FaceAverager(settings, verbose) {}

}  // namespace vision
