#pragma once
// The outline drawn around a face: four corner points, the right and bottom edges inside the box.

namespace vision {

class DrawPoint {
public:
    double x, y;
    DrawPoint(double x_ = 0, double y_ = 0) : x(x_), y(y_) {}
    virtual ~DrawPoint() {}
};

class DrawRect {
public:
    DrawPoint topLeft, topRight, bottomLeft, bottomRight;
    DrawRect(double x, double y, double width, double height)
        : topLeft(x, y),
          topRight(x + width - 1, y),
          bottomLeft(x, y + height - 1),
          bottomRight(x + width - 1, y + height - 1) {}
};

}  // namespace vision
