#include "detection/ipSWmctMS.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include <immintrin.h>

#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"

namespace vision {

namespace {
// Lane 0 (the left cell) is the high bit of its row's three.
const int kReversed3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
}  // namespace

ipSWmctMS::ipSWmctMS(real* integral_sums, int width_image_, int height_image_, int width_pattern_,
                     int height_pattern_, const char* model_file, real threshold_, bool verbose_)
    : ipSubWindow(width_image_, height_image_, width_pattern_, height_pattern_, threshold_), input(nullptr),
      rejections(nullptr), mcts(nullptr), trainers(nullptr), n_stages(0), weights(nullptr), n_trainers(nullptr),
      thresholds(nullptr), batch(true), weak(nullptr), stage_end(nullptr), n_weak(0), geometry_size(-1),
      geometry_width(-1), coded(false), codes(nullptr), code_row_done(nullptr), codes_capacity(0),
      rows_capacity(0), coded_width(0), coded_height(0) {
    verbose = verbose_;
    addBoolOption("batch rows", &batch, true,
                  "decide several windows of a row at once where the processor allows");
    if (!integral_sums) error("ipSWmctMS: no integral image.");
    real** table = static_cast<real**>(allocator->alloc(sizeof(real*)));
    table[0] = integral_sums;
    input = new (allocator) Sequence(table, 1, width_image * height_image);
    if (verbose) {
        print("ipSWmctMS::ipSWmctMS()\n");
        print("   width_image=%d\n", width_image);
        print("   height_image=%d\n", height_image);
        print("   width_pattern=%d\n", width_pattern);
        print("   height_pattern=%d\n", height_pattern);
        print("\n");
        print("Loading model %s ...\n", model_file);
    }
    load(model_file);
}

void ipSWmctMS::load(const char* model_file) {
    DiskXFile* file = new (allocator) DiskXFile(model_file, "r");
    int w = 0, h = 0;
    file->taggedRead(&w, 4, 1, "WIDTH");
    file->taggedRead(&h, 4, 1, "HEIGHT");
    if (w != width_pattern || h != height_pattern) error("ipSWmctMS: model wrong size");

    file->taggedRead(&n_stages, 4, 1, "N_STAGES");
    if (n_stages < 1)
        error("ipSWmctMS: wrong number of stages (%d) in model %s", n_stages, model_file);
    if (n_stages > MAX_CASCADE_STAGES)
        error("ipSWmctMS: model %s has %d stages, more than the limit of %d", model_file, n_stages,
              MAX_CASCADE_STAGES);
    if (verbose) print("Cascade (%d stages):\n", n_stages);

    thresholds = static_cast<real*>(allocator->alloc((long)sizeof(real) * n_stages));
    n_trainers = static_cast<int*>(allocator->alloc((long)sizeof(int) * n_stages));
    rejections = static_cast<int*>(allocator->alloc((long)sizeof(int) * n_stages));
    weights = static_cast<real**>(allocator->alloc((long)sizeof(real*) * n_stages));
    trainers = static_cast<MctLutClassifier***>(allocator->alloc((long)sizeof(MctLutClassifier**) * n_stages));
    mcts = static_cast<ipMCT***>(allocator->alloc((long)sizeof(ipMCT**) * n_stages));
    for (int s = 0; s < n_stages; s++) {
        rejections[s] = 0;
        file->taggedRead(&thresholds[s], 4, 1, "THRESHOLD");
        if (!std::isfinite(thresholds[s]))
            error("ipSWmctMS: the threshold of stage %d in model %s is not a number", s, model_file);
        file->taggedRead(&n_trainers[s], 4, 1, "N_TRAINERS");
        if (n_trainers[s] < 1)
            error("ipSWmctMS: wrong number of weak classifiers (%d) in stage %d of model %s", n_trainers[s], s,
                  model_file);
        // Checked before any classifier is read: the whole count must fit, not only this stage's.
        if (n_trainers[s] > MAX_CASCADE_CLASSIFIERS - n_weak)
            error("ipSWmctMS: model %s has more than the limit of %d weak classifiers", model_file,
                  MAX_CASCADE_CLASSIFIERS);
        n_weak += n_trainers[s];
        if (verbose) {
            print(" + stage %d:\n", s);
            print("\t + n_classifiers: %d\n", n_trainers[s]);
            print("\t + threshold: %g\n", thresholds[s]);
        }
    }

    weak = static_cast<Weak*>(allocator->alloc((long)sizeof(Weak) * n_weak));
    stage_end = static_cast<int*>(allocator->alloc((long)sizeof(int) * n_stages));
    int k = 0;
    for (int s = 0; s < n_stages; s++) {
        const int n = n_trainers[s];
        weights[s] = static_cast<real*>(allocator->alloc((long)sizeof(real) * n));
        file->taggedRead(weights[s], 4, n, "WEIGHTS");
        trainers[s] = static_cast<MctLutClassifier**>(allocator->alloc((long)sizeof(MctLutClassifier*) * n));
        mcts[s] = static_cast<ipMCT**>(allocator->alloc((long)sizeof(ipMCT*) * n));
        for (int j = 0; j < n; j++) {
            if (!std::isfinite(weights[s][j]))
                error("ipSWmctMS: weight %d of stage %d in model %s is not a number", j, s, model_file);
            MctLutClassifier* t = new (allocator) MctLutClassifier(width_pattern);
            t->loadXFile(file);
            t->mct->setImageSize(width_image, height_image);
            trainers[s][j] = t;
            mcts[s][j] = t->mct;
            weak[k].base = 0;
            weak[k].weight = weights[s][j];
            weak[k].lut = t->lut;
            k++;
        }
        stage_end[s] = k;
    }
    allocator->free(file);
}

void ipSWmctMS::setSize(int width, int height) {
    ipSubWindow::setSize(width, height);
    if (window_width != geometry_size || width_image != geometry_width) updateGeometry();
}

void ipSWmctMS::updateGeometry() {
    geometry_size = window_width;
    geometry_width = width_image;
    coded = false;  // its codes belong to the old size
    // Every mask of the cascade shares the scale, so the cell cuts are the same for all of them.
    ipMCT* first = mcts[0][0];
    first->setSize(window_width);
    const int W = width_image;
    const int at[4] = {0, first->cut, first->cut2, first->m};
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) grid[r * 4 + c] = at[r] * W + at[c];
    reach_min_x = reach_min_y = 0;
    reach_max_x = reach_max_y = 0;
    int k = 0;
    for (int s = 0; s < n_stages; s++)
        for (int j = 0; j < n_trainers[s]; j++, k++) {
            ipMCT* mct = mcts[s][j];
            mct->setImageSize(width_image, height_image);
            mct->setSize(window_width);
            const int dx = mct->cornerDx(), dy = mct->cornerDy();
            weak[k].base = dy * W + dx;
            if (dx < reach_min_x) reach_min_x = dx;
            if (dy < reach_min_y) reach_min_y = dy;
            if (dx + mct->m > reach_max_x) reach_max_x = dx + mct->m;
            if (dy + mct->m > reach_max_y) reach_max_y = dy + mct->m;
        }
}

void ipSWmctMS::reject(int stage) {
    is_pattern = false;
    output->frames[0][0] = -FLT_MAX;
    if (stage >= 0) rejections[stage]++;
}

namespace {

// One row of a mask's 4 corner values at columns 0, c1, c2, c3. A cut kCut of at most 3 (windows up to
// 66 wide) puts them in two overlapping loads, [0, 3] and [c3 - 3, c3]; kCut 0 reads them one by one.
template <int kCut>
inline __m128 cornerRow(const real* p, int c1, int c2, int c3) {
    if (kCut == 0) return _mm_setr_ps(p[0], p[c1], p[c2], p[c3]);
    return _mm_shuffle_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + c3 - 3), _MM_SHUFFLE(3, 3 - kCut, kCut, 0));
}

// The census code of the mask whose corner is at origin + base, from the integral image.
template <int kCut>
struct CornerCode {
    const real* origin;
    int r1, r2, r3;  // row and column offsets of the cell corners (the same for every mask)
    int c1, c2, c3;

    int operator()(int base) const {
        const real* p0 = origin + base;
        const real* p1 = p0 + r1;
        const real* p2 = p0 + r2;
        const real* p3 = p0 + r3;
        const __m128 R0 = cornerRow<kCut>(p0, c1, c2, c3);
        const __m128 R1 = cornerRow<kCut>(p1, c1, c2, c3);
        const __m128 R2 = cornerRow<kCut>(p2, c1, c2, c3);
        const __m128 R3 = cornerRow<kCut>(p3, c1, c2, c3);
        // Lane j of row band r: ((v[r+1][j+1] - v[r+1][j]) - v[r][j+1]) + v[r][j], as the scalar form.
        const __m128 S0 = _mm_shuffle_ps(R0, R0, _MM_SHUFFLE(3, 3, 2, 1));
        const __m128 S1 = _mm_shuffle_ps(R1, R1, _MM_SHUFFLE(3, 3, 2, 1));
        const __m128 S2 = _mm_shuffle_ps(R2, R2, _MM_SHUFFLE(3, 3, 2, 1));
        const __m128 S3 = _mm_shuffle_ps(R3, R3, _MM_SHUFFLE(3, 3, 2, 1));
        const __m128 cells0 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(S1, R1), S0), R0);
        const __m128 cells1 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(S2, R2), S1), R1);
        const __m128 cells2 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(S3, R3), S2), R2);
        const real block = p3[c3] - p3[0] - p0[c3] + p0[0];
        const __m128 mean = _mm_set1_ps((real)((double)block * 0.111111));
        return kReversed3[_mm_movemask_ps(_mm_cmpgt_ps(cells0, mean)) & 7] << 6 |
               kReversed3[_mm_movemask_ps(_mm_cmpgt_ps(cells1, mean)) & 7] << 3 |
               kReversed3[_mm_movemask_ps(_mm_cmpgt_ps(cells2, mean)) & 7];
    }
};

// The code image's code of the mask whose corner is at at + base.
struct StoredCode {
    const uint16_t* at;
    int operator()(int base) const { return at[base]; }
};

}  // namespace

int ipSWmctMS::runStages(const real* origin, int first, real* sum) const {
    const int r1 = grid[4], r2 = grid[8], r3 = grid[12];
    const int c1 = grid[1], c2 = grid[2], c3 = grid[3];
    switch (c1) {
        case 1: return stages(CornerCode<1>{origin, r1, r2, r3, c1, c2, c3}, first, sum);
        case 2: return stages(CornerCode<2>{origin, r1, r2, r3, c1, c2, c3}, first, sum);
        case 3: return stages(CornerCode<3>{origin, r1, r2, r3, c1, c2, c3}, first, sum);
        default: return stages(CornerCode<0>{origin, r1, r2, r3, c1, c2, c3}, first, sum);
    }
}

int ipSWmctMS::codedStages(const uint16_t* at, int first, real* sum) const {
    return stages(StoredCode{at}, first, sum);
}

template <class Code>
int ipSWmctMS::stages(const Code& code, int first, real* sum_out) const {
    const Weak* wk = weak;
    real sum = 0;
    int k = first > 0 ? stage_end[first - 1] : 0;
    for (int s = first; s < n_stages; s++) {
        sum = 0;
        const int end = stage_end[s];
        for (; k < end; k++) sum = sum + wk[k].lut[code(wk[k].base)] * wk[k].weight;
        if (sum < thresholds[s]) {
            *sum_out = sum;
            return s;
        }
    }
    *sum_out = sum;
    return n_stages;
}

void ipSWmctMS::process(Sequence*) {
    if (window_width != geometry_size || width_image != geometry_width) updateGeometry();
    // A window whose masks would reach outside the integral image is never a pattern.
    if (!inside(x, y)) {
        reject(-1);
        return;
    }
    is_pattern = true;
    real sum;
    const int stage = runStages(input->frames[0] + y * width_image + x, 0, &sum);
    if (stage < n_stages) {
        reject(stage);
        return;
    }
    output->frames[0][0] = sum;
    if (sum < threshold) reject(n_stages - 1);
}

namespace {

bool hasAvx2() {
    static const bool yes = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return yes;
}

// Windows in a lane group before loading beats deciding them one by one; with fewer windows left alive
// after a stage, they finish one by one.
const int kMinLoaded = 4;
const int kMinGathered = 3;
const int kMaxAliveForScalar = 4;
const int kMinCoded = 3;
// Pixels per window of the scan grid up to which the code image pays: it computes one code per pixel,
// where each window computes one per weak classifier it runs (about 30 with the shipped cascade), but
// a read code costs a fraction of a computed one.
const int kMaxCodedArea = 64;

// The eight lanes' values of one integral-image corner: kStep 0 gathers at p + at[lane]; kStep 1, 2 and 4
// load the floats from p on, lane l holding the window kStep * l to the right, except that in-lane
// shuffles (no cross-lane permute) leave kStep 2 and 4 in the window order of kLanes.
template <int kStep>
__attribute__((target("avx2"), always_inline)) inline __m256 corners(const real* p, __m256i at) {
    if (kStep == 0) return _mm256_i32gather_ps(p, at, 4);
    if (kStep == 1) return _mm256_loadu_ps(p);
    const __m256 even =
        _mm256_shuffle_ps(_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8), _MM_SHUFFLE(2, 0, 2, 0));
    if (kStep == 2) return even;
    const __m256 even2 =
        _mm256_shuffle_ps(_mm256_loadu_ps(p + 16), _mm256_loadu_ps(p + 24), _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_shuffle_ps(even, even2, _MM_SHUFFLE(2, 0, 2, 0));
}

// The window each register lane holds after corners<kStep> (3 is never loaded).
const int kLanes[5][8] = {{0, 1, 2, 3, 4, 5, 6, 7},
                          {0, 1, 2, 3, 4, 5, 6, 7},
                          {0, 1, 4, 5, 2, 3, 6, 7},
                          {},
                          {0, 2, 4, 6, 1, 3, 5, 7}};

// Eight census codes from the lanes' 16 cell-corner values v[row * 4 + col], each lane's arithmetic in
// the order of the scalar form.
__attribute__((target("avx2"), always_inline)) inline __m256i censusEight(const __m256* v) {
    const __m256d ninth = _mm256_set1_pd(0.111111);
    const __m256 block = _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(v[15], v[12]), v[3]), v[0]);
    const __m128 mean_lo =
        _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(block)), ninth));
    const __m128 mean_hi =
        _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(block, 1)), ninth));
    const __m256 mean = _mm256_insertf128_ps(_mm256_castps128_ps256(mean_lo), mean_hi, 1);
    __m256i code = _mm256_setzero_si256();
#pragma GCC unroll 3
    for (int r = 0; r < 3; r++)
#pragma GCC unroll 3
        for (int c = 0; c < 3; c++) {
            const __m256 cell =
                _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(v[(r + 1) * 4 + c + 1], v[(r + 1) * 4 + c]),
                                            v[r * 4 + c + 1]),
                              v[r * 4 + c]);
            // A true comparison is all ones, -1: subtracting it sets the new low bit.
            code = _mm256_sub_epi32(_mm256_add_epi32(code, code),
                                    _mm256_castps_si256(_mm256_cmp_ps(cell, mean, _CMP_GT_OQ)));
        }
    return code;
}

// The lanes' table values of one weak classifier, computing the codes from the integral image.
template <int kStep>
struct CornerTable {
    const real* first;  // lane 0's window (kStep 0: the integral image)
    const int* grid;
    __m256i at;  // kStep 0: the lanes' windows from `first`

    __attribute__((target("avx2"), always_inline)) inline __m256 operator()(int base, const real* lut) const {
        const real* p = first + base;
        __m256 v[16];
#pragma GCC unroll 16
        for (int j = 0; j < 16; j++) v[j] = corners<kStep>(p + grid[j], at);
        // Eight table reads: faster here than a gather.
        alignas(32) int c[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(c), censusEight(v));
        return _mm256_setr_ps(lut[c[0]], lut[c[1]], lut[c[2]], lut[c[3]], lut[c[4]], lut[c[5]], lut[c[6]],
                              lut[c[7]]);
    }
};

// The same from the code image.
struct StoredTable {
    const uint16_t* at[8];  // the lanes' windows in the code image

    __attribute__((target("avx2"), always_inline)) inline __m256 operator()(int base, const real* lut) const {
        return _mm256_setr_ps(lut[at[0][base]], lut[at[1][base]], lut[at[2][base]], lut[at[3][base]],
                              lut[at[4][base]], lut[at[5][base]], lut[at[6][base]], lut[at[7][base]]);
    }
};

}  // namespace

ipSubWindow::Decision ipSWmctMS::decided(int stage, real sum) {
    if (stage == n_stages && sum >= threshold) return {true, sum, view};
    rejections[stage < n_stages ? stage : n_stages - 1]++;
    return {false, -FLT_MAX, view};
}

// The stages on eight windows (at_lane[p]: the window register lane p holds; live: the windows that
// count, the others repeat one that reads inside the image), each lane's arithmetic in the order
// process() does it, so that sums and rejections are the same. table(base, lut) gives the lanes' table
// values of a weak classifier; rest(window, stage, &sum) runs one window from a stage on, for the last
// few alive.
template <class Table, class Rest>
__attribute__((target("avx2"))) void ipSWmctMS::decideLanes(const int* at_lane, int live, const Table& table,
                                                            const Rest& rest, Decision* out) {
    int alive = 0;
    for (int p = 0; p < 8; p++)
        if (live >> at_lane[p] & 1) alive |= 1 << p;
    const Decision rejected = {false, -FLT_MAX, view};
    __m256 sum = _mm256_setzero_ps();
    int k = 0;
    for (int s = 0; s < n_stages; s++) {
        sum = _mm256_setzero_ps();
        const int end = stage_end[s];
        for (; k < end; k++)
            sum = _mm256_add_ps(
                sum, _mm256_mul_ps(table(weak[k].base, weak[k].lut), _mm256_set1_ps(weak[k].weight)));
        const int fail =
            _mm256_movemask_ps(_mm256_cmp_ps(sum, _mm256_set1_ps(thresholds[s]), _CMP_LT_OQ)) & alive;
        alive &= ~fail;
        rejections[s] += __builtin_popcount(fail);
        for (int p = 0; p < 8; p++)
            if (fail >> p & 1) out[at_lane[p]] = rejected;
        if (alive == 0) return;
        if (s + 1 < n_stages && __builtin_popcount(alive) <= kMaxAliveForScalar) {
            for (int p = 0; p < 8; p++) {
                if (!(alive >> p & 1)) continue;
                real last;
                const int stage = rest(at_lane[p], s + 1, &last);
                out[at_lane[p]] = decided(stage, last);
            }
            return;
        }
    }
    alignas(32) real lane_sum[8];
    _mm256_store_ps(lane_sum, sum);
    for (int p = 0; p < 8; p++)
        if (alive >> p & 1) out[at_lane[p]] = decided(n_stages, lane_sum[p]);
}

// Eight windows of row y_ (lane_x: their columns, in the order corners() reads them for kStep), their codes
// computed from the integral image.
template <int kStep>
__attribute__((target("avx2"))) void ipSWmctMS::decideEight(int y_, const int* lane_x, int live,
                                                            Decision* out) {
    const real* sums = input->frames[0];
    const int row = y_ * width_image;
    CornerTable<kStep> table;
    table.at = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(lane_x)),
                                _mm256_set1_epi32(row));
    table.first = kStep == 0 ? sums : sums + row + lane_x[0];
    table.grid = grid;
    decideLanes(kLanes[kStep], live, table,
                [&](int lane, int first, real* sum) { return runStages(sums + row + lane_x[lane], first, sum); },
                out);
}

// Eight windows of row y_ in any columns, their codes read from the code image.
__attribute__((target("avx2"))) void ipSWmctMS::decideEightCoded(int y_, const int* lane_x, int live,
                                                                 Decision* out) {
    const uint16_t* row = codes + (long)y_ * width_image;
    StoredTable table;
    for (int l = 0; l < 8; l++) table.at[l] = row + lane_x[l];
    decideLanes(kLanes[0], live, table,
                [&](int lane, int first, real* sum) { return codedStages(row + lane_x[lane], first, sum); },
                out);
}

void ipSWmctMS::beginScan(int step_x, int step_y) {
    coded = false;
    if (!batch || !hasAvx2() || (long)step_x * step_y > kMaxCodedArea) return;
    const long pixels = (long)width_image * height_image;
    if (pixels <= 0) return;
    if (window_width != geometry_size || width_image != geometry_width) updateGeometry();
    if (pixels > codes_capacity) {
        codes = static_cast<uint16_t*>(allocator->realloc(codes, (long)sizeof(uint16_t) * pixels));
        codes_capacity = pixels;
    }
    if (height_image > rows_capacity) {
        code_row_done = static_cast<uint8_t*>(allocator->realloc(code_row_done, height_image));
        rows_capacity = height_image;
    }
    std::memset(code_row_done, 0, height_image);
    coded_width = width_image;
    coded_height = height_image;
    coded = true;
}

void ipSWmctMS::codeRows(int first, int last) {
    // A mask's corner pixel needs m more rows and columns below and to the right of it.
    const int m = grid[3];
    if (first < 0) first = 0;
    if (last > height_image - 1 - m) last = height_image - 1 - m;
    for (int r = first; r <= last; r++)
        if (!code_row_done[r]) {
            codeRow(r);
            code_row_done[r] = 1;
        }
}

// The codes of one row, for every corner pixel whose mask reads stay in the image.
__attribute__((target("avx2"))) void ipSWmctMS::codeRow(int r) {
    const int m = grid[3];
    const int n = width_image - m;
    const real* src = input->frames[0] + (long)r * width_image;
    uint16_t* dst = codes + (long)r * width_image;
    if (n < 8) {
        for (int x = 0; x < n; x++) {
            real v[4][4];
            for (int j = 0; j < 16; j++) v[j / 4][j % 4] = src[x + grid[j]];
            dst[x] = (uint16_t)mctCode(v);
        }
        return;
    }
    // Eight neighbouring pixels at once; the last eight overlap the ones before them.
    for (int x = 0;; x += 8) {
        if (x > n - 8) x = n - 8;
        __m256 v[16];
#pragma GCC unroll 16
        for (int j = 0; j < 16; j++) v[j] = _mm256_loadu_ps(src + x + grid[j]);
        const __m256i code = censusEight(v);
        // Codes are 9 bits: packing to 16 bits keeps them; the permute joins the two halves.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(code, code), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm256_castsi256_si128(packed));
        if (x == n - 8) break;
    }
}

void ipSWmctMS::processRow(Sequence* in, int y_, const int* xs, int n, Decision* out) {
    if (!batch || !hasAvx2()) {
        ipSubWindow::processRow(in, y_, xs, n, out);
        return;
    }
    if (n <= 0) return;
    if (window_width != geometry_size || width_image != geometry_width) updateGeometry();
    setY(y_);
    auto one = [&](int i) {
        setX(xs[i]);
        process(in);
        out[i] = {is_pattern, confidence(), view};
    };
    int lane_x[8], index[8];
    Decision lanes[8];
    // Up to eight windows from xs[from] on that lie inside the image, into the lanes (the unused lanes
    // repeat the last window); returns the index after them.
    auto takeInside = [&](int from, int* live) {
        int j = from;
        *live = 0;
        for (; j < n && j - from < 8 && inside(xs[j], y_); j++) {
            lane_x[j - from] = xs[j];
            index[j - from] = j;
            *live |= 1 << (j - from);
        }
        for (int l = j - from; l < 8 && j > from; l++) lane_x[l] = xs[j - 1];
        return j;
    };
    int i = 0;
    if (codedValid()) {
        codeRows(y_ + reach_min_y, y_ + reach_max_y - grid[3]);
        const uint16_t* row = codes + (long)y_ * width_image;
        while (i < n) {
            if (!inside(xs[i], y_)) {  // process() rejects it
                one(i++);
                continue;
            }
            int live;
            const int j = takeInside(i, &live);
            if (j - i < kMinCoded) {
                for (; i < j; i++) {
                    real sum;
                    const int stage = codedStages(row + xs[i], 0, &sum);
                    out[i] = decided(stage, sum);
                }
                continue;
            }
            decideEightCoded(y_, lane_x, live, lanes);
            for (int l = 0; l < j - i; l++) out[index[l]] = lanes[l];
            i = j;
        }
    }
    while (i < n) {
        const int x0 = xs[i];
        if (!inside(x0, y_)) {  // process() rejects it
            one(i++);
            continue;
        }
        int live = 0, j = i;
        // Windows on a grid of step 1, 2 or 4 (the finest levels) read floats close together: load them;
        // the grid's windows missing from the row (the gate's rejects) are dead lanes.
        const int d = i + 1 < n ? xs[i + 1] - x0 : 0;
        if ((d == 1 || d == 2 || d == 4) && inside(x0 + 8 * d - 1, y_)) {
            for (; j < n && xs[j] < x0 + 8 * d && (xs[j] - x0) % d == 0; j++) {
                const int l = (xs[j] - x0) / d;
                index[l] = j;
                live |= 1 << l;
            }
            if (j - i >= kMinLoaded) {
                for (int l = 0; l < 8; l++) lane_x[l] = x0 + l * d;
                if (d == 1)
                    decideEight<1>(y_, lane_x, live, lanes);
                else if (d == 2)
                    decideEight<2>(y_, lane_x, live, lanes);
                else
                    decideEight<4>(y_, lane_x, live, lanes);
                for (int l = 0; l < 8; l++)
                    if (live >> l & 1) out[index[l]] = lanes[l];
                i = j;
                continue;
            }
        }
        // Any windows inside the image, gathered.
        j = takeInside(i, &live);
        if (j - i < kMinGathered) {
            for (; i < j; i++) one(i);
            continue;
        }
        decideEight<0>(y_, lane_x, live, lanes);
        for (int l = 0; l < j - i; l++) out[index[l]] = lanes[l];
        i = j;
    }
    // As the last window leaves it.
    x = (int16_t)xs[n - 1];
    is_pattern = out[n - 1].is_pattern;
    output->frames[0][0] = out[n - 1].confidence;
}

void ipSWmctMS::stat() {
    long total = 0;
    for (int s = 0; s < n_stages; s++) total += rejections[s];
    print("    rejections per stages:\n");
    for (int s = 0; s < n_stages; s++)
        print("      + stage %d: %d \t %2.2f %%\n", s, rejections[s],
              total > 0 ? 100.0 * rejections[s] / (double)total : 0.0);
    print("\n");
}

}  // namespace vision
