#pragma once
// The detector rounds its window sizes, steps and mask geometry by adding 0.5 and truncating (all values
// are non-negative).
#include "visionlib/Object.h"

namespace vision {

inline int detectorRound(real v) { return (int)(v + 0.5f); }

}  // namespace vision
