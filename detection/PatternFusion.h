#pragma once
// Fusion of one frame's raw detections into one pattern per face.
#include "detection/Pattern.h"
#include "detection/PatternMerger.h"

namespace vision {

class PatternFusion : public Object {
public:
    bool verbose;
    real overlap;             // two patterns link when their overlap ratio is strictly greater
    real min_confidence;      // patterns below it are ignored
    bool compute_activation;
    real min_activation;      // applied by the detector
    int max_patterns;         // capacity
    int count;                // patterns in the output
    Pattern** output;

    explicit PatternFusion(int max_patterns);

    virtual void setParameters(real overlap, real min_confidence, bool compute_activation, real min_activation);
    virtual bool fuse(int n, Pattern** patterns) = 0;
};

// Stable sorts, highest first: equal keys keep their order.
void sortPatternsByConfidence(Pattern** patterns, int n);
void sortPatternsByActivation(Pattern** patterns, int n);

// Intersection area over the larger box's area; 0 when the boxes do not meet (or only touch).
real patternOverlap(const Pattern& a, const Pattern& b);
// a is strictly smaller than b in area, and the two meet.
bool patternIsSmaller(const Pattern& a, const Pattern& b);

struct OverlapEntry {
    int index;      // the other pattern
    real value;     // overlap ratio
    unsigned char on;
};

struct OverlapRow {
    int count;   // entries
    int active;  // active entries
    int area;    // width x height of the row's pattern
    OverlapEntry* entries;
};

// Pairwise overlaps of up to max_patterns patterns, with the work and output patterns of one fusion.
// Everything is allocated once; building, tagging and resolving never allocate.
class TableOverlap : public Object {
public:
    int max_patterns;
    int n_rows;           // rows of the last build
    Pattern* work_store;  // max_patterns patterns each
    Pattern* output_store;
    OverlapRow* rows;
    int* order;  // row indices, for the suppression order

    explicit TableOverlap(int max_patterns);
    ~TableOverlap() override;

    // Row i links every other pattern whose ratio exceeds t (taken as 0, with small_flag, when pattern i is
    // smaller than the other).
    void build(int n, Pattern** patterns, real t, bool small_flag);
    void tag();
    bool clean() const;
    void resolve();
    void print(const char* title) const;
};

class ViewPatternFusion : public PatternFusion {
public:
    PatternMerger* merger;  // not owned
    int n_views;            // 0: every view accepted
    int* views;
    TableOverlap* table;
    Pattern** work;  // max_patterns pointers into the table's work patterns
    int n_work;

    // A negative view accepts every view.
    ViewPatternFusion(PatternMerger* merger, int view, int max_patterns);
    ViewPatternFusion(PatternMerger* merger, int n_views, int* views, int max_patterns);

    // Refuses (false, empty output) when n is 0. With more accepted patterns than the capacity, the most
    // confident max_patterns are fused.
    bool fuse(int n, Pattern** patterns) override;

    bool acceptsView(int view) const;

private:
    void build(PatternMerger* merger, int n_views, const int* views);
    void collect(int n, Pattern** patterns);
    void rebuildOutput();
    void suppress();
};

// One view fusion per view 0 .. n_views - 1; the output is their outputs in view order.
class MultiViewPatternFusion : public PatternFusion {
public:
    int n_views;
    ViewPatternFusion** fusions;

    MultiViewPatternFusion(PatternMerger* merger, int n_views, int max_patterns);

    void setParameters(real overlap, real min_confidence, bool compute_activation, real min_activation) override;
    bool fuse(int n, Pattern** patterns) override;
};

}  // namespace vision
