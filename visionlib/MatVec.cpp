#include "visionlib/MatVec.h"

#include <cmath>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

Vec::Vec(int n_) : n(n_ > 0 ? n_ : 0), ptr(nullptr) {
    if (n > 0) {
        ptr = (real*)allocator->alloc(sizeof(real) * (long)n);
        zero();
    }
}

Vec::Vec(real* data, int n_) : n(n_), ptr(data) {}

Vec::~Vec() {}

void Vec::copy(const Vec* other, int start) {
    if (other == this) return;
    for (int i = start; i < n && i < other->n; i++) ptr[i] = other->ptr[i];
}

void Vec::zero() {
    if (n > 0) memset(ptr, 0, sizeof(real) * n);
}

double Vec::norm1() const {
    double s = 0;
    for (int i = 0; i < n; i++) s += std::fabs(ptr[i]);
    return s;
}

double Vec::norm2(const Vec* weights) const {
    double s = 0;
    for (int i = 0; i < n; i++) s += (weights ? weights->ptr[i] : 1.0) * ptr[i] * ptr[i];
    return std::sqrt(s);
}

double Vec::normInf() const {
    double s = 0;
    for (int i = 0; i < n; i++)
        if (std::fabs(ptr[i]) > s) s = std::fabs(ptr[i]);
    return s;
}

double Vec::dot(const Vec* other, int start) const {
    double s = 0;
    for (int i = start; i < n && i < other->n; i++) s += (double)ptr[i] * other->ptr[i];
    return s;
}

Vec* Vec::subVector(int first, int last) { return new (allocator) Vec(ptr + first, last - first + 1); }

Mat::Mat(int m_, int n_) : m(m_), n(n_), ptr(nullptr), base(nullptr) {
    if (m <= 0 || n <= 0) {
        m = n = 0;
        return;
    }
    base = (real*)allocator->alloc(sizeof(real) * (long)m * n);
    ptr = (real**)allocator->alloc(sizeof(real*) * (long)m);
    for (int i = 0; i < m; i++) ptr[i] = base + (long)i * n;
    zero();
}

Mat::Mat(real* data, int m_, int n_) : m(m_), n(n_), ptr(nullptr), base(nullptr) {
    if (m <= 0) return;
    ptr = (real**)allocator->alloc(sizeof(real*) * (long)m);
    for (int i = 0; i < m; i++) ptr[i] = data + (long)i * n;
}

Mat::Mat(real** rows, int m_, int n_) : m(m_), n(n_), ptr(rows), base(nullptr) {}

Mat::~Mat() {}

void Mat::copy(const Mat* other) {
    if (other == this) return;
    for (int i = 0; i < m && i < other->m; i++)
        for (int j = 0; j < n && j < other->n; j++) ptr[i][j] = other->ptr[i][j];
}

void Mat::zero() {
    for (int i = 0; i < m; i++)
        for (int j = 0; j < n; j++) ptr[i][j] = 0;
}

double Mat::norm1() const {
    double best = 0;
    for (int j = 0; j < n; j++) {
        double s = 0;
        for (int i = 0; i < m; i++) s += std::fabs(ptr[i][j]);
        if (s > best) best = s;
    }
    return best;
}

double Mat::normFrobenius() const {
    double s = 0;
    for (int i = 0; i < m; i++)
        for (int j = 0; j < n; j++) s += (double)ptr[i][j] * ptr[i][j];
    return std::sqrt(s);
}

double Mat::normInf() const {
    double best = 0;
    for (int i = 0; i < m; i++) {
        double s = 0;
        for (int j = 0; j < n; j++) s += std::fabs(ptr[i][j]);
        if (s > best) best = s;
    }
    return best;
}

Vec* Mat::getRow(int i, Vec* out) {
    if (out == nullptr) out = new (allocator) Vec(n);
    for (int j = 0; j < n && j < out->n; j++) out->ptr[j] = ptr[i][j];
    return out;
}

Vec* Mat::getCol(int j, Vec* out) {
    if (out == nullptr) out = new (allocator) Vec(m);
    for (int i = 0; i < m && i < out->n; i++) out->ptr[i] = ptr[i][j];
    return out;
}

void Mat::setRow(int i, const Vec* v) {
    for (int j = 0; j < n && j < v->n; j++) ptr[i][j] = v->ptr[j];
}

void Mat::setCol(int j, const Vec* v) {
    for (int i = 0; i < m && i < v->n; i++) ptr[i][j] = v->ptr[i];
}

Mat* Mat::subMatrix(int r0, int c0, int r1, int c1) {
    const int rows = r1 - r0 + 1;
    real** table = (real**)allocator->alloc(sizeof(real*) * (long)(rows > 0 ? rows : 1));
    for (int i = 0; i < rows; i++) table[i] = ptr[r0 + i] + c0;
    return new (allocator) Mat(table, rows, c1 - c0 + 1);
}

real dotArrays(const real* a, const real* b, int n) {
    double s = 0;
    for (int i = 0; i < n; i++) s += (double)a[i] * b[i];
    return (real)s;
}

void addScaled(real* y, real a, const real* x, int n) {
    for (int i = 0; i < n; i++) y[i] += a * x[i];
}

void scaleArray(real* dst, real a, const real* src, int n) {
    for (int i = 0; i < n; i++) dst[i] = a * src[i];
}

void addArrays(real* out, const real* a, const real* b, int n) {
    for (int i = 0; i < n; i++) out[i] = a[i] + b[i];
}

void subtractArrays(real* out, const real* a, const real* b, int n) {
    for (int i = 0; i < n; i++) out[i] = a[i] - b[i];
}

void zeroArray(real* v, int n) {
    for (int i = 0; i < n; i++) v[i] = 0;
}

}  // namespace vision
