#pragma once
// Geometrically normalised faces: levels the eyes by rotating the frame, cuts the model's box out
// (optionally jittered), and scales it to the model's size. Gray only.
#include "visionlib/ipCore.h"

namespace vision {

class FaceModel;

class ipFaceExtract : public ipCore {
public:
    int n_shift;
    int n_scale;
    int n_rotation;
    real angle;  // a fixed extra rotation, degrees
    int n_samples;
    FaceModel* model;  // not owned
    int width;         // of the levelled image after process()
    int height;
    int model_width;
    int model_height;

    ipFaceExtract(int width, int height, int model_width, int model_height, const char* coding,
                  FaceModel* model, real angle, int n_shift, int n_scale, int n_rotation, int n_samples);
    ~ipFaceExtract() override;
    // Frame 0: the width x height gray frame (0..255). Output frame k: the k-th face, values rounded.
    // The model's landmarks move with the levelling rotation.
    void process(Sequence* input) override;
    int getOutputWidth() override;
    int getOutputHeight() override;

private:
    int input_width;  // what the frames passed to process() measure
    int input_height;
};

namespace FaceExtract {
// Jitters the box in place; returns a rotation in degrees. Draws one random number even with no jitter.
real computeRandomBox(int n_shift, int n_scale, int n_rotation, int* x, int* y, int* w, int* h,
                      int model_width, int model_height);
}  // namespace FaceExtract

}  // namespace vision
