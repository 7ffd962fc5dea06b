#pragma once
// One detection of the window scanner, and the bounded list the scanner fills.
#include "visionlib/Object.h"

namespace vision {

class Pattern : public Object {
public:
    real scale;       // window width / pattern width
    int view;
    real confidence;
    real activation;  // filled by the fusion
    int x, y, w, h;   // window's top-left pixel and size

    Pattern(int width_pattern = 19, int height_pattern = 19);

    virtual void reset();
    virtual void print();
    virtual void copy(const Pattern* other);
};

class PatternList : public Object {
public:
    int width_pattern;
    int height_pattern;
    int max_patterns;  // not positive: patterns are only counted
    int count;
    Pattern* patterns;  // max_patterns pre-built patterns

    PatternList(int width_pattern, int height_pattern, int max_patterns);
    ~PatternList() override;

    void clear() {
        count = 0;
        warned_full = false;
    }
    // Drops the pattern when the list is full, with one warning until the next clear (once a frame:
    // a frame can drop tens of thousands of windows).
    void add(int x, int y, int w, int h, real confidence, int view);
    // Patterns actually held (count may exceed it when storage is full or absent).
    int stored() const;

private:
    bool warned_full;
};

}  // namespace vision
