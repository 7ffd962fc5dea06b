#include "visionlib/ipHistoEqual.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

namespace {

// Bin of a value: truncated toward zero and clamped to 0..255; NaN goes to bin 0.
inline int binOf(real v, bool* out_of_range) {
    if (!(v > -1)) {
        *out_of_range = true;
        return 0;
    }
    if (v >= 256) {
        *out_of_range = true;
        return 255;
    }
    return (int)v;
}

}  // namespace

ipHistoEqual::ipHistoEqual(int width_, int height_, const char* coding_)
    : ipCore(coding_), width(width_), height(height_) {
    output = new (allocator) Sequence(1, n_planes * width * height);
    n_bins = n_planes * 256;
    histogram = (real*)allocator->alloc(sizeof(real) * n_bins);
    cumulative = (real*)allocator->alloc(sizeof(real) * n_bins);
}

ipHistoEqual::~ipHistoEqual() {}

void ipHistoEqual::process(Sequence* input) {
    if (coding_id == CODING_YUV) {
        message("ipHistoEqual::process() not implemented for YUV format");
        return;
    }
    const long n = (long)width * height;
    if (n <= 0) return;
    const real* src = input->frames[0];
    real* dst = output->frames[0];
    const int np = n_planes;
    const bool is_float = coding_id == CODING_FLOAT;
    const bool warn = coding_id == CODING_GRAY;
    const double inc = 1.0 / (double)n;

    memset(histogram, 0, sizeof(real) * n_bins);
    memset(cumulative, 0, sizeof(real) * n_bins);

    for (int c = 0; c < np; c++) {
        real* hist = histogram + c * 256;
        real* cum = cumulative + c * 256;
        for (long i = 0; i < n; i++) {
            real v = src[i * np + c];
            if (is_float) v *= 255;
            bool out_of_range = false;
            const int bin = binOf(v, &out_of_range);
            if (out_of_range && warn) warning("ipHistoEqual::process() out-of-range value.");
            hist[bin] += inc;
        }
        double running = 0;
        for (int k = 0; k < 256; k++) {
            running += hist[k];
            cum[k] = (real)running;
        }
        // c(0) is overwritten first, so every later entry is c(k) x 255 / c(255).
        const double scale = is_float ? 1.0 : 255.0;
        for (int k = 0; k < 256; k++) cum[k] = (real)(((double)cum[k] - cum[0]) * scale / cum[255]);
        for (long i = 0; i < n; i++) {
            real v = src[i * np + c];
            if (is_float) v *= 255;
            bool ignored = false;
            dst[i * np + c] = cum[binOf(v, &ignored)];
        }
    }
}

}  // namespace vision
