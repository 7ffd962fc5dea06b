#include "visionlib/Geometry2D.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "visionlib/Image.h"
#include "visionlib/MatVec.h"
#include "visionlib/Message.h"
#include "visionlib/XFile.h"

namespace vision {

double degreesToRadians(double degrees) { return degrees * 0.017453292519943295; }

double radiansToDegrees(double radians) { return radians * 57.29577951308232; }

GeomObject2D::GeomObject2D() : flag(0) { buffer[0] = '\0'; }

GeomObject2D::~GeomObject2D() {}

// ---------------------------------------------------------------- Point2D

Point2D::Point2D() : x(0), y(0) {}

Point2D::Point2D(double x_, double y_) : x(x_), y(y_) {}

Point2D::Point2D(const Point2D& o) : GeomObject2D(), x(o.x), y(o.y) {
    memcpy(buffer, o.buffer, sizeof(buffer));
    flag = o.flag;
}

Point2D& Point2D::operator=(const Point2D& o) {
    memcpy(buffer, o.buffer, sizeof(buffer));
    flag = o.flag;
    x = o.x;
    y = o.y;
    return *this;
}

void Point2D::saveFile(XFile* file) {
    file->write(&x, sizeof(double), 1);
    file->write(&y, sizeof(double), 1);
}

void Point2D::loadFile(XFile* file) {
    file->read(&x, sizeof(double), 1);
    file->read(&y, sizeof(double), 1);
}

const char* Point2D::sprint() {
    snprintf(buffer, sizeof(buffer), "(%g, %g)", x, y);
    return buffer;
}

void Point2D::draw(Image* image, Color colour) { image->drawPixel((int)x, (int)y, colour); }

void Point2D::get(double* out) const {
    out[0] = x;
    out[1] = y;
}

Point2D& Point2D::operator+=(const Point2D& o) {
    x += o.x;
    y += o.y;
    return *this;
}

Point2D& Point2D::operator-=(const Point2D& o) {
    x -= o.x;
    y -= o.y;
    return *this;
}

Point2D Point2D::operator+(const Point2D& o) const { return Point2D(x + o.x, y + o.y); }
Point2D Point2D::operator-(const Point2D& o) const { return Point2D(x - o.x, y - o.y); }
Point2D Point2D::operator*(int k) const { return Point2D(x * k, y * k); }
Point2D Point2D::operator*(double k) const { return Point2D(x * k, y * k); }
Point2D Point2D::operator/(double k) const { return *this * (1.0 / k); }
Point2D Point2D::round() const { return Point2D((double)(long)(x + 0.5), (double)(long)(y + 0.5)); }
Point2D operator*(int k, const Point2D& p) { return p * k; }
Point2D operator*(double k, const Point2D& p) { return p * k; }

Point2D operator*(const Matrix2D& m, const Point2D& p) {
    if (m.size() == 3)
        return Point2D(m.at(0, 0) * p.x + m.at(0, 1) * p.y + m.at(0, 2),
                       m.at(1, 0) * p.x + m.at(1, 1) * p.y + m.at(1, 2));
    return Point2D(m.at(0, 0) * p.x + m.at(0, 1) * p.y, m.at(1, 0) * p.x + m.at(1, 1) * p.y);
}

double squaredDistance(const Point2D& a, const Point2D& b) {
    const double dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy;
}

double distance(const Point2D& a, const Point2D& b) { return std::sqrt(squaredDistance(a, b)); }

double crossProduct(const Point2D& o, const Point2D& a, const Point2D& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

double angleFromSides(double a, double b, double c) { return std::acos((a * a + b * b - c * c) / (2 * a * b)); }

double segmentAngle(const Point2D& a, const Point2D& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    if (dy == 0) return 0;
    const double length = std::sqrt(dx * dx + dy * dy);
    return M_PI / 2 - std::asin(std::fabs(dx) / length);
}

namespace {
template <typename W>
Point2D combine(const Point2D* points, const W* weights, int n) {
    double total = 0;
    Point2D result;
    for (int i = 0; i < n; i++) {
        total += weights[i];
        result += points[i] * (double)weights[i];
    }
    if (n < 1 || std::fabs(total - 1.0) > 1e-9) warning("Not affine sum.\n");
    return result;
}
}  // namespace

Point2D affineCombination(const Point2D* points, const double* weights, int n) {
    return combine(points, weights, n);
}

Point2D affineCombination(const Point2D* points, const int* weights, int n) {
    return combine(points, weights, n);
}

// ---------------------------------------------------------------- Circle2D

Circle2D::Circle2D() : n(0), points(nullptr), radius(0) {}

Circle2D::Circle2D(double x, double y, float r) : n(0), points(nullptr), radius(0) { set(x, y, r); }

Circle2D::~Circle2D() { delete[] points; }

void Circle2D::set(int x, int y, float r) { set((double)x, (double)y, r); }

void Circle2D::set(double cx, double cy, float r) {
    delete[] points;
    n = 720;
    points = new Point2D[n + 2];
    centre = Point2D(cx, cy);
    radius = r;
    points[0] = Point2D(cx + r, cy);
    float a = 0.5f;
    double t = degreesToRadians(a);
    points[1] = Point2D(cx + r * std::cos(t), cy + r * std::sin(t));
    int k = 2;
    for (;;) {
        t = degreesToRadians(a);
        points[k++] = Point2D(cx + r * std::cos(t), cy + r * std::sin(t));
        if (!(a + 0.5f <= 360.0f) || k >= n + 2) break;
        a += 0.5f;
    }
}

void Circle2D::saveFile(XFile* file) {
    file->write(&n, 4, 1);
    for (int i = 0; i < n; i++) points[i].saveFile(file);
}

void Circle2D::loadFile(XFile* file) {
    int count = 0;
    file->read(&count, 4, 1);
    const int existing = points ? n + 2 : 0;
    if (count > existing) count = existing;
    if (count < 0) count = 0;
    for (int i = 0; i < count; i++) points[i].loadFile(file);
    n = count;
}

const char* Circle2D::sprint() {
    size_t used = (size_t)snprintf(buffer, sizeof(buffer), "{ ");
    for (int i = 0; i < n && used < sizeof(buffer); i++)
        used += (size_t)snprintf(buffer + used, sizeof(buffer) - used, "(%g, %g) ", points[i].x, points[i].y);
    if (used < sizeof(buffer)) snprintf(buffer + used, sizeof(buffer) - used, "}");
    return buffer;
}

void Circle2D::draw(Image* image, Color colour) {
    for (int i = 0; i + 1 < n; i++)
        image->drawLine((real)points[i].x, (real)points[i].y, (real)points[i + 1].x, (real)points[i + 1].y,
                        colour);
}

int Circle2D::windingNumber(const Point2D& p) const {
    int wn = 0;
    for (int i = 0; i < n; i++) {
        const Point2D& a = points[i];
        const Point2D& b = points[(i + 1) % n];
        if (a.y <= p.y) {
            if (b.y > p.y && crossProduct(a, b, p) > 0) wn++;
        } else if (b.y <= p.y && crossProduct(a, b, p) < 0) {
            wn--;
        }
    }
    return wn;
}

// ---------------------------------------------------------------- Matrix2D

Matrix2D::Matrix2D(int size_) { mat = new Mat(size_ == 3 ? 3 : 2, size_ == 3 ? 3 : 2); }

Matrix2D::Matrix2D(double a, double b, double c, double d) : Matrix2D(2) {
    at(0, 0) = (real)a;
    at(0, 1) = (real)b;
    at(1, 0) = (real)c;
    at(1, 1) = (real)d;
}

Matrix2D::Matrix2D(const Matrix2D& o) : GeomObject2D() {
    mat = new Mat(o.size(), o.size());
    mat->copy(o.mat);
}

Matrix2D& Matrix2D::operator=(const Matrix2D& o) {
    if (this == &o) return *this;
    if (o.size() != size()) {
        delete mat;
        mat = new Mat(o.size(), o.size());
    }
    mat->copy(o.mat);
    return *this;
}

Matrix2D::~Matrix2D() { delete mat; }

int Matrix2D::size() const { return mat->m; }
real& Matrix2D::at(int i, int j) { return mat->ptr[i][j]; }
real Matrix2D::at(int i, int j) const { return mat->ptr[i][j]; }

Matrix2D Matrix2D::operator-() const { return *this * -1.0; }

Matrix2D Matrix2D::operator+(const Matrix2D& o) const {
    Matrix2D r(*this);
    for (int i = 0; i < size(); i++)
        for (int j = 0; j < size(); j++) r.at(i, j) += o.at(i, j);
    return r;
}

Matrix2D Matrix2D::operator-(const Matrix2D& o) const { return *this + (-o); }

Matrix2D Matrix2D::operator*(const Matrix2D& o) const {
    Matrix2D r(size());
    for (int i = 0; i < size(); i++)
        for (int j = 0; j < size(); j++) {
            double s = 0;
            for (int k = 0; k < size(); k++) s += (double)at(i, k) * o.at(k, j);
            r.at(i, j) = (real)s;
        }
    return r;
}

Matrix2D Matrix2D::operator*(double k) const {
    Matrix2D r(*this);
    r *= k;
    return r;
}

Matrix2D& Matrix2D::operator*=(double k) {
    for (int i = 0; i < size(); i++)
        for (int j = 0; j < size(); j++) at(i, j) = (real)(at(i, j) * k);
    return *this;
}

Matrix2D& Matrix2D::operator/=(double k) { return *this *= 1.0 / k; }

void Matrix2D::saveFile(XFile* file) {
    const int rows = mat->m, cols = mat->n;
    file->write(&rows, 4, 1);
    file->write(&cols, 4, 1);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            const double v = at(i, j);
            file->write(&v, sizeof(double), 1);
        }
}

void Matrix2D::loadFile(XFile* file) {
    int rows = 0, cols = 0;
    file->read(&rows, 4, 1);
    file->read(&cols, 4, 1);
    if (rows != cols || (rows != 2 && rows != 3)) return;
    if (rows != size()) {
        delete mat;
        mat = new Mat(rows, rows);
    }
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < cols; j++) {
            double v = 0;
            file->read(&v, sizeof(double), 1);
            at(i, j) = (real)v;
        }
}

const char* Matrix2D::sprint() {
    if (size() == 3)
        snprintf(buffer, sizeof(buffer), "[{%g, %g, %g} {%g, %g, %g} {%g, %g, %g}]", at(0, 0), at(0, 1),
                 at(0, 2), at(1, 0), at(1, 1), at(1, 2), at(2, 0), at(2, 1), at(2, 2));
    else
        snprintf(buffer, sizeof(buffer), "[{%g, %g} {%g, %g}]", at(0, 0), at(0, 1), at(1, 0), at(1, 1));
    return buffer;
}

void Matrix2D::draw(Image* image, Color colour) {}

}  // namespace vision
