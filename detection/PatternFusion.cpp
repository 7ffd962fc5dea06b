#include "detection/PatternFusion.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

namespace {

bool boxesMeet(const Pattern& a, const Pattern& b) {
    return std::min(a.x + a.w, b.x + b.w) >= std::max(a.x, b.x) &&
           std::min(a.y + a.h, b.y + b.h) >= std::max(a.y, b.y);
}

// Guards against a table that never becomes clean; every pass normally shrinks the output.
const int kMaxFusionPasses = 10000;

}  // namespace

// Stable, so that results do not depend on the sort's handling of ties.
void sortPatternsByConfidence(Pattern** p, int n) {
    std::stable_sort(p, p + n, [](const Pattern* a, const Pattern* b) { return a->confidence > b->confidence; });
}

void sortPatternsByActivation(Pattern** p, int n) {
    std::stable_sort(p, p + n, [](const Pattern* a, const Pattern* b) { return a->activation > b->activation; });
}

real patternOverlap(const Pattern& a, const Pattern& b) {
    if (!boxesMeet(a, b)) return 0;
    const int iw = std::min(a.x + a.w, b.x + b.w) - std::max(a.x, b.x);
    const int ih = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
    const int area_a = a.w * a.h, area_b = b.w * b.h;
    const int larger = area_a >= area_b ? area_a : area_b;
    if (larger <= 0) return 0;
    return (real)(iw * ih) / (real)larger;
}

bool patternIsSmaller(const Pattern& a, const Pattern& b) { return boxesMeet(a, b) && a.w * a.h < b.w * b.h; }

// ---------------------------------------------------------------------------------------------------------

PatternFusion::PatternFusion(int max_patterns_)
    : overlap(0.6f), min_confidence(0), compute_activation(true), min_activation(1.5f),
      max_patterns(max_patterns_ > 0 ? max_patterns_ : 0), count(0), output(nullptr) {
    addBoolOption("verbose", &verbose, false, "verbose");
}

void PatternFusion::setParameters(real overlap_, real min_confidence_, bool compute_activation_,
                                  real min_activation_) {
    overlap = overlap_;
    min_confidence = min_confidence_;
    compute_activation = compute_activation_;
    min_activation = min_activation_;
}

// ---------------------------------------------------------------------------------------------------------

TableOverlap::TableOverlap(int max_patterns_)
    : max_patterns(max_patterns_), n_rows(0), work_store(nullptr), output_store(nullptr), rows(nullptr),
      order(nullptr) {
    if (max_patterns <= 0) {
        max_patterns = 0;
        return;
    }
    work_store = static_cast<Pattern*>(allocator->alloc((long)sizeof(Pattern) * max_patterns));
    output_store = static_cast<Pattern*>(allocator->alloc((long)sizeof(Pattern) * max_patterns));
    for (int i = 0; i < max_patterns; i++) {
        new (allocator, &work_store[i]) Pattern();
        new (allocator, &output_store[i]) Pattern();
    }
    order = static_cast<int*>(allocator->alloc((long)sizeof(int) * max_patterns));
    rows = static_cast<OverlapRow*>(std::calloc((size_t)max_patterns, sizeof(OverlapRow)));
    if (!rows) {
        vision::print("Impossible to allocate %d elements for TableOverlap.\n", max_patterns);
        max_patterns = 0;
        return;
    }
    OverlapEntry* block =
        static_cast<OverlapEntry*>(std::calloc((size_t)max_patterns * (size_t)max_patterns, sizeof(OverlapEntry)));
    if (!block) {
        vision::print("Impossible to allocate sub-element for TableOverlap.\n");
        std::free(rows);
        rows = nullptr;
        max_patterns = 0;
        return;
    }
    for (int i = 0; i < max_patterns; i++) rows[i].entries = block + (size_t)i * max_patterns;
}

TableOverlap::~TableOverlap() {
    if (rows) {
        std::free(rows[0].entries);
        std::free(rows);
    }
}

void TableOverlap::build(int n, Pattern** p, real t, bool small_flag) {
    n_rows = n;
    for (int i = 0; i < n; i++) {
        OverlapRow& row = rows[i];
        row.count = 0;
        row.area = p[i]->w * p[i]->h;
        for (int k = 0; k < n; k++) {
            if (k == i) continue;
            real r = patternOverlap(*p[i], *p[k]);
            if (small_flag && patternIsSmaller(*p[i], *p[k])) r = 0;
            if (r > t) {
                OverlapEntry& e = row.entries[row.count++];
                e.index = k;
                e.value = r;
                e.on = 1;
            }
        }
        row.active = row.count;
    }
}

void TableOverlap::tag() {
    for (int i = 0; i < n_rows; i++) {
        OverlapRow& ri = rows[i];
        if (ri.active == 0) continue;
        for (int j = 0; j < n_rows; j++) {
            if (j == i) continue;
            OverlapRow& rj = rows[j];
            if (rj.active == 0) continue;
            for (int e = 0; e < ri.count; e++) {
                if (!ri.entries[e].on) continue;
                const int target = ri.entries[e].index;
                for (int f = 0; f < rj.count; f++) {
                    if (rj.entries[f].on && rj.entries[f].index == target) {
                        rj.entries[f].on = 0;
                        rj.active--;
                        break;
                    }
                }
            }
            for (int f = 0; f < rj.count; f++) {
                if (rj.entries[f].on && rj.entries[f].index == i) {
                    rj.entries[f].on = 0;
                    rj.active--;
                    break;
                }
            }
        }
    }
}

bool TableOverlap::clean() const {
    for (int i = 0; i < n_rows; i++)
        if (rows[i].count > 0 && rows[i].active != rows[i].count) return false;
    return true;
}

void TableOverlap::resolve() {
    for (int i = 0; i < n_rows; i++) {
        OverlapRow& ri = rows[i];
        if (ri.count == 0 || ri.active == ri.count) continue;
        for (int j = 0; j < ri.count; j++) {
            if (!ri.entries[j].on) continue;
            int b = j;
            real best = ri.entries[j].value;
            for (int k = 0; k < ri.count; k++) {
                if (ri.entries[k].on) continue;
                if (ri.entries[k].value > best) {
                    best = ri.entries[k].value;
                    b = k;
                }
            }
            if (b == j) {
                ri.entries[j].on = 0;
                ri.active--;
            }
            OverlapRow& rb = rows[ri.entries[b].index];
            for (int f = 0; f < rb.count; f++) {
                if (rb.entries[f].index == i) {
                    rb.active++;
                    rb.entries[f].on = 1;
                    break;
                }
            }
        }
    }
}

void TableOverlap::print(const char* title) const {
    vision::print("%s", title);
    for (int i = 0; i < n_rows; i++) {
        const OverlapRow& r = rows[i];
        vision::print("  [%d] area=%d count=%d active=%d:", i, r.area, r.count, r.active);
        for (int e = 0; e < r.count; e++)
            vision::print(" %d(%.3f%s)", r.entries[e].index, r.entries[e].value, r.entries[e].on ? "" : " off");
        vision::print("\n");
    }
}

// ---------------------------------------------------------------------------------------------------------

ViewPatternFusion::ViewPatternFusion(PatternMerger* merger_, int view, int max_patterns_)
    : PatternFusion(max_patterns_) {
    if (view < 0)
        build(merger_, 0, nullptr);
    else
        build(merger_, 1, &view);
}

ViewPatternFusion::ViewPatternFusion(PatternMerger* merger_, int n_views_, int* views_, int max_patterns_)
    : PatternFusion(max_patterns_) {
    build(merger_, views_ ? n_views_ : 0, views_);
}

void ViewPatternFusion::build(PatternMerger* merger_, int n_views_, const int* views_) {
    merger = merger_;
    n_views = n_views_ > 0 ? n_views_ : 0;
    views = nullptr;
    if (n_views > 0) {
        views = static_cast<int*>(allocator->alloc((long)sizeof(int) * n_views));
        for (int i = 0; i < n_views; i++) views[i] = views_[i];
    }
    table = new (allocator) TableOverlap(max_patterns);
    max_patterns = table->max_patterns;
    n_work = 0;
    work = nullptr;
    output = nullptr;
    if (max_patterns > 0) {
        work = static_cast<Pattern**>(allocator->alloc((long)sizeof(Pattern*) * max_patterns));
        output = static_cast<Pattern**>(allocator->alloc((long)sizeof(Pattern*) * max_patterns));
        for (int i = 0; i < max_patterns; i++) {
            work[i] = &table->work_store[i];
            output[i] = &table->output_store[i];
        }
    }
}

bool ViewPatternFusion::acceptsView(int view) const {
    if (n_views == 0) return true;
    for (int i = 0; i < n_views; i++)
        if (views[i] == view) return true;
    return false;
}

void ViewPatternFusion::collect(int n, Pattern** patterns) {
    n_work = 0;
    int weakest = -1;  // index of the least confident work pattern once the work set is full
    for (int i = 0; i < n; i++) {
        const Pattern* p = patterns[i];
        if (!acceptsView(p->view) || !(p->confidence >= min_confidence)) continue;
        if (n_work < max_patterns) {
            work[n_work++]->copy(p);
            continue;
        }
        if (weakest < 0) {
            weakest = 0;
            for (int k = 1; k < n_work; k++)
                if (work[k]->confidence < work[weakest]->confidence) weakest = k;
        }
        if (p->confidence > work[weakest]->confidence) {
            work[weakest]->copy(p);
            weakest = -1;
        }
    }
}

void ViewPatternFusion::rebuildOutput() {
    count = 0;
    for (int i = 0; i < n_work; i++) {
        const OverlapRow& row = table->rows[i];
        if (row.count == 0) {
            output[count++]->copy(work[i]);
            continue;
        }
        if (row.active == 0) continue;
        merger->reset();
        merger->add(*work[i]);
        for (int e = 0; e < row.count; e++)
            if (row.entries[e].on) merger->add(*work[row.entries[e].index]);
        Pattern* out = output[count++];
        merger->merge(*out);
        if (compute_activation) out->activation = (real)(merger->count - 1);
    }
}

void ViewPatternFusion::suppress() {
    TableOverlap& t = *table;
    for (int i = 0; i < count; i++) t.order[i] = i;
    std::stable_sort(t.order, t.order + count, [&t](int a, int b) { return t.rows[a].area > t.rows[b].area; });
    for (;;) {
        bool any = false;
        for (int o = 0; o < count; o++) {
            const int i = t.order[o];
            OverlapRow& row = t.rows[i];
            if (row.active == 0) continue;
            any = true;
            int lowest = -1;  // entry index, -1 for pattern i itself
            real low = output[i]->confidence;
            for (int e = 0; e < row.count; e++) {
                if (!row.entries[e].on) continue;
                const real c = output[row.entries[e].index]->confidence;
                if (c < low) {
                    low = c;
                    lowest = e;
                }
            }
            if (lowest < 0) {
                output[i]->activation = 0;
                row.active = 0;
                for (int e = 0; e < row.count; e++) {
                    if (!row.entries[e].on) continue;
                    OverlapRow& other = t.rows[row.entries[e].index];
                    for (int f = 0; f < other.count; f++) {
                        if (other.entries[f].on && other.entries[f].index == i) {
                            other.entries[f].on = 0;
                            other.active--;
                            break;
                        }
                    }
                }
            } else {
                output[row.entries[lowest].index]->activation = 0;
                row.entries[lowest].on = 0;
                row.active--;
            }
        }
        if (!any) break;
    }
}

bool ViewPatternFusion::fuse(int n, Pattern** patterns) {
    if (n <= 0 || max_patterns <= 0) {
        count = 0;
        return false;
    }
    count = 0;
    collect(n, patterns);
    if (n_work == 0) return true;

    sortPatternsByConfidence(work, n_work);
    table->build(n_work, work, overlap, false);
    if (verbose) table->print("Overlap table :\n");
    table->tag();
    if (verbose) table->print("Overlap table after tagging:\n");

    if (table->clean()) {
        for (int i = 0; i < n_work; i++) {
            output[i]->copy(work[i]);
            output[i]->activation = 1;
        }
        count = n_work;
        if (compute_activation)
            sortPatternsByActivation(output, count);
        else
            sortPatternsByConfidence(output, count);
        return true;
    }

    for (int pass = 0;; pass++) {
        table->resolve();
        if (verbose) table->print("Overlap table after resolving:\n");
        rebuildOutput();
        sortPatternsByConfidence(output, count);
        table->build(count, output, overlap, false);
        table->tag();
        if (table->clean() || pass >= kMaxFusionPasses) break;
        for (int i = 0; i < count; i++) work[i]->copy(output[i]);
        n_work = count;
    }

    if (!compute_activation) {
        for (int i = 0; i < count; i++) output[i]->activation = 1;
        return true;
    }
    for (int i = 0; i < count; i++) output[i]->activation += 1;
    sortPatternsByActivation(output, count);
    table->build(count, output, 0.01f, true);
    if (verbose) table->print("Sorted overlap table :\n");
    suppress();
    if (verbose) table->print("Indexed overlap table :\n");
    sortPatternsByActivation(output, count);
    return true;
}

// ---------------------------------------------------------------------------------------------------------

MultiViewPatternFusion::MultiViewPatternFusion(PatternMerger* merger, int n_views_, int max_patterns_)
    : PatternFusion(max_patterns_), n_views(n_views_) {
    if (n_views < 1) error("MultiViewPatternFusion: n_views (%d) must be at least 1.", n_views);
    fusions = static_cast<ViewPatternFusion**>(allocator->alloc((long)sizeof(ViewPatternFusion*) * n_views));
    for (int v = 0; v < n_views; v++) fusions[v] = new (allocator) ViewPatternFusion(merger, v, max_patterns);
    output = static_cast<Pattern**>(allocator->alloc((long)sizeof(Pattern*) * n_views * max_patterns));
}

void MultiViewPatternFusion::setParameters(real overlap_, real min_confidence_, bool compute_activation_,
                                           real min_activation_) {
    PatternFusion::setParameters(overlap_, min_confidence_, compute_activation_, min_activation_);
    for (int v = 0; v < n_views; v++)
        fusions[v]->setParameters(overlap_, min_confidence_, compute_activation_, min_activation_);
}

bool MultiViewPatternFusion::fuse(int n, Pattern** patterns) {
    count = 0;
    if (n <= 0) return true;
    for (int v = 0; v < n_views; v++) {
        ViewPatternFusion* f = fusions[v];
        if (!f->fuse(n, patterns)) continue;
        for (int i = 0; i < f->count; i++) output[count++] = f->output[i];
    }
    return true;
}

}  // namespace vision
