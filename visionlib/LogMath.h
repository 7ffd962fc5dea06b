#pragma once
// Adding and subtracting probabilities held as logarithms.
#include "visionlib/Object.h"

namespace vision {

real log_add(real log_a, real log_b);
// log_a < log_b is fatal; equal arguments give -FLT_MAX.
real LogSub(real log_a, real log_b);

}  // namespace vision
