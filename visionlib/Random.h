#pragma once
// MT19937 with module-wide state and the distributions built on it.
#include <cstdint>

#include "visionlib/Object.h"

namespace vision {

class Random {
public:
    static void setSeed(uint32_t s);
    // Seconds field of the local time: one of 60 seeds.
    static void seed();
    static uint32_t currentSeed();
    static void refill();
    static uint32_t nextInt();
    static real uniform();           // [0, 1)
    static real uniformRange(real a, real b);
    static real gaussian(real mean = 0, real sd = 1);
    static real exponential(real lambda);
    static real cauchy(real median, real sigma);
    static real logNormal(real mean, real sd);
    static int geometric(real p);
    static bool bernoulli(real p);
    static void shuffle(void* base, int element_size, int n);
    static void shuffledIndices(int* out, int n);
};

}  // namespace vision
