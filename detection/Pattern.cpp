#include "detection/Pattern.h"

#include <new>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

Pattern::Pattern(int width_pattern, int height_pattern)
    : scale(0), view(0), confidence(0), activation(0), x(0), y(0), w(width_pattern), h(height_pattern) {}

void Pattern::reset() {
    scale = 0;
    view = 0;
    confidence = 0;
    activation = 0;
    x = y = w = h = 0;
}

void Pattern::print() {
    vision::print("x=%d y=%d w=%d h=%d scale=%2.3f view=%d confidence=%2.3f activation=%2.3f\n", x, y, w, h,
                  scale, view, confidence, activation);
}

void Pattern::copy(const Pattern* other) {
    scale = other->scale;
    view = other->view;
    confidence = other->confidence;
    activation = other->activation;
    x = other->x;
    y = other->y;
    w = other->w;
    h = other->h;
}

PatternList::PatternList(int width_pattern_, int height_pattern_, int max_patterns_)
    : width_pattern(width_pattern_), height_pattern(height_pattern_), max_patterns(max_patterns_), count(0),
      patterns(nullptr), warned_full(false) {
    if (max_patterns <= 0) {
        warning("max_patterns (%d) is not positive. All patterns will be counted but not stored.", max_patterns);
        return;
    }
    patterns = static_cast<Pattern*>(allocator->alloc((long)sizeof(Pattern) * max_patterns));
    for (int i = 0; i < max_patterns; i++) new (allocator, &patterns[i]) Pattern(width_pattern, height_pattern);
}

PatternList::~PatternList() {}

void PatternList::add(int x, int y, int w, int h, real confidence, int view) {
    if (max_patterns > 0) {
        if (count >= max_patterns) {
            if (!warned_full) warning("The maximum of patterns (%d) is reached.\n", max_patterns);
            warned_full = true;
            return;
        }
        Pattern& p = patterns[count];
        p.x = x;
        p.y = y;
        p.w = w;
        p.h = h;
        p.view = view;
        p.confidence = confidence;
        p.activation = 0;
        p.scale = (real)w / (real)width_pattern;
    }
    count++;
}

int PatternList::stored() const { return max_patterns > 0 ? (count < max_patterns ? count : max_patterns) : 0; }

}  // namespace vision
