#include "visionlib/Random.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "visionlib/Message.h"

namespace vision {

namespace {

const int N = 624;
const int M = 397;
const uint32_t kMatrixA = 0x9908b0dfu;
const uint32_t kUpperMask = 0x80000000u;
const uint32_t kLowerMask = 0x7fffffffu;

uint32_t state[N];
int left = 0;  // words left before the next refill
int next_word = 0;
bool seeded = false;
uint32_t the_seed = 0;
bool gaussian_cached = false;
double cached_u1 = 0, cached_r = 0;

}  // namespace

void Random::setSeed(uint32_t s) {
    state[0] = s;
    for (int i = 1; i < N; i++) state[i] = 1812433253u * (state[i - 1] ^ (state[i - 1] >> 30)) + (uint32_t)i;
    left = 0;
    next_word = 0;
    seeded = true;
    the_seed = s;
    // A new seed must restart every draw, the cached second Gaussian included.
    gaussian_cached = false;
}

void Random::seed() {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    setSeed((uint32_t)local.tm_sec);
}

uint32_t Random::currentSeed() {
    if (!seeded) {
        warning("Random: initializing the random generator");
        seed();
    }
    return the_seed;
}

void Random::refill() {
    if (!seeded) seed();
    for (int i = 0; i < N; i++) {
        uint32_t y = (state[i] & kUpperMask) | (state[(i + 1) % N] & kLowerMask);
        state[i] = state[(i + M) % N] ^ (y >> 1) ^ ((y & 1u) ? kMatrixA : 0u);
    }
    left = N;
    next_word = 0;
}

uint32_t Random::nextInt() {
    if (left == 0) refill();
    left--;
    uint32_t y = state[next_word++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

real Random::uniform() {
    real u = (real)((double)nextInt() / 4294967296.0);
    // Rounding to float can reach 1.0; stay inside [0, 1).
    if (u >= 1.0f) u = std::nextafter(1.0f, 0.0f);
    return u;
}

real Random::uniformRange(real a, real b) { return a + uniform() * (b - a); }

real Random::gaussian(real mean, real sd) {
    if (gaussian_cached) {
        gaussian_cached = false;
        return (real)(mean + sd * cached_r * std::sin(2.0 * M_PI * cached_u1));
    }
    double u1 = uniform();
    double u2 = uniform();
    double r = std::sqrt(-2.0 * std::log(1.0 - u2));
    cached_u1 = u1;
    cached_r = r;
    gaussian_cached = true;
    return (real)(mean + sd * r * std::cos(2.0 * M_PI * u1));
}

real Random::exponential(real lambda) { return (real)(-std::log(1.0 - uniform()) / lambda); }

real Random::cauchy(real median, real sigma) {
    return (real)(median + sigma * std::tan(M_PI * (uniform() - 0.5)));
}

real Random::logNormal(real mean, real sd) {
    double m = (double)mean * mean;
    double v = (double)sd * sd;
    return (real)std::exp(gaussian((real)std::log(m / std::sqrt(m + v)), (real)std::sqrt(std::log(v / m + 1.0))));
}

int Random::geometric(real p) { return (int)(std::log(1.0 - uniform()) / std::log((double)p)) + 1; }

bool Random::bernoulli(real p) { return uniform() <= p; }

void Random::shuffle(void* base, int element_size, int n) {
    if (n < 2 || element_size <= 0) return;
    char* bytes = static_cast<char*>(base);
    std::vector<char> tmp((size_t)element_size);
    for (int i = 0; i < n - 1; i++) {
        int j = i + (int)(nextInt() % (uint32_t)(n - i));
        if (j == i) continue;
        memcpy(tmp.data(), bytes + (size_t)i * element_size, (size_t)element_size);
        memcpy(bytes + (size_t)i * element_size, bytes + (size_t)j * element_size, (size_t)element_size);
        memcpy(bytes + (size_t)j * element_size, tmp.data(), (size_t)element_size);
    }
}

void Random::shuffledIndices(int* out, int n) {
    for (int i = 0; i < n; i++) out[i] = i;
    shuffle(out, sizeof(int), n);
}

}  // namespace vision
