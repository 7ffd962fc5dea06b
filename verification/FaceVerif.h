#pragma once
// Face verification by DCT-mod2 block features and Gaussian mixtures: a world model trained on many
// people, and the user's model MAP-adapted from it to the user's stored crops. A face's score is its
// mean frame log-likelihood under the user model minus that under the world model.
#include "visionlib/Object.h"

namespace vision {

class Allocator;
class DiagonalGMM;
class FaceData;
class MemoryDataSet;
class Sequence;
class XFile;
class ipDCTmod2;
class ipHistoEqual;
class ipMirror;
class ipNormBestFitLinear;
class ipSmoothGaussian3;

// The most Gaussians a verifier model may hold (the shipped world model has 512 over 18 inputs, and
// every model has exactly 18: the DCT-mod2 features). Enrolling and scoring cost grows with the count:
// four times the shipped model keeps an enrollment within seconds and the scoring of a face within a frame.
const int MAX_VERIFIER_GAUSSIANS = 2048;

class FaceVerif : public Object {
public:
    int verbose;  // 0 silent; >0 scores; >1 entry lines; >2 traces

    explicit FaceVerif(int verbose = 0) : verbose(verbose) {}
    virtual bool enroll(FaceData* store) = 0;
    // One score per face of the store into scores; false (nothing touched) for an empty store.
    virtual bool test(FaceData* store, real* scores) = 0;
};

// The world verifier; its model file holds three tagged records: "n_gaussians", "n_inputs" and
// "PARAMS". A model that is not that, or whose parameters are not a valid mixture (weights not finite,
// a variance not above 0, other than 18 inputs), is refused when it loads: fatal, or inside the
// library's recoverable scope a failure the caller sees.
class FaceVerif_GmmDCTmod2 : public FaceVerif {
public:
    int width;   // 64
    int height;  // 80
    ipHistoEqual* histoEqual;
    ipNormBestFitLinear* normBestFit;
    ipSmoothGaussian3* smooth;
    ipMirror* mirror;
    Sequence* workImage;  // 1 frame of 5120 reals
    int n_pixels;         // 5120
    int n_blocks;         // 221
    int n_features;       // 18
    DiagonalGMM* gmm;     // or a MapAdaptedGmm in the user verifier; none until loaded or built
    MemoryDataSet* features;  // of the store being processed, or none
    // Built on first use and kept: its DCT tables are large, and scoring runs once per video frame.
    ipDCTmod2* dctmod2;

    explicit FaceVerif_GmmDCTmod2(int verbose = 0);
    FaceVerif_GmmDCTmod2(int n_inputs, int n_gaussians, int verbose = 0);
    FaceVerif_GmmDCTmod2(const char* path, int verbose = 0);
    ~FaceVerif_GmmDCTmod2() override;

    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override;
    bool enroll(FaceData* store) override;
    bool test(FaceData* store, real* scores) override;

    // Features of every face of the store, one example per face and, with mirrors, its mirror image
    // right after it. False for an empty store.
    bool computefeatures(FaceData* store, bool withMirrors = true);
    // The DCT-mod2 features of one normalised width x height image as a new sequence in owner.
    Sequence* computeFeatures(int width, int height, Sequence* image, int expectedBlocks, int expectedSize,
                              Allocator* owner);

protected:
    void setup();
    // Reads the two size records; G and D are checked before anything is allocated.
    void readSizes(XFile* file, int* n_gaussians, int* n_inputs, const char* who);
    // Refuses parameters that are not a valid mixture.
    void checkParameters(const char* who);
    // Mean frame log-likelihood of each example of the features under mixture, as the measurer writes it.
    void measure(DiagonalGMM* mixture, int n, real* values);
    void releaseFeatures();
};

// The user verifier: the world verifier's features and a MAP-adapted mixture on the world's.
class FaceVerif_MapGmmDCTmod2 : public FaceVerif_GmmDCTmod2 {
public:
    FaceVerif_GmmDCTmod2* world;  // not owned; must outlive this verifier
    real* dataMean;
    real* dataVariance;
    real* varianceFloor;
    real priorWeights;     // 0.001
    real weightOnPrior;    // 0.5
    real varThresholdFactor;  // 0.001

    // A saved user model; G and D must be those of the world model.
    FaceVerif_MapGmmDCTmod2(const char* path, FaceVerif_GmmDCTmod2* world, int verbose = 0);
    // An untrained user model on the world model, for enrollment.
    FaceVerif_MapGmmDCTmod2(FaceVerif_GmmDCTmod2* world, int verbose = 0);
    ~FaceVerif_MapGmmDCTmod2() override;

    void loadXFile(XFile* file) override;
    bool enroll(FaceData* store) override;
    bool test(FaceData* store, real* scores) override;

    bool computeVarianceFloor(real factor);

private:
    void initUser(FaceVerif_GmmDCTmod2* world);
};

}  // namespace vision
