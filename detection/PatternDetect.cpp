#include "detection/PatternDetect.h"

#include "detection/DetectorRound.h"
#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

PatternDetect::PatternDetect(ipSubWindow* ip_sw_, PatternFusion* fusion_, ipIntegralImage* ip_ii_, int width_,
                             int height_, int model_width_, int model_height_, int min_size_, int max_size_,
                             real step_x_factor_, real step_y_factor_, real scale_factor, real mean_min_,
                             real mean_max_, real stdv_min_, real stdv_max_, Sequence* pruning_image_,
                             real pruning_min_, real pruning_max_, int max_patterns, bool verbose_)
    : ip_sw(ip_sw_), ip_ii(ip_ii_), fusion(fusion_), width(width_), height(height_), model_width(model_width_),
      model_height(model_height_), model_ratio(0), sw_min(0), sw_max(0), min_size(min_size_),
      max_size(max_size_), step_x_factor(step_x_factor_), step_y_factor(step_y_factor_), scale(0),
      mean_min(mean_min_), mean_max(mean_max_), stdv_min(stdv_min_), stdv_max(stdv_max_),
      pruning_image(pruning_image_), pruning_min(pruning_min_), pruning_max(pruning_max_), verbose(verbose_),
      n_levels(0), scanners(nullptr), n_rois(0), rois(nullptr), initialised(false), raw(nullptr),
      n_patterns(0), patterns(nullptr), overflow(FusionOverflow::Groups), n_windows(0), n_classified(0),
      n_prune_rejected(0), n_mean_rejected(0), n_stdv_rejected(0), sorted(nullptr), group_of(nullptr),
      members(nullptr), fused(nullptr) {
    if (!ip_sw) error("PatternDetect::PatternDetect() ip_sw is NULL.");
    if (!ip_ii) error("PatternDetect::PatternDetect() ip_ii is NULL.");
    if (scale_factor <= 0) error("scale factor (%g) must be positive!", scale_factor);
    if (model_width <= 0 || model_height <= 0)
        error("PatternDetect::PatternDetect() wrong model size (%dx%d).", model_width, model_height);
    if (ip_ii->width != width || ip_ii->height != height)
        error("PatternDetect::PatternDetect() the integral image does not fit the %dx%d frame.", width, height);
    model_ratio = (real)model_height / (real)model_width;
    scale = 1.0f + scale_factor;
    default_roi[0] = 1;
    default_roi[1] = 1;
    default_roi[2] = width;
    default_roi[3] = height;
    raw = new (allocator) PatternList(model_width, model_height, max_patterns);
    if (max_patterns > 0) {
        sorted = static_cast<Pattern**>(allocator->alloc((long)sizeof(Pattern*) * max_patterns));
        patterns = static_cast<Pattern**>(allocator->alloc((long)sizeof(Pattern*) * max_patterns));
        group_of = static_cast<int*>(allocator->alloc((long)sizeof(int) * max_patterns));
        members = static_cast<Pattern**>(allocator->alloc((long)sizeof(Pattern*) * max_patterns));
        fused = new (allocator) PatternList(model_width, model_height, max_patterns);
    }
}

bool PatternDetect::windowRange(int width, int height, int model_width, int model_height, int min_size,
                                int max_size, int* sw_min, int* sw_max) {
    *sw_min = min_size > model_width ? min_size : model_width;
    *sw_max = width;
    if ((real)height / (real)model_height < (real)width / (real)model_width)
        *sw_max = detectorRound((real)height / (real)model_height * (real)model_width);
    int limit = max_size;
    if (limit < model_width) limit = *sw_max;
    if (limit < *sw_max) *sw_max = limit;
    return *sw_max >= *sw_min;
}

void PatternDetect::init() {
    if (!windowRange(width, height, model_width, model_height, min_size, max_size, &sw_min, &sw_max))
        error("sw_max (%d) must be >= to sw_min (%d)!", sw_max, sw_min);
    if (verbose) {
        print(" scanning window size:  sw_min = %d\n", sw_min);
        print("                        sw_max = %d\n", sw_max);
    }
    levels();
    for (int i = 0; i < n_levels; i++) {
        scanners[i]->setMeanVarTest(mean_min, mean_max, stdv_min, stdv_max, ip_ii->sums(), ip_ii->sumsOfSquares());
        scanners[i]->init();
    }
    initialised = true;
}

void PatternDetect::setROIs(int n, int* rois_) {
    n_rois = rois_ ? n : 0;
    rois = rois_;
}

void PatternDetect::process(Sequence* input) {
    n_windows = n_classified = n_prune_rejected = n_mean_rejected = n_stdv_rejected = 0;
    if (!initialised) error("PatternDetect::process -> do init() first.");
    raw->clear();
    n_patterns = 0;

    ip_ii->process(input);

    for (int l = 0; l < n_levels; l++) {
        WindowScan* s = scanners[l];
        s->clearROIs();
        if (n_rois <= 0) {
            s->addROI(default_roi[0], default_roi[1], default_roi[2], default_roi[3]);
        } else {
            for (int r = 0; r < n_rois; r++)
                if (rois[4 * r + 2] >= s->window_width)
                    s->addROI(rois[4 * r], rois[4 * r + 1], rois[4 * r + 2], rois[4 * r + 3]);
            if (s->n_rois == 0) continue;
        }
        s->scan(input);
        n_windows += s->n_windows;
        n_classified += s->n_classified;
        n_prune_rejected += s->n_prune_rejected;
        n_mean_rejected += s->n_mean_rejected;
        n_stdv_rejected += s->n_stdv_rejected;
    }

    const int n_raw = raw->stored();
    if (!fusion || raw->count < 2) {
        for (int i = 0; i < n_raw; i++) patterns[i] = &raw->patterns[i];
        n_patterns = n_raw;
        return;
    }
    for (int i = 0; i < n_raw; i++) sorted[i] = &raw->patterns[i];
    sortPatternsByConfidence(sorted, n_raw);
    int n_fused;
    if (n_raw > fusion->max_patterns && overflow == FusionOverflow::Groups) {
        n_fused = fuseByGroups(n_raw);
    } else {
        // A refusing fusion leaves last frame's result in its output: report nothing rather than that.
        if (!fusion->fuse(n_raw, sorted)) return;
        n_fused = fusion->count < n_raw ? fusion->count : n_raw;
        for (int i = 0; i < n_fused; i++) sorted[i] = fusion->output[i];
    }
    n_patterns = keepFusedPatterns(*fusion, sorted, n_fused, patterns);
}

int keepFusedPatterns(const PatternFusion& fusion, Pattern** fused, int n, Pattern** out) {
    sortPatternsByConfidence(fused, n);
    int kept = 0;
    for (int i = 0; i < n; i++)
        if (fused[i]->activation >= fusion.min_activation) out[kept++] = fused[i];
    return kept;
}

int PatternDetect::fuseByGroups(int n) {
    // Windows that do not meet cannot link or suppress one another, so each group of windows joined by
    // overlaps fuses as it would among all of them; groups go by their most confident window.
    for (int i = 0; i < n; i++) group_of[i] = i;
    auto root = [this](int i) {
        while (group_of[i] != i) i = group_of[i] = group_of[group_of[i]];
        return i;
    };
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++)
            if (patternOverlap(*sorted[i], *sorted[j]) > 0) {
                const int a = root(i), b = root(j);
                if (a != b) group_of[a > b ? a : b] = a < b ? a : b;
            }
    for (int i = 0; i < n; i++) group_of[i] = root(i);
    int n_fused = 0;
    for (int g = 0; g < n; g++) {
        if (group_of[g] != g) continue;  // the group's most confident window comes first
        int m = 0;
        for (int i = g; i < n && m < fusion->max_patterns; i++)
            if (group_of[i] == g) members[m++] = sorted[i];
        if (!fusion->fuse(m, members)) continue;
        for (int k = 0; k < fusion->count && n_fused < fused->max_patterns; k++)
            fused->patterns[n_fused++].copy(fusion->output[k]);
    }
    for (int i = 0; i < n_fused; i++) sorted[i] = &fused->patterns[i];
    return n_fused;
}

MSPatternDetect::MSPatternDetect(ipSubWindow* ip_sw_, PatternFusion* fusion_, ipIntegralImage* ip_ii_,
                                 int width_, int height_, int model_width_, int model_height_, int min_size_,
                                 int max_size_, real step_x_factor_, real step_y_factor_, real scale_factor,
                                 real mean_min_, real mean_max_, real stdv_min_, real stdv_max_,
                                 Sequence* pruning_image_, real pruning_min_, real pruning_max_,
                                 int max_patterns, bool verbose_)
    : PatternDetect(ip_sw_, fusion_, ip_ii_, width_, height_, model_width_, model_height_, min_size_, max_size_,
                    step_x_factor_, step_y_factor_, scale_factor, mean_min_, mean_max_, stdv_min_, stdv_max_,
                    pruning_image_, pruning_min_, pruning_max_, max_patterns, verbose_) {
    addBoolOption("force sw multiple mw", &force_multiple, false,
                  "force the subwindow width to be a multiple of the model width");
}

int MSPatternDetect::nextWidth(int w) const {
    int next = detectorRound((real)w * scale);
    if (force_multiple && next % model_width != 0) next = (next / model_width + 1) * model_width;
    return next;
}

void MSPatternDetect::levels() {
    int first = sw_min;
    if (force_multiple && first % model_width != 0) first = (first / model_width + 1) * model_width;
    // A scale that rounds back to the same width would never end.
    n_levels = 0;
    for (int w = first; w <= sw_max;) {
        n_levels++;
        int next = nextWidth(w);
        if (next <= w) next = w + 1;
        w = next;
    }
    if (verbose) print(" multiscale scanning: n_levels = %d\n", n_levels);
    scanners = n_levels > 0 ? static_cast<WindowScan**>(allocator->alloc((long)sizeof(WindowScan*) * n_levels))
                            : nullptr;
    int w = first;
    for (int i = 0; i < n_levels; i++) {
        if (w > sw_max) error("MSPatternDetect(): width_pattern > sw_max");
        const int h = detectorRound((real)w * model_ratio);
        if (verbose) print("  -> %dx%d\n", w, h);
        scanners[i] = new (allocator) MSWindowScan(width, height, width, height, w, h, w, h, step_x_factor,
                                                   step_y_factor, ip_sw, raw, verbose);
        int next = nextWidth(w);
        if (next <= w) next = w + 1;
        w = next;
    }
}

}  // namespace vision
