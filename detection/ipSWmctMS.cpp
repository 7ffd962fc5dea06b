#include "detection/ipSWmctMS.h"

#include <cfloat>
#include <cmath>

#include <emmintrin.h>

#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"

namespace vision {

namespace {
// Far beyond any trained cascade, low enough that a corrupt count cannot exhaust memory.
const int kMaxStages = 1000;
const int kMaxTrainersPerStage = 10000;
const int kMaxTrainers = 100000;
// Lane 0 (the left cell) is the high bit of its row's three.
const int kReversed3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
}  // namespace

ipSWmctMS::ipSWmctMS(real* integral_sums, int width_image_, int height_image_, int width_pattern_,
                     int height_pattern_, const char* model_file, real threshold_, bool verbose_)
    : ipSubWindow(width_image_, height_image_, width_pattern_, height_pattern_, threshold_), input(nullptr),
      rejections(nullptr), mcts(nullptr), trainers(nullptr), n_stages(0), weights(nullptr), n_trainers(nullptr),
      thresholds(nullptr), weak(nullptr), stage_end(nullptr), n_weak(0), geometry_size(-1), geometry_width(-1) {
    verbose = verbose_;
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
    if (n_stages < 1 || n_stages > kMaxStages)
        error("ipSWmctMS: wrong number of stages (%d) in model %s", n_stages, model_file);
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
        if (n_trainers[s] < 1 || n_trainers[s] > kMaxTrainersPerStage)
            error("ipSWmctMS: wrong number of weak classifiers (%d) in stage %d of model %s", n_trainers[s], s,
                  model_file);
        n_weak += n_trainers[s];
        if (n_weak > kMaxTrainers)
            error("ipSWmctMS: too many weak classifiers in model %s", model_file);
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

void ipSWmctMS::process(Sequence*) {
    if (window_width != geometry_size || width_image != geometry_width) updateGeometry();
    // A window whose masks would reach outside the integral image is never a pattern.
    if (x + reach_min_x < 0 || y + reach_min_y < 0 || x + reach_max_x >= width_image ||
        y + reach_max_y >= height_image) {
        reject(-1);
        return;
    }
    is_pattern = true;
    const real* origin = input->frames[0] + y * width_image + x;
    // Row and column offsets of the cell corners from the mask's corner (the same for every mask).
    const int r1 = grid[4], r2 = grid[8], r3 = grid[12];
    const int c1 = grid[1], c2 = grid[2], c3 = grid[3];
    const Weak* wk = weak;
    real sum = 0;
    int k = 0;
    for (int s = 0; s < n_stages; s++) {
        sum = 0;
        const int end = stage_end[s];
        for (; k < end; k++) {
            const real* p0 = origin + wk[k].base;
            const real* p1 = p0 + r1;
            const real* p2 = p0 + r2;
            const real* p3 = p0 + r3;
            const __m128 R0 = _mm_setr_ps(p0[0], p0[c1], p0[c2], p0[c3]);
            const __m128 R1 = _mm_setr_ps(p1[0], p1[c1], p1[c2], p1[c3]);
            const __m128 R2 = _mm_setr_ps(p2[0], p2[c1], p2[c2], p2[c3]);
            const __m128 R3 = _mm_setr_ps(p3[0], p3[c1], p3[c2], p3[c3]);
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
            const int code = kReversed3[_mm_movemask_ps(_mm_cmpgt_ps(cells0, mean)) & 7] << 6 |
                             kReversed3[_mm_movemask_ps(_mm_cmpgt_ps(cells1, mean)) & 7] << 3 |
                             kReversed3[_mm_movemask_ps(_mm_cmpgt_ps(cells2, mean)) & 7];
            sum = sum + wk[k].lut[code] * wk[k].weight;
        }
        if (sum < thresholds[s]) {
            reject(s);
            return;
        }
    }
    output->frames[0][0] = sum;
    if (sum < threshold) reject(n_stages - 1);
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
