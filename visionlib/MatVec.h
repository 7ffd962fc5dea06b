#pragma once
// General float matrices and vectors, and a few operations on float arrays.
#include "visionlib/Object.h"

namespace vision {

class Vec : public Object {
public:
    int n;
    real* ptr;

    explicit Vec(int n);        // owned, zeroed
    Vec(real* data, int n);     // over the caller's floats
    ~Vec() override;

    void copy(const Vec* other, int start = 0);  // elements start .. n - 1
    void zero();
    double norm1() const;
    double norm2(const Vec* weights = nullptr) const;
    double normInf() const;
    double dot(const Vec* other, int start = 0) const;
    Vec* subVector(int first, int last);  // shares the elements; owned by this vector
};

class Mat : public Object {
public:
    int m;  // rows
    int n;  // columns
    real** ptr;
    real* base;  // the owned data block, or null

    Mat(int m, int n);                 // owned, zeroed
    Mat(real* data, int m, int n);     // rows over a contiguous block the caller owns
    Mat(real** rows, int m, int n);    // the caller's row pointers
    ~Mat() override;

    void copy(const Mat* other);
    void zero();
    double norm1() const;  // largest column sum of absolute values
    double normFrobenius() const;
    double normInf() const;  // largest row sum of absolute values
    // Into the given vector, or a new one owned by this matrix.
    Vec* getRow(int i, Vec* out = nullptr);
    Vec* getCol(int j, Vec* out = nullptr);
    void setRow(int i, const Vec* v);
    void setCol(int j, const Vec* v);
    // A matrix over rows r0..r1 and columns c0..c1 of this one (sharing them); owned by this one.
    Mat* subMatrix(int r0, int c0, int r1, int c1);
};

real dotArrays(const real* a, const real* b, int n);
void addScaled(real* y, real a, const real* x, int n);  // y = y + a x
void scaleArray(real* dst, real a, const real* src, int n);
void addArrays(real* out, const real* a, const real* b, int n);
void subtractArrays(real* out, const real* a, const real* b, int n);
void zeroArray(real* v, int n);

}  // namespace vision
