#pragma once
// Vector and matrix operations on floats for one fixed size N; closed-form inverse for N = 2 and 3.
// Vectors are arrays of N floats, matrices arrays of N row pointers. Sizes are the caller's duty.
#include "visionlib/Object.h"

namespace vision {

class SmallMatrixOps : public Object {
public:
    explicit SmallMatrixOps(int n);
    ~SmallMatrixOps() override;

    void zeroVector(real* v) const;
    void zeroMatrix(real** m) const;
    void fillMatrix(real** m, real value) const;
    void transpose(real** m) const;
    void copyVector(real* dst, const real* src) const;
    void copyMatrix(real** dst, real* const* src) const;
    void outerProduct(real** m, const real* u, const real* v) const;
    // out(j) = sum over i of v(i) M(i, j)
    void vectorTimesMatrix(real* out, const real* v, real* const* m) const;
    void addMatrix(real** a, real* const* b) const;
    void scaleMatrix(real** m, real x) const;
    void divideMatrix(real** m, real x) const;
    void divideVector(real* v, real x) const;
    double vectorNorm(const real* v) const;
    // Square root of the sum of squares of all entries, divided by N.
    double matrixNorm(real* const* m) const;
    // dst = src^-1 for N = 2 and 3; returns the determinant. Other sizes warn and return 0.
    double invert(real** dst, real* const* src) const;

    void printVector(const real* v) const;
    void printMatrix(real* const* m) const;

    int N;
};

}  // namespace vision
