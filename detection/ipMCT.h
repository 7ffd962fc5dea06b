#pragma once
// Modified census transform of one 3 x 3 block of cells of the pattern, scaled to the window and read from
// the integral image.
#include "detection/DetectorRound.h"
#include "visionlib/ipCore.h"

namespace vision {

// The census code of nine cells from the 4 x 4 grid of integral-image values at the cell corners
// (v[row][col], row and column 0 at the mask's corner). Each cell's sum is compared with the block's
// total times 0.111111; the top-left cell is bit 8, the bottom-right bit 0.
__attribute__((always_inline)) inline int mctCode(const real v[4][4]) {
    const real block = v[3][3] - v[3][0] - v[0][3] + v[0][0];
    const real mean = (real)((double)block * 0.111111);
    int code = 0;
#pragma GCC unroll 3
    for (int r = 0; r < 3; r++)
#pragma GCC unroll 3
        for (int c = 0; c < 3; c++) {
            const real cell = v[r + 1][c + 1] - v[r + 1][c] - v[r][c + 1] + v[r][c];
            code = (code << 1) | (cell > mean ? 1 : 0);
        }
    return code;
}

class ipMCT : public ipCore {
public:
    int x_mask, y_mask;  // the mask's position in the pattern
    int mask_size;       // 3
    int pattern_size;
    int width_image, height_image;  // the integral image's row length and row count
    int x_window, y_window;
    int window_size;
    real scale;      // window size / pattern size
    int corner_x, corner_y;  // in integral-image coordinates
    int m;           // scaled mask width
    int cut;         // c: the cells span [0, c), [c, m - c), [m - c, m)
    int cut2;        // m - c

    // A pattern that is not square is fatal.
    ipMCT(int width_pattern, int height_pattern, int x_mask, int y_mask, int mask_size = 3);

    void setImageSize(int width, int height);
    void setSize(int window_size);
    void setXY(int x_window, int y_window);
    // Writes the code of the current window, as a float, to the output.
    void process(Sequence* integral) override;
    int code() const { return (int)output->frames[0][0]; }

    // Offset of the mask's corner from the window's top-left pixel at the current scale.
    int cornerDx() const { return detectorRound((real)x_mask * scale) - 1; }
    int cornerDy() const { return detectorRound((real)y_mask * scale) - 1; }

private:
    bool corner_stale;
    void updateGeometry();
};

}  // namespace vision
