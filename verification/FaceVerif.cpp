#include "verification/FaceVerif.h"

#include <cmath>
#include <cstring>

#include "verification/FaceData.h"
#include "verification/TextLines.h"
#include "visionlib/Allocator.h"
#include "visionlib/DiagonalGMM.h"
#include "visionlib/Image.h"
#include "visionlib/MapAdaptedGmm.h"
#include "visionlib/Measurer.h"
#include "visionlib/MemoryDataSet.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "visionlib/Trainer.h"
#include "visionlib/XFile.h"
#include "visionlib/ipDCTmod2.h"
#include "visionlib/ipHistoEqual.h"
#include "visionlib/ipMirror.h"
#include "visionlib/ipNormBestFitLinear.h"
#include "visionlib/ipSmoothGaussian3.h"

namespace vision {

namespace {
const int CROP_PIXELS = FACE_CROP_WIDTH * FACE_CROP_HEIGHT;
const int DCT_BLOCKS = 221;
const int DCT_FEATURES = 18;

void setTrainingOptions(EMTrainer* trainer) {
    trainer->setIntOption("max iter", 100);
    trainer->setRealOption("end accuracy", (real)1e-5);
    trainer->setBoolOption("viterbi", false);
}
}  // namespace

FaceVerif_GmmDCTmod2::FaceVerif_GmmDCTmod2(int verbose_)
    : FaceVerif(verbose_), width(0), height(0), histoEqual(nullptr), normBestFit(nullptr), smooth(nullptr),
      mirror(nullptr), workImage(nullptr), n_pixels(0), n_blocks(0), n_features(0), gmm(nullptr),
      features(nullptr), dctmod2(nullptr) {
    setup();
}

FaceVerif_GmmDCTmod2::FaceVerif_GmmDCTmod2(int n_inputs, int n_gaussians, int verbose_)
    : FaceVerif_GmmDCTmod2(verbose_) {
    if (n_gaussians < 1 || n_gaussians > MAX_VERIFIER_GAUSSIANS || n_inputs != DCT_FEATURES)
        error("FaceVerif_GmmDCTmod2: a mixture of %d gaussians over %d inputs cannot score the features.",
              n_gaussians, n_inputs);
    gmm = new (allocator) DiagonalGMM(n_inputs, n_gaussians, nullptr);
}

FaceVerif_GmmDCTmod2::FaceVerif_GmmDCTmod2(const char* path, int verbose_) : FaceVerif_GmmDCTmod2(verbose_) {
    load(path);
}

FaceVerif_GmmDCTmod2::~FaceVerif_GmmDCTmod2() {}

void FaceVerif_GmmDCTmod2::setup() {
    width = FACE_CROP_WIDTH;
    height = FACE_CROP_HEIGHT;
    n_blocks = DCT_BLOCKS;
    n_features = DCT_FEATURES;
    n_pixels = CROP_PIXELS;
    normBestFit = new (allocator) ipNormBestFitLinear(width, height, "gray");
    histoEqual = new (allocator) ipHistoEqual(width, height, "gray");
    smooth = new (allocator) ipSmoothGaussian3(width, height, "gray", (real)0.125);
    mirror = new (allocator) ipMirror(width, height, "gray");
    workImage = new (allocator) Sequence(1, n_pixels);
}

void FaceVerif_GmmDCTmod2::readSizes(XFile* file, int* n_gaussians, int* n_inputs, const char* who) {
    file->taggedRead(n_gaussians, 4, 1, "n_gaussians");
    file->taggedRead(n_inputs, 4, 1, "n_inputs");
    if (verbose > 2) {
        print("%s::loadXFile():\n", who);
        print("   n_gaussians = %d\n", *n_gaussians);
        print("   n_inputs = %d\n", *n_inputs);
    }
}

void FaceVerif_GmmDCTmod2::checkParameters(const char* who) {
    const int G = gmm->n_gaussians, D = gmm->n_inputs;
    for (int g = 0; g < G; g++) {
        if (!std::isfinite(gmm->log_weights[g]))
            error("%s::loadXFile() the weight of gaussian %d is not finite.", who, g);
        for (int j = 0; j < D; j++) {
            if (!std::isfinite(gmm->means[g][j]))
                error("%s::loadXFile() a mean of gaussian %d is not finite.", who, g);
            if (!(gmm->var[g][j] > 0) || !std::isfinite(gmm->var[g][j]))
                error("%s::loadXFile() a variance of gaussian %d is not above 0.", who, g);
        }
    }
}

void FaceVerif_GmmDCTmod2::loadXFile(XFile* file) {
    int G = 0, D = 0;
    readSizes(file, &G, &D, "FaceVerif_GmmDCTmod2");
    if (G < 1)
        error("FaceVerif_GmmDCTmod2::loadXFile() incorrect number of gaussians (%d).", G);
    if (G > MAX_VERIFIER_GAUSSIANS)
        error("FaceVerif_GmmDCTmod2::loadXFile() the model has %d gaussians, more than the limit of %d.", G,
              MAX_VERIFIER_GAUSSIANS);
    if (D != DCT_FEATURES)
        error("FaceVerif_GmmDCTmod2::loadXFile() incorrect number of inputs (%d instead of %d).", D,
              DCT_FEATURES);
    allocator->free(gmm);
    gmm = nullptr;
    DiagonalGMM* mixture = new (allocator) DiagonalGMM(D, G, nullptr);
    mixture->loadXFile(file);
    gmm = mixture;
    checkParameters("FaceVerif_GmmDCTmod2");
}

void FaceVerif_GmmDCTmod2::saveXFile(XFile* file) {
    if (!gmm)
        error("FaceVerif_GmmDCTmod2::saveXFile() no model to save.");
    file->taggedWrite(&gmm->n_gaussians, 4, 1, "n_gaussians");
    file->taggedWrite(&gmm->n_inputs, 4, 1, "n_inputs");
    gmm->saveXFile(file);
}

Sequence* FaceVerif_GmmDCTmod2::computeFeatures(int w, int h, Sequence* image, int expectedBlocks,
                                                int expectedSize, Allocator* owner) {
    if (dctmod2 && (dctmod2->width != w || dctmod2->height != h)) {
        allocator->free(dctmod2);
        dctmod2 = nullptr;
    }
    if (!dctmod2)
        dctmod2 = new (allocator) ipDCTmod2(w, h, "gray", 15, 8, 4, 1, 3);
    if (dctmod2->n_block_out != expectedBlocks)
        error("FaceVerifAPI_GmmDCTmod2::computeFeatures() incorrect n_frames for dctmod2.");
    if (dctmod2->output_size != expectedSize)
        error("FaceVerifAPI_GmmDCTmod2::computeFeatures() incorrect frame_size for dctmod2.");
    dctmod2->process(image);
    Sequence* out = new (owner) Sequence(expectedBlocks, expectedSize);
    out->copy(dctmod2->output);
    if (verbose > 2) {
        print("DCT-mod2 features:\n");
        print(" + n_block = %d\n", dctmod2->n_block_out);
        print(" + n_output = %d\n", dctmod2->output_size);
        print("DCT-mod2 coefficients:\n");
        for (int b = 0; b < out->n_frames; b++) {
            print("Block %d: ", b);
            for (int k = 0; k < out->frame_size; k++)
                print("%2.3f ", out->frames[b][k]);
            print("\n");
        }
    }
    return out;
}

bool FaceVerif_GmmDCTmod2::computefeatures(FaceData* store, bool withMirrors) {
    const int n = store ? store->getNumberOfFaces() : 0;
    if (verbose > 2)
        message("FaceVerif_GmmDCTmod2::computefeatures %d faces to process", n);
    if (n == 0)
        return false;
    releaseFeatures();
    features = new (allocator) MemoryDataSet();
    const int perFace = withMirrors ? 2 : 1;
    Sequence** examples = (Sequence**)features->allocator->alloc((long)sizeof(Sequence*) * n * perFace);
    real* work = workImage->frames[0];
    for (int i = 0; i < n; i++) {
        ImageGray* crop = store->getImage(i);
        if (!crop || crop->width != width || crop->height != height)
            error("FaceVerif_GmmDCTmod2::computefeatures() face %d is not a %dx%d crop.", i, width, height);
        normBestFit->process(crop);
        histoEqual->process(normBestFit->output);
        smooth->process(histoEqual->output);
        const real* smoothed = smooth->output->frames[0];
        for (int k = 0; k < n_pixels; k++)
            work[k] = (real)(int)smoothed[k];
        examples[perFace * i] =
            computeFeatures(width, height, workImage, n_blocks, n_features, features->allocator);
        if (withMirrors) {
            // The mirror of the normalised, truncated image, not of the raw crop.
            mirror->process(workImage);
            memcpy(work, mirror->output->frames[0], sizeof(real) * n_pixels);
            examples[2 * i + 1] =
                computeFeatures(width, height, workImage, n_blocks, n_features, features->allocator);
        }
    }
    features->setInputs(examples, n * perFace);
    return true;
}

void FaceVerif_GmmDCTmod2::releaseFeatures() {
    allocator->free(features);
    features = nullptr;
}

void FaceVerif_GmmDCTmod2::measure(DiagonalGMM* mixture, int n, real* values) {
    CLocaleScope c;
    EMTrainer trainer(mixture);
    MemoryXFile file(256);
    FrameMeanMeasurer measurer(mixture->log_probabilities, features, nullptr, &file);
    MeasurerList measurers;
    measurers.addNode(&measurer);
    trainer.test(&measurers);
    file.rewind();
    for (int i = 0; i < n; i++) {
        real v = NAN;
        if (file.scanf("%g", &v) != 1)
            v = NAN;
        values[i] = v;
    }
}

bool FaceVerif_GmmDCTmod2::enroll(FaceData* store) {
    if (verbose > 1)
        print("FaceVerif_GmmDCTmod2::enroll\n");
    if (!gmm)
        error("FaceVerif_GmmDCTmod2::enroll() no model.");
    if (!computefeatures(store))
        return false;
    EMTrainer trainer(gmm);
    setTrainingOptions(&trainer);
    trainer.train(features, nullptr);
    releaseFeatures();
    return true;
}

// Each face is scored by its own features; the mirror images serve only the enrollment.
bool FaceVerif_GmmDCTmod2::test(FaceData* store, real* scores) {
    if (verbose > 1)
        print("FaceVerif_GmmDCTmod2::test\n");
    if (!gmm)
        error("FaceVerif_GmmDCTmod2::test() no model.");
    if (!computefeatures(store, false))
        return false;
    const int n = store->getNumberOfFaces();
    measure(gmm, n, scores);
    if (verbose > 1)
        for (int i = 0; i < n; i++)
            print("%g\n", scores[i]);
    releaseFeatures();
    return true;
}

FaceVerif_MapGmmDCTmod2::FaceVerif_MapGmmDCTmod2(const char* path, FaceVerif_GmmDCTmod2* world_, int verbose_)
    : FaceVerif_GmmDCTmod2(verbose_) {
    initUser(world_);
    load(path);
}

FaceVerif_MapGmmDCTmod2::FaceVerif_MapGmmDCTmod2(FaceVerif_GmmDCTmod2* world_, int verbose_)
    : FaceVerif_GmmDCTmod2(verbose_) {
    initUser(world_);
    gmm = new (allocator) MapAdaptedGmm(world->gmm);
}

FaceVerif_MapGmmDCTmod2::~FaceVerif_MapGmmDCTmod2() {}

void FaceVerif_MapGmmDCTmod2::initUser(FaceVerif_GmmDCTmod2* world_) {
    world = world_;
    if (!world || !world->gmm)
        error("FaceVerif_MapGmmDCTmod2: no world model.");
    priorWeights = (real)0.001;
    weightOnPrior = (real)0.5;
    varThresholdFactor = (real)0.001;
    dataMean = (real*)allocator->alloc((long)sizeof(real) * DCT_FEATURES);
    dataVariance = (real*)allocator->alloc((long)sizeof(real) * DCT_FEATURES);
    varianceFloor = (real*)allocator->alloc((long)sizeof(real) * DCT_FEATURES);
    for (int j = 0; j < DCT_FEATURES; j++)
        dataMean[j] = dataVariance[j] = varianceFloor[j] = 0;
}

void FaceVerif_MapGmmDCTmod2::loadXFile(XFile* file) {
    int G = 0, D = 0;
    readSizes(file, &G, &D, "FaceVerif_MapGmmDCTmod2");
    if (G != world->gmm->n_gaussians)
        error("FaceVerif_MapGmmDCTmod2::loadXFile() incorrect number of gaussians.");
    if (D != world->gmm->n_inputs)
        error("FaceVerif_MapGmmDCTmod2::loadXFile() incorrect number of inputs.");
    allocator->free(gmm);
    gmm = nullptr;
    MapAdaptedGmm* mixture = new (allocator) MapAdaptedGmm(world->gmm);
    mixture->loadXFile(file);
    gmm = mixture;
    checkParameters("FaceVerif_MapGmmDCTmod2");
}

bool FaceVerif_MapGmmDCTmod2::computeVarianceFloor(real factor) {
    if (!features)
        return false;
    const int D = DCT_FEATURES;
    double sum[DCT_FEATURES] = {0}, squares[DCT_FEATURES] = {0};
    long frames = 0;
    for (int e = 0; e < features->n_real_examples; e++) {
        Sequence* s = features->inputs_array[e];
        for (int t = 0; t < s->n_frames; t++) {
            const real* x = s->frames[t];
            for (int j = 0; j < D; j++) {
                sum[j] += x[j];
                squares[j] += (double)x[j] * x[j];
            }
        }
        frames += s->n_frames;
    }
    if (frames == 0)
        return false;
    for (int j = 0; j < D; j++) {
        dataMean[j] = (real)(sum[j] / frames);
        dataVariance[j] = (real)(squares[j] / frames - (double)dataMean[j] * dataMean[j]);
        if (!(dataVariance[j] > 0))
            dataVariance[j] = 1;
        varianceFloor[j] = factor * dataVariance[j];
    }
    return true;
}

// Every enrollment adapts the world model afresh to all the faces of the store: training starts by
// copying the world's parameters.
bool FaceVerif_MapGmmDCTmod2::enroll(FaceData* store) {
    if (verbose > 1)
        print("FaceVerif_MapGmmDCTmod2::enroll\n");
    if (!computefeatures(store))
        return false;
    computeVarianceFloor(varThresholdFactor);
    gmm->setVarThreshold(varianceFloor);
    gmm->setRealOption("prior weights", priorWeights);
    gmm->setRealOption("weight on prior", weightOnPrior);
    gmm->setBoolOption("learn means", true);
    EMTrainer trainer(gmm);
    setTrainingOptions(&trainer);
    trainer.train(features, nullptr);
    releaseFeatures();
    return true;
}

bool FaceVerif_MapGmmDCTmod2::test(FaceData* store, real* scores) {
    if (verbose > 1)
        print("FaceVerif_MapGmmDCTmod2::test\n");
    if (!computefeatures(store, false))
        return false;
    const int n = store->getNumberOfFaces();
    real stackWorld[4];
    real* worldScores = n <= 4 ? stackWorld : (real*)allocator->alloc((long)sizeof(real) * n);
    measure(gmm, n, scores);
    measure(world->gmm, n, worldScores);
    for (int i = 0; i < n; i++) {
        const real user = scores[i];
        scores[i] = user - worldScores[i];
        if (verbose > 0)
            print("output: %g - %g = %g\n", user, worldScores[i], scores[i]);
    }
    if (worldScores != stackWorld)
        allocator->free(worldScores);
    releaseFeatures();
    return true;
}

}  // namespace vision
