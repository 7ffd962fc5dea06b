#pragma once
// Two-dimensional geometry: angle conversions, a point that doubles as a vector, a circle drawn as
// a polygon, and a 2x2 or 3x3 matrix. Printed forms are cut to each object's text buffer.
#include "visionlib/Color.h"
#include "visionlib/Object.h"

namespace vision {

class XFile;
class Image;
class Mat;

double degreesToRadians(double degrees);
double radiansToDegrees(double radians);

class GeomObject2D {
public:
    char buffer[250];  // the printed form
    char flag;

    GeomObject2D();
    virtual ~GeomObject2D();
    virtual void saveFile(XFile* file) = 0;
    virtual void loadFile(XFile* file) = 0;
    virtual const char* sprint() = 0;
    virtual void draw(Image* image, Color colour) = 0;
};

class Matrix2D;

class Point2D : public GeomObject2D {
public:
    double x;
    double y;

    Point2D();
    Point2D(double x, double y);
    Point2D(const Point2D& other);
    Point2D& operator=(const Point2D& other);

    void saveFile(XFile* file) override;  // x then y, one 8-byte element each
    void loadFile(XFile* file) override;
    const char* sprint() override;  // "(%g, %g)"
    void draw(Image* image, Color colour) override;

    bool operator==(const Point2D& o) const { return x == o.x && y == o.y; }
    bool operator!=(const Point2D& o) const { return !(*this == o); }
    void get(double* out) const;
    Point2D& operator+=(const Point2D& o);
    Point2D& operator-=(const Point2D& o);
    Point2D operator+(const Point2D& o) const;
    Point2D operator-(const Point2D& o) const;
    Point2D operator*(int k) const;
    Point2D operator*(double k) const;
    Point2D operator/(double k) const;
    // Both coordinates to the nearest integer (+0.5, truncated).
    Point2D round() const;
};

Point2D operator*(int k, const Point2D& p);
Point2D operator*(double k, const Point2D& p);
Point2D operator*(const Matrix2D& m, const Point2D& p);
double distance(const Point2D& a, const Point2D& b);
double squaredDistance(const Point2D& a, const Point2D& b);
// (a - o) x (b - o): which side of the line o-a the point b lies on.
double crossProduct(const Point2D& o, const Point2D& a, const Point2D& b);
// Angle opposite side c of a triangle with sides a, b, c (law of cosines).
double angleFromSides(double a, double b, double c);
// Angle of the segment a-b against the horizontal, 0 to pi/2.
double segmentAngle(const Point2D& a, const Point2D& b);
// Sum of weights[i] x points[i]; warns "Not affine sum.\n" when the weights do not add up to 1.
Point2D affineCombination(const Point2D* points, const double* weights, int n);
Point2D affineCombination(const Point2D* points, const int* weights, int n);

class Circle2D : public GeomObject2D {
public:
    int n;            // points used (720 once set)
    Point2D* points;  // n + 2
    Point2D centre;
    float radius;

    Circle2D();
    Circle2D(double x, double y, float radius);
    ~Circle2D() override;
    Circle2D(const Circle2D&) = delete;
    Circle2D& operator=(const Circle2D&) = delete;

    void set(double x, double y, float radius);
    void set(int x, int y, float radius);
    void saveFile(XFile* file) override;
    // Reads at most the points that exist.
    void loadFile(XFile* file) override;
    const char* sprint() override;
    void draw(Image* image, Color colour) override;
    // Non-zero: the point is inside the polygon.
    int windingNumber(const Point2D& p) const;
};

class Matrix2D : public GeomObject2D {
public:
    Mat* mat;  // 2x2 or 3x3

    explicit Matrix2D(int size = 2);  // zero
    Matrix2D(double a, double b, double c, double d);
    Matrix2D(const Matrix2D& other);
    Matrix2D& operator=(const Matrix2D& other);
    ~Matrix2D() override;

    int size() const;
    real& at(int i, int j);
    real at(int i, int j) const;

    Matrix2D operator-() const;
    Matrix2D operator+(const Matrix2D& o) const;
    Matrix2D operator-(const Matrix2D& o) const;
    Matrix2D operator*(const Matrix2D& o) const;
    Matrix2D operator*(double k) const;
    Matrix2D& operator*=(double k);
    Matrix2D& operator/=(double k);

    void saveFile(XFile* file) override;  // rows, columns (4 bytes each), entries as 8-byte doubles
    void loadFile(XFile* file) override;
    const char* sprint() override;
    void draw(Image* image, Color colour) override;
};

}  // namespace vision
