#pragma once
// The detector rounds its window sizes, steps and mask geometry by adding 0.5 and truncating (all values
// are non-negative).
#include "visionlib/Object.h"

namespace vision {

// Values beyond an int (or not a number) come only from damaged settings; they are held to the
// int's range rather than converted with undefined behaviour.
inline int detectorRound(real v) {
    const real r = v + 0.5f;
    if (r != r) return 0;
    if (r >= 2147483520.0f) return 2147483520;  // the largest float below 2^31
    if (r <= -2147483648.0f) return -2147483647 - 1;
    return (int)r;
}

}  // namespace vision
