// Block extraction, the 2-D DCT and DCT-mod2 features.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/visionlib/fatal.h"
#include "visionlib/ipBlock.h"
#include "visionlib/ipDCT2D.h"
#include "visionlib/ipDCTmod2.h"

using namespace vision;

namespace {

// Orthonormal DCT-II coefficient (u vertical, v horizontal) of an N x N block, in double precision.
double naiveDct(const std::vector<double>& f, int N, int u, int v) {
    double s = 0;
    for (int j = 0; j < N; j++)
        for (int i = 0; i < N; i++)
            s += f[j * N + i] * std::cos((2 * i + 1) * v * M_PI / (2 * N)) * std::cos((2 * j + 1) * u * M_PI / (2 * N));
    const double au = u == 0 ? std::sqrt(1.0 / N) : std::sqrt(2.0 / N);
    const double av = v == 0 ? std::sqrt(1.0 / N) : std::sqrt(2.0 / N);
    return au * av * s;
}

}  // namespace

TEST(ExtractBlockTest, OutsideTheImageReadsZero) {
    // 4x3 image with values 1..12.
    std::vector<real> img(12);
    for (int i = 0; i < 12; i++) img[i] = (real)(i + 1);
    struct Case {
        const char* name;
        int x, y, w, h;
        std::vector<real> want;
    };
    const Case cases[] = {
        {"inside", 1, 1, 2, 2, {6, 7, 10, 11}},
        {"past the right edge does not wrap", 3, 0, 2, 2, {4, 0, 8, 0}},
        {"past the bottom", 0, 2, 2, 2, {9, 10, 0, 0}},
        {"negative corner", -1, -1, 2, 2, {0, 0, 0, 1}},
        {"larger than the image", -1, 0, 6, 1, {0, 1, 2, 3, 4, 0}},
        {"entirely outside", 10, -5, 2, 1, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<real> block(c.w * c.h, -1);
        ASSERT_TRUE(extractBlock(img.data(), 4, 3, c.x, c.y, c.w, c.h, block.data()));
        EXPECT_EQ(block, c.want);
    }
    std::vector<real> rgb(2 * 3 * 2);
    for (int i = 0; i < 12; i++) rgb[i] = (real)(i + 1);
    std::vector<real> block(2 * 2 * 3, -1);
    ASSERT_TRUE(extractBlockRGB(rgb.data(), 2, 2, 1, 1, 2, 2, block.data()));
    EXPECT_EQ(block, (std::vector<real>{10, 11, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(extractBlock(nullptr, 4, 3, 0, 0, 1, 1, block.data()));
    EXPECT_FALSE(extractBlock(img.data(), 4, 3, 0, 0, 1, 1, nullptr));
}

TEST(Dct2DTest, ZigzagOrder) {
    ipDCT2D dct(8, "gray", 64);
    const int first[15][2] = {{0, 0}, {1, 0}, {0, 1}, {0, 2}, {1, 1}, {2, 0}, {3, 0}, {2, 1},
                              {1, 2}, {0, 3}, {0, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 0}};
    for (int k = 0; k < 15; k++) {
        EXPECT_EQ(dct.zigzag[2 * k], first[k][0]) << k;
        EXPECT_EQ(dct.zigzag[2 * k + 1], first[k][1]) << k;
    }
    const int last[5][2] = {{6, 6}, {7, 5}, {7, 6}, {6, 7}, {7, 7}};
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(dct.zigzag[2 * (59 + k)], last[k][0]);
        EXPECT_EQ(dct.zigzag[2 * (59 + k) + 1], last[k][1]);
    }
    std::vector<int> seen(64, 0);
    for (int k = 0; k < 64; k++) seen[dct.zigzag[2 * k] * 8 + dct.zigzag[2 * k + 1]]++;
    for (int s : seen) EXPECT_EQ(s, 1);
}

TEST(Dct2DTest, MatchesNaiveDoublePrecisionDct) {
    for (int N : {8, 12}) {
        SCOPED_TRACE(N);
        ipDCT2D dct(N, "gray", N * N);
        Sequence block(1, N * N);
        std::vector<double> f(N * N);
        unsigned seed = 12345;
        for (int i = 0; i < N * N; i++) {
            seed = seed * 1103515245u + 12345u;
            f[i] = (seed >> 16) % 256;
            block.frames[0][i] = (real)f[i];
        }
        dct.process(&block);
        for (int k = 0; k < N * N; k++) {
            const double want = naiveDct(f, N, dct.zigzag[2 * k], dct.zigzag[2 * k + 1]);
            EXPECT_NEAR(dct.output->frames[0][k], want, 1e-3 + 1e-5 * std::fabs(want)) << k;
        }
    }
    ipDCT2D dct(8, "gray", 15);
    Sequence flat(1, 64);
    for (int i = 0; i < 64; i++) flat.frames[0][i] = 100;
    dct.process(&flat);
    EXPECT_NEAR(dct.output->frames[0][0], 800, 1e-3);
    for (int k = 1; k < 15; k++) EXPECT_NEAR(dct.output->frames[0][k], 0, 1e-3);
}

TEST(DctMod2Test, FaceLayoutAndSmallImage) {
    ipDCTmod2 face(64, 80, "gray", 15, 8, 4, 1, 3);
    EXPECT_EQ(face.colblocks_in, 15);
    EXPECT_EQ(face.rowblocks_in, 19);
    EXPECT_EQ(face.n_block_in, 285);
    EXPECT_EQ(face.n_block_out, 221);
    EXPECT_EQ(face.output_size, 18);
    EXPECT_EQ(face.output->n_frames, 221);
    EXPECT_EQ(face.output->frame_size, 18);
    EXPECT_EQ(face.row_offset, 0);
    EXPECT_EQ(face.col_offset, 0);

    ipDCTmod2 small(16, 16, "gray", 15, 8, 4, 1, 3);
    EXPECT_EQ(small.n_block_in, 9);
    EXPECT_EQ(small.n_block_out, 1);

    ipDCTmod2 odd(19, 18, "gray", 15, 8, 4, 1, 3);  // 3 x 3 blocks, odd pixels left at bottom/right
    EXPECT_EQ(odd.col_offset, 1);
    EXPECT_EQ(odd.row_offset, 1);
}

TEST(DctMod2Test, DeltaLayoutOnAHorizontalRamp) {
    const int W = 64, H = 80;
    Sequence img(1, W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) img.frames[0][y * W + x] = (real)(2 * x + 10);
    ipDCTmod2 op(W, H, "gray", 15, 8, 4, 1, 3);
    op.process(&img);
    ipDCT2D dct(8, "gray", 15);
    Sequence block(1, 64);
    auto coefficients = [&](int r, int c) {
        extractBlock(img.frames[0], W, H, 4 * c, 4 * r, 8, 8, block.frames[0]);
        dct.process(&block);
        return std::vector<real>(dct.output->frames[0], dct.output->frames[0] + 15);
    };
    for (int k : {0, 7, 100, 220}) {
        SCOPED_TRACE(k);
        const int r = 1 + k / 13, c = 1 + k % 13;
        const real* f = op.output->frames[k];
        const std::vector<real> here = coefficients(r, c);
        const std::vector<real> left = coefficients(r, c - 1), right = coefficients(r, c + 1);
        for (int i = 0; i < 12; i++) EXPECT_NEAR(f[i], here[3 + i], 1e-3);  // coefficients 3 to 14
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(f[12 + i], 0, 1e-3);                          // vertical deltas
            EXPECT_NEAR(f[15 + i], right[i] - left[i], 1e-2);         // horizontal deltas
        }
        EXPECT_NEAR(f[15], 2 * 8 * 8, 1e-2);  // DC grows by 8 x 8 levels per 8 columns over 2 blocks
    }
}

TEST(DctMod2Test, InvalidParametersAreRefusedAtConstruction) {
    EXPECT_FATAL(ipDCTmod2 op(64, 80, "gray", 15, 8, 8, 1, 3), "ipDCTmod2: overlap should be in range [0...7].");
    EXPECT_FATAL(ipDCTmod2 op(64, 80, "gray", 15, 0, 0, 1, 3), "ipDCTmod2: block size (0) incorrect.");
    EXPECT_FATAL(ipDCTmod2 op(64, 80, "gray", 15, 4, 2, 1, 3), "ipDCT2D(): Block size should not be smaller than 8.");
    EXPECT_FATAL(ipDCTmod2 op(640, 800, "gray", 15, 65, 2, 1, 3), "ipDCT2D(): Block size should not exceed 64.");
    EXPECT_FATAL(ipDCTmod2 op(64, 80, "gray", 65, 8, 4, 1, 3),
                 "ipDCT2D(): dct_dim (65) exceeds the total number of coefficients.");
    EXPECT_FATAL(ipDCTmod2 op(64, 80, "gray", 15, 8, 4, 1, 16), "ipDCTmod2: delta keep should be in range [0...15].");
    EXPECT_FATAL(ipDCTmod2 op(64, 80, "gray", 15, 8, 4, -1, 3), "ipDCTmod2: delta neighbour (-1) incorrect.");
    EXPECT_FATAL(ipDCTmod2 op(12, 80, "gray", 15, 8, 4, 1, 3),
                 "ipDCTmod2::init() not possible for given image dimensions.");
}
