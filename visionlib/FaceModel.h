#pragma once
// Landmark models of a face (eyes, nose tip, chin) and the bounding box a concrete model derives
// from them. FrontalFace64x80 places the eyes 16 rows below the top of a 64x80 face, 33 columns
// apart.
#include "visionlib/Object.h"

namespace vision {

class Image;
class ipRotate;

struct ShapePoint {
    double x;
    double y;
};

class ShapeModel : public Object {
public:
    bool verbose;
    int n_points;
    ShapePoint* points;  // the landmarks
    int n_bbx_points;
    ShapePoint* bbx_points;  // the bounding-box outline

    // n_bbx_points < 1 is fatal.
    explicit ShapeModel(int n_bbx_points);
    ~ShapeModel() override;

    virtual bool ldm2bbx() = 0;
    virtual bool bbx2ldm(int x, int y, int w, int h) = 0;
    virtual bool bbx2ldm() = 0;
    // Moves every landmark by the rotation's forward point mapping.
    virtual void transformPoints(ipRotate* rotation);
    // A green circle of radius 4 around every landmark.
    virtual void drawLandmarks(Image* image);
    virtual void drawBBX(Image* image);

    // Room for n landmarks, all (0, 0).
    void setNumberOfPoints(int n);
    void setPoint(int i, double x, double y);
};

class FaceModel : public ShapeModel {
public:
    int postype;  // position-file format
    int reye_index;
    int leye_index;
    int nosetip_index;
    int chin_index;
    real model_width;
    real model_height;
    double bbx_center[2];
    int bbx_width;
    int bbx_height;

    explicit FaceModel(int postype);
    ~FaceModel() override;

    // Reads a position file of the model's postype.
    void loadXFile(XFile* file) override;

    // Roll of the eye line in radians; positive when the right eye is higher in the image.
    virtual double rollAngle();
    virtual void rotationCenter(double out[2]);

    // A missing landmark is fatal.
    void getReye(double out[2]);
    void getLeye(double out[2]);
    void getNosetip(double out[2]);
    void getChin(double out[2]);
};

class FrontalFace64x80 : public FaceModel {
public:
    real eyes_distance;   // 33 model columns between the eye centres
    real eyes_to_top;     // 16 model rows above the eye line
    real eyes_to_bottom;  // 63 model rows below it

    explicit FrontalFace64x80(int postype);
    ~FrontalFace64x80() override;

    // The box from the two eyes (both sides always odd); false when the eyes give no box.
    bool ldm2bbx() override;
    bool bbx2ldm(int x, int y, int w, int h) override;
    bool bbx2ldm() override;
};

}  // namespace vision
