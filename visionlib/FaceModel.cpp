#include "visionlib/FaceModel.h"

#include <cmath>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Geometry2D.h"
#include "visionlib/Image.h"
#include "visionlib/Message.h"
#include "visionlib/XFile.h"
#include "visionlib/ipRotate.h"

namespace vision {

// ---------------------------------------------------------------- ShapeModel

ShapeModel::ShapeModel(int n_bbx_points_) : n_points(0), points(nullptr), n_bbx_points(n_bbx_points_) {
    addBoolOption("verbose", &verbose, false, "verbose");
    if (n_bbx_points < 1) error("ShapeModel::ShapeModel() You should give a number of bbx points >= 0");
    bbx_points = (ShapePoint*)allocator->alloc(sizeof(ShapePoint) * n_bbx_points);
    memset(bbx_points, 0, sizeof(ShapePoint) * n_bbx_points);
}

ShapeModel::~ShapeModel() {}

void ShapeModel::setNumberOfPoints(int n) {
    if (points) allocator->free(points);
    points = nullptr;
    n_points = n > 0 ? n : 0;
    if (n_points > 0) {
        points = (ShapePoint*)allocator->alloc(sizeof(ShapePoint) * n_points);
        memset(points, 0, sizeof(ShapePoint) * n_points);
    }
}

void ShapeModel::setPoint(int i, double x, double y) {
    if (i < 0 || i >= n_points) error("ShapeModel::setPoint() no landmark %d", i);
    points[i].x = x;
    points[i].y = y;
}

void ShapeModel::transformPoints(ipRotate* rotation) {
    for (int i = 0; i < n_points; i++) {
        double x, y;
        rotation->forwardPoint(points[i].x, points[i].y, &x, &y);
        points[i].x = x;
        points[i].y = y;
    }
}

void ShapeModel::drawLandmarks(Image* image) {
    for (int i = 0; i < n_points; i++) {
        Circle2D circle(points[i].x, points[i].y, 4.0f);
        circle.draw(image, Color::green);
    }
}

void ShapeModel::drawBBX(Image* image) { warning("ShapeModel::drawBBX() not implemented"); }

// ---------------------------------------------------------------- FaceModel

FaceModel::FaceModel(int postype_)
    : ShapeModel(5),
      postype(postype_),
      reye_index(-1),
      leye_index(-1),
      nosetip_index(-1),
      chin_index(-1),
      model_width(-1),
      model_height(-1),
      bbx_width(-1),
      bbx_height(-1) {
    bbx_center[0] = bbx_center[1] = 0;
}

FaceModel::~FaceModel() {}

namespace {
void copyLandmark(const ShapeModel* m, int index, double out[2], const char* what) {
    if (index < 0 || index >= m->n_points) error("FaceModel::%s() this landmark does not exist", what);
    out[0] = m->points[index].x;
    out[1] = m->points[index].y;
}
}  // namespace

void FaceModel::getReye(double out[2]) { copyLandmark(this, reye_index, out, "getReye"); }
void FaceModel::getLeye(double out[2]) { copyLandmark(this, leye_index, out, "getLeye"); }
void FaceModel::getNosetip(double out[2]) { copyLandmark(this, nosetip_index, out, "getNosetip"); }
void FaceModel::getChin(double out[2]) { copyLandmark(this, chin_index, out, "getChin"); }

double FaceModel::rollAngle() {
    if (postype == 0) {
        if (n_points < 2) return 0;
        return -std::atan2(points[1].y - points[0].y, points[1].x - points[0].x);
    }
    if (reye_index >= 0 && leye_index >= 0 && reye_index < n_points && leye_index < n_points) {
        const ShapePoint& r = points[reye_index];
        const ShapePoint& l = points[leye_index];
        return -std::atan2(r.y - l.y, r.x - l.x);
    }
    return 0;
}

void FaceModel::rotationCenter(double out[2]) {
    out[0] = -1;
    out[1] = -1;
}

namespace {

// Reads n pairs of numbers (with "%f", or "%g" into doubles for the point markup) into pts.
void readPairs(XFile* file, ShapePoint* pts, int n) {
    for (int i = 0; i < n; i++) {
        float x = 0, y = 0;
        file->scanf("%f", &x);
        file->scanf("%f", &y);
        pts[i].x = x;
        pts[i].y = y;
    }
}

ShapePoint mean(const ShapePoint& a, const ShapePoint& b) { return ShapePoint{(a.x + b.x) / 2, (a.y + b.y) / 2}; }

}  // namespace

void FaceModel::loadXFile(XFile* file) {
    reye_index = leye_index = nosetip_index = chin_index = -1;
    setNumberOfPoints(0);
    auto readCount = [file](int expected) {
        int count = 0;
        file->scanf("%d", &count);
        if (count != expected) error("Number of points (%d) <> %d", count, expected);
    };
    ShapePoint tmp[10];
    switch (postype) {
        case 0: {
            if (verbose) message("reading bbx pos format.");
            float v[4] = {0, 0, 0, 0};
            for (float& f : v) file->scanf("%f", &f);
            setNumberOfPoints(4);
            setPoint(0, v[0], v[1]);
            setPoint(1, v[0] + v[2], v[1]);
            setPoint(2, v[0] + v[2], v[1] + v[3]);
            setPoint(3, v[0], v[1] + v[3]);
            if (verbose) print(" + BBX (%.1f-%.1f) - (%.1f-%.1f)", points[0].x, points[0].y, points[2].x, points[2].y);
            return;
        }
        case 1:
            if (verbose) message("reading eye centers pos format.");
            setNumberOfPoints(2);
            readPairs(file, points, 2);
            leye_index = 0;
            reye_index = 1;
            break;
        case 2:
            if (verbose) message("reading Banca pos format.");
            setNumberOfPoints(10);
            readPairs(file, points, 10);
            leye_index = 1;
            reye_index = 4;
            break;
        case 3:
            if (verbose) message("reading eye corners pos format.");
            readPairs(file, tmp, 4);
            setNumberOfPoints(2);
            points[0] = mean(tmp[0], tmp[1]);
            points[1] = mean(tmp[2], tmp[3]);
            leye_index = 0;
            reye_index = 1;
            break;
        case 4:
            if (verbose) message("reading eye corners + nose tip + chin pos format (non frontal 22.5 degree).");
            readCount(6);
            readPairs(file, tmp, 6);
            setNumberOfPoints(4);
            points[0] = mean(tmp[0], tmp[1]);
            points[1] = mean(tmp[2], tmp[3]);
            points[2] = tmp[4];
            points[3] = tmp[5];
            leye_index = 0;
            reye_index = 1;
            nosetip_index = 2;
            chin_index = 3;
            break;
        case 5:
            if (verbose)
                message("reading left eye corners + right eye center + nose tip + chin pos format (non frontal "
                        "45/67.5 degree).");
            readCount(5);
            readPairs(file, tmp, 5);
            setNumberOfPoints(4);
            points[0] = mean(tmp[0], tmp[1]);
            points[1] = tmp[2];
            points[2] = tmp[3];
            points[3] = tmp[4];
            leye_index = 0;
            reye_index = 1;
            nosetip_index = 2;
            chin_index = 3;
            break;
        case 6:
            if (verbose) message("reading left eye center + nose tip + chin pos format  (non frontal 90 degree).");
            readCount(3);
            setNumberOfPoints(3);
            readPairs(file, points, 3);
            leye_index = 0;
            nosetip_index = 1;
            chin_index = 2;
            break;
        case 68: case 69: case 70: case 71: {
            if (verbose) message("reading point markup pos format.");
            char line[250];
            while (file->gets(line, sizeof(line)) != nullptr && line[0] != '{') {
            }
            setNumberOfPoints(68);
            for (int i = 0; i < 68; i++) {
                float x = 0, y = 0;
                file->scanf("%g", &x);
                file->scanf("%g", &y);
                points[i].x = x;
                points[i].y = y;
                if (verbose) print("> %g %g\n", x, y);
            }
            leye_index = 31;
            reye_index = 36;
            break;
        }
        default:
            warning("FaceModel: Invalid postype (%d).", postype);
            return;
    }
    if (verbose) {
        if (leye_index >= 0 && reye_index >= 0)
            print(" + Eyes (%.1f-%.1f) - (%.1f-%.1f)", points[leye_index].x, points[leye_index].y,
                  points[reye_index].x, points[reye_index].y);
        else if (leye_index >= 0)
            print(" + Left eye (%.1f-%.1f)", points[leye_index].x, points[leye_index].y);
        if (nosetip_index >= 0) print(" + Nosetip (%.1f-%.1f)", points[nosetip_index].x, points[nosetip_index].y);
        if (chin_index >= 0) print(" + Chin (%.1f-%.1f)", points[chin_index].x, points[chin_index].y);
    }
}

// ---------------------------------------------------------------- FrontalFace64x80

FrontalFace64x80::FrontalFace64x80(int postype_)
    : FaceModel(postype_), eyes_distance(33), eyes_to_top(16), eyes_to_bottom(63) {
    model_width = 64;
    model_height = 80;
}

FrontalFace64x80::~FrontalFace64x80() {}

bool FrontalFace64x80::ldm2bbx() {
    double L[2], R[2];
    getLeye(L);
    getReye(R);
    // Eyes far outside any frame (a damaged face record, perhaps turned further by the levelling)
    // make no box, and their rows would not even convert to integers.
    for (const double v : {L[0], L[1], R[0], R[1]})
        if (!(std::fabs(v) <= 1e8)) return false;
    const real dx = (real)(R[0] - L[0]);
    const real dy = (real)(R[1] - L[1]);
    if ((long)R[1] != (long)L[1])
        warning("FrontalFace64x80: y coordinates of eyes should be equal (%d == %d)", (int)R[1], (int)L[1]);
    const real c0x = dx * 0.5f + (real)L[0];
    const real c0y = dy * 0.5f + (real)L[1];
    if (verbose) print("FrontalFace64x80: c0x=%g c0y=%g\n", c0x, c0y);
    const real s = dx / eyes_distance;
    // A box needs the eyes side by side and inside the range of the frame's integers.
    if (!std::isfinite(s) || s < 0 || s > 1e6f || !std::isfinite(c0x) || !std::isfinite(c0y) ||
        std::fabs(c0x) > 1e8f || std::fabs(c0y) > 1e8f)
        return false;
    int w = (int)(model_width * s + 0.5f);
    int h = (int)((eyes_to_bottom + eyes_to_top) * s + 0.5f);
    if (w % 2 == 0) w++;
    if (h % 2 == 0) h++;
    const int x = (int)(c0x - 0.5f * model_width * s);
    const int y = (int)(c0y - eyes_to_top * s);
    if (verbose) print("FrontalFace64x80: x=%d y=%d w=%d h=%d\n", x, y, w, h);
    bbx_width = w;
    bbx_height = h;
    const double xs[5] = {(double)x, (double)x + w, (double)x + w, (double)x, (double)x};
    const double ys[5] = {(double)y, (double)y, (double)y + h, (double)y + h, (double)y};
    for (int i = 0; i < 5 && i < n_bbx_points; i++) {
        bbx_points[i].x = xs[i];
        bbx_points[i].y = ys[i];
    }
    bbx_center[0] = (double)((x + (x + w)) / 2);
    bbx_center[1] = (double)((y + (y + h)) / 2);
    return true;
}

bool FrontalFace64x80::bbx2ldm(int x, int y, int w, int h) {
    warning("FrontalFace64x80::bbx2ldm(...) not implemented.");
    return false;
}

bool FrontalFace64x80::bbx2ldm() {
    warning("FrontalFace64x80::bbx2ldm() not implemented.");
    return false;
}

}  // namespace vision
