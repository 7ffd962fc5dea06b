#include "detection/WindowScan.h"

#include "detection/DetectorRound.h"
#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

WindowScan::WindowScan(int width_image_, int height_image_, int width_ii_, int height_ii_, int window_width_,
                       int window_height_, int sw_window_width_, int sw_window_height_, ipSubWindow* classifier_,
                       PatternList* list_, bool verbose_, int max_rois_)
    : verbose(verbose_), width_image(width_image_), height_image(height_image_), width_ii(width_ii_),
      height_ii(height_ii_), window_width(window_width_), window_height(window_height_),
      sw_window_width(sw_window_width_), sw_window_height(sw_window_height_), step_x(1), step_y(1),
      classifier(classifier_), list(list_), mean_var_test(false), ii_sums(nullptr), ii_squares(nullptr),
      sum_min(0), sum_max(0), var_min(0), var_max(0), inv_area(0), prune_test(false), prune_image(nullptr),
      prune_min(0), prune_max(0), max_rois(max_rois_), n_rois(0), n_windows(0), n_classified(0),
      n_prune_rejected(0), n_mean_rejected(0), n_stdv_rejected(0) {
    roi_x = static_cast<int*>(allocator->alloc((long)sizeof(int) * 4 * max_rois));
    roi_y = roi_x + max_rois;
    roi_w = roi_y + max_rois;
    roi_h = roi_w + max_rois;
    // A row holds at most one window per column.
    const int row_max = width_ii > 0 ? width_ii : 1;
    row_x = static_cast<int*>(allocator->alloc((long)sizeof(int) * row_max));
    row_decisions =
        static_cast<ipSubWindow::Decision*>(allocator->alloc((long)sizeof(ipSubWindow::Decision) * row_max));
}

void WindowScan::setMeanVarTest(real mean_min, real mean_max, real stdv_min, real stdv_max, const real* sums,
                                const real* squares) {
    const real area = (real)(window_width * window_height);
    ii_sums = sums;
    ii_squares = squares;
    sum_min = area * mean_min;
    sum_max = area * mean_max;
    var_min = area * (stdv_min * stdv_min);
    var_max = area * (stdv_max * stdv_max);
    inv_area = 1.0f / area;
    mean_var_test = sums != nullptr && squares != nullptr;
}

void WindowScan::addROI(int x, int y, int w, int h) {
    if (n_rois >= max_rois) error("WindowScan::addROI() impossible to add a ROI.");
    roi_x[n_rois] = x;
    roi_y[n_rois] = y;
    roi_w[n_rois] = w;
    roi_h[n_rois] = h;
    n_rois++;
}

MSWindowScan::MSWindowScan(int width_image_, int height_image_, int width_ii_, int height_ii_,
                           int window_width_, int window_height_, int sw_window_width_, int sw_window_height_,
                           real step_x_factor, real step_y_factor, ipSubWindow* classifier_, PatternList* list_,
                           bool verbose_)
    : WindowScan(width_image_, height_image_, width_ii_, height_ii_, window_width_, window_height_,
                 sw_window_width_, sw_window_height_, classifier_, list_, verbose_) {
    step_x = detectorRound((real)window_width * step_x_factor);
    step_y = detectorRound((real)window_height * step_y_factor);
    if (step_x < 1) step_x = 1;
    if (step_y < 1) step_y = 1;
    if (verbose) {
        print("MSWindowScan::MSWindowScan() scan %dx%d image (real=%dx%d) with %dx%d window (real=%dx%d)\n",
              width_ii, height_ii, width_image, height_image, sw_window_width, sw_window_height, window_width,
              window_height);
        print(" + stepx = %d\n", step_x);
        print(" + stepy = %d\n", step_y);
    }
}

void MSWindowScan::init() { classifier->init(); }

void MSWindowScan::scan(Sequence* input) {
    ipSubWindow* sw = classifier;
    sw->width_image = width_ii;
    sw->height_image = height_ii;
    sw->setSize(sw_window_width, sw_window_height);
    sw->beginScan(step_x, step_y);
    n_windows = n_classified = n_prune_rejected = n_mean_rejected = n_stdv_rejected = 0;

    const int W = width_ii;
    // Offsets of the window's four integral-image corners from its top-left pixel: (x-1, y-1) and
    // (x+w-1, y+h-1).
    const int o_tl = -W - 1;
    const int o_tr = -W + window_width - 1;
    const int o_bl = (window_height - 1) * W - 1;
    const int o_br = (window_height - 1) * W + window_width - 1;

    for (int r = 0; r < n_rois; r++) {
        const int x0 = roi_x[r] > 2 ? roi_x[r] : 2;
        const int y0 = roi_y[r] > 2 ? roi_y[r] : 2;
        int x_end = x0 + roi_w[r] - window_width - 2;
        int y_end = y0 + roi_h[r] - window_height - 2;
        // A region reaching past the frame is cut where the default region ends, so that no window reads
        // outside the integral image.
        if (x_end > width_ii - window_width) x_end = width_ii - window_width;
        if (y_end > height_ii - window_height) y_end = height_ii - window_height;
        for (int y = y0; y < y_end; y += step_y) {
            int n = 0;
            for (int x = x0; x < x_end; x += step_x) {
                n_windows++;
                if (mean_var_test) {
                    const int at = y * W + x;
                    const real* s_ = ii_sums + at;
                    const real s = s_[o_br] - s_[o_bl] - s_[o_tr] + s_[o_tl];
                    if (s < sum_min || s > sum_max) {
                        n_mean_rejected++;
                        continue;
                    }
                    const real* q_ = ii_squares + at;
                    const real q = q_[o_br] - q_[o_bl] - q_[o_tr] + q_[o_tl];
                    const real v = q - s * inv_area * s;
                    if (v < var_min || v > var_max) {
                        n_stdv_rejected++;
                        continue;
                    }
                }
                row_x[n++] = x;
            }
            if (n == 0) continue;
            // The whole row at once, so that a classifier can decide neighbouring windows together.
            sw->processRow(input, y, row_x, n, row_decisions);
            n_classified += n;
            for (int i = 0; i < n; i++)
                if (row_decisions[i].is_pattern)
                    list->add(row_x[i], y, window_width, window_height, row_decisions[i].confidence,
                              row_decisions[i].view);
        }
    }
}

}  // namespace vision
