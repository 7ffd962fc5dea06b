#include "visionlib/SmallMatrixOps.h"

#include <cmath>

#include "visionlib/Message.h"

namespace vision {

SmallMatrixOps::SmallMatrixOps(int n) : N(n) {}

SmallMatrixOps::~SmallMatrixOps() {}

void SmallMatrixOps::zeroVector(real* v) const {
    for (int i = 0; i < N; i++) v[i] = 0;
}

void SmallMatrixOps::zeroMatrix(real** m) const { fillMatrix(m, 0); }

void SmallMatrixOps::fillMatrix(real** m, real value) const {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) m[i][j] = value;
}

void SmallMatrixOps::transpose(real** m) const {
    for (int i = 0; i < N; i++)
        for (int j = i + 1; j < N; j++) {
            const real t = m[i][j];
            m[i][j] = m[j][i];
            m[j][i] = t;
        }
}

void SmallMatrixOps::copyVector(real* dst, const real* src) const {
    for (int i = 0; i < N; i++) dst[i] = src[i];
}

void SmallMatrixOps::copyMatrix(real** dst, real* const* src) const {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) dst[i][j] = src[i][j];
}

void SmallMatrixOps::outerProduct(real** m, const real* u, const real* v) const {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) m[i][j] = u[i] * v[j];
}

void SmallMatrixOps::vectorTimesMatrix(real* out, const real* v, real* const* m) const {
    for (int j = 0; j < N; j++) {
        double s = 0;
        for (int i = 0; i < N; i++) s += (double)v[i] * m[i][j];
        out[j] = (real)s;
    }
}

void SmallMatrixOps::addMatrix(real** a, real* const* b) const {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) a[i][j] += b[i][j];
}

void SmallMatrixOps::scaleMatrix(real** m, real x) const {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) m[i][j] *= x;
}

void SmallMatrixOps::divideMatrix(real** m, real x) const { scaleMatrix(m, (real)(1.0 / x)); }

void SmallMatrixOps::divideVector(real* v, real x) const {
    const real r = (real)(1.0 / x);
    for (int i = 0; i < N; i++) v[i] *= r;
}

double SmallMatrixOps::vectorNorm(const real* v) const {
    double s = 0;
    for (int i = 0; i < N; i++) s += (double)v[i] * v[i];
    return std::sqrt(s);
}

double SmallMatrixOps::matrixNorm(real* const* m) const {
    double s = 0;
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) s += (double)m[i][j] * m[i][j];
    if (N == 3) return (double)(real)std::sqrt(s) / 3;
    return std::sqrt(s) / N;
}

double SmallMatrixOps::invert(real** dst, real* const* s) const {
    if (N == 2) {
        const double det = (double)s[0][0] * s[1][1] - (double)s[0][1] * s[1][0];
        const double r = 1.0 / det;
        const double a = s[0][0], b = s[0][1], c = s[1][0], d = s[1][1];
        dst[0][0] = (real)(d * r);
        dst[0][1] = (real)(-b * r);
        dst[1][0] = (real)(-c * r);
        dst[1][1] = (real)(a * r);
        return det;
    }
    if (N == 3) {
        const double s00 = s[0][0], s01 = s[0][1], s02 = s[0][2];
        const double s10 = s[1][0], s11 = s[1][1], s12 = s[1][2];
        const double s20 = s[2][0], s21 = s[2][1], s22 = s[2][2];
        const double det = s00 * (s11 * s22 - s12 * s21) - s01 * (s10 * s22 - s12 * s20) +
                           s02 * (s10 * s21 - s11 * s20);
        const double r = 1.0 / det;
        dst[0][0] = (real)((s11 * s22 - s12 * s21) * r);
        dst[0][1] = (real)(-(s01 * s22 - s02 * s21) * r);
        dst[0][2] = (real)((s01 * s12 - s02 * s11) * r);
        dst[1][0] = (real)(-(s10 * s22 - s12 * s20) * r);
        dst[1][1] = (real)((s00 * s22 - s02 * s20) * r);
        dst[1][2] = (real)(-(s00 * s12 - s02 * s10) * r);
        dst[2][0] = (real)((s10 * s21 - s11 * s20) * r);
        dst[2][1] = (real)(-(s00 * s21 - s01 * s20) * r);
        dst[2][2] = (real)((s00 * s11 - s01 * s10) * r);
        return det;
    }
    warning("fast %dx%d matrix inversion not implemented, use matrix package instead.", N, N);
    return 0;
}

void SmallMatrixOps::printVector(const real* v) const {
    print("[ ");
    for (int i = 0; i < N; i++) print("%g ", v[i]);
    print("]\n");
}

void SmallMatrixOps::printMatrix(real* const* m) const {
    for (int i = 0; i < N; i++) {
        print(i == 0 ? "[ " : "  ");
        for (int j = 0; j < N; j++) print("%g ", m[i][j]);
        print(i == N - 1 ? "]\n" : "\n");
    }
}

}  // namespace vision
