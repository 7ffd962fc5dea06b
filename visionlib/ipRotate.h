#pragma once
// Turns an image about its centre: an exact quarter, half or three-quarter turn, then at most 45
// degrees as three shears. The output holds the whole turned image; with y growing downward a
// positive angle turns clockwise on screen, for pixels and for the point mappings alike.
#include <vector>

#include "visionlib/ipCore.h"

namespace vision {

class ipShift;

struct RotationRecord {
    double degrees;
    double radians;
    double tan_half;
    double sin_angle;
    double cos_angle;
    double sin_minus;
    double cos_minus;
    double xc_in, yc_in;
    double xc_out, yc_out;

    // Angles whose whole-degree part is 0 count as 0; 90, 180 and 270 get exact sines and cosines.
    void set(double degrees);
};

class ipRotate : public ipCore {
public:
    int width;
    int height;
    int width_out;
    int height_out;
    real angle;           // degrees in [0, 360); within 1 degree of 0 it is exactly 0
    real internal_angle;  // minus the angle, in [0, 360)
    int xc;
    int yc;
    RotationRecord rotation;  // for angle: output size and point mappings
    RotationRecord shear;     // for what the shears turn after the quarter turns
    ipShift* shift;  // none while both shifts are 0
    int shiftx;
    int shifty;
    int width1_, height1_;
    real* image1;  // after the quarter turns (made when first needed, like the other two)
    int width2_, height2_;
    real* image2;  // after the first shear
    int width3_, height3_;
    real* image3;  // after the second shear
    int corners[5][2];  // the input's corners mapped into the output, and the first again

    ipRotate(real angle, int width, int height, const char* coding);
    ~ipRotate() override;
    void process(Sequence* input) override;
    // The w x h window at (x, y) of what process() gives, into block (w x h x n_planes reals, 0
    // outside the output), computed from the input without turning the whole image. Gray and rgb.
    void processWindow(Sequence* input, int x, int y, int w, int h, real* block);
    int getOutputWidth() override;
    int getOutputHeight() override;

    // Input to output coordinates (c_in = (xc, yc), c_out = (width_out / 2, height_out / 2)).
    void forwardPoint(double x, double y, double* xo, double* yo) const;
    void forwardPoint(int x, int y, int* xo, int* yo) const;  // results truncated toward zero
    // Output to input coordinates.
    void inversePoint(double x, double y, double* xo, double* yo) const;
    void inversePoint(int x, int y, int* xo, int* yo) const;

private:
    std::vector<long> column_offset;  // vertical shear, per column of image3
    std::vector<double> column_weight;
    std::vector<double> column_previous;
    std::vector<long> row_offset;  // last shear, per output row
    std::vector<double> row_weight;
    std::vector<real> window2;  // processWindow's parts of image2 and image3
    std::vector<real> window3;

    real* workImage(real** image, int w, int h);
    void rotatePlane(const real* src, real* dst, int plane);
    void threeShear(const real* src, int sw, int sh, real* dst, int plane, int np_src);
};

}  // namespace vision
