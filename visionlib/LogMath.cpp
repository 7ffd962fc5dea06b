#include "visionlib/LogMath.h"

#include <cfloat>
#include <cmath>

#include "visionlib/Message.h"

namespace vision {

namespace {
const real kMinLogDifference = -18.42f;  // below this e^d no longer shows in a float
}

real log_add(real log_a, real log_b) {
    real larger = log_a > log_b ? log_a : log_b;
    real smaller = log_a > log_b ? log_b : log_a;
    // Both zero probabilities: the sum is still zero (avoids -inf minus -inf).
    if (std::isinf(larger) && larger < 0) return larger;
    real d = smaller - larger;
    if (d < kMinLogDifference) return larger;
    return (real)(larger + std::log1p(std::exp((double)d)));
}

real LogSub(real log_a, real log_b) {
    if (log_a < log_b) error("LogSub: log_a (%f) should be greater than log_b (%f)", log_a, log_b);
    if (log_a == log_b) return -FLT_MAX;
    real d = log_b - log_a;
    if (d < kMinLogDifference) return log_a;
    return (real)(log_a + std::log1p(-std::exp((double)d)));
}

}  // namespace vision
