#include "detection/FaceTrackerAPI.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "detection/TrackerDetectors.h"
#include "visionlib/Allocator.h"
#include "visionlib/Message.h"

namespace vision {

// ---------------------------------------------------------------------------------------------
// FaceTrackerAPI

FaceTrackerAPI::FaceTrackerAPI(FaceTrackingSettings* settings_, bool verbose_)
    : verbose(verbose_), name("no name"), frame_counter(0), previous_gray(nullptr), motion_mask(nullptr),
      n_moving(0), gray_normalised(nullptr), enabled(true), settings(settings_), n_faces(0), faces(nullptr),
      gray(nullptr), width(0), height(0), n_pixels(0), input(nullptr) {
    if (settings == nullptr) error("FaceTrackerAPI::FaceTrackerAPI() No settings provided.");
    if (verbose) settings->print();
    width = settings->width;
    height = settings->height;
    n_pixels = width * height;
    previous_gray = (unsigned char*)allocator->alloc(n_pixels);
    motion_mask = (unsigned char*)allocator->alloc(n_pixels);
    gray_normalised = (real*)allocator->alloc((long)sizeof(real) * n_pixels);
    gray = (real*)allocator->alloc((long)sizeof(real) * n_pixels);
    if (n_pixels > 0) {
        std::memset(previous_gray, 0, n_pixels);
        std::memset(motion_mask, 0, n_pixels);
        std::memset(gray_normalised, 0, sizeof(real) * n_pixels);
        std::memset(gray, 0, sizeof(real) * n_pixels);
        input_frames[0] = gray_normalised;
        input = new (allocator) Sequence(input_frames, 1, n_pixels);
    }
}

template <int B, int G, int R>
void FaceTrackerAPI::convert(const unsigned char* image, int stride, bool bottomUp) {
    if (stride <= 0) stride = 3 * width;
    const int sensitivity = settings->pixel_sensitivity.value;
    const real toUnit = 1.0f / 255.0f;
    n_moving = 0;
    int i = 0;
    for (int y = 0; y < height; y++) {
        const unsigned char* p = image + (long)stride * (bottomUp ? height - 1 - y : y);
        for (int x = 0; x < width; x++, p += 3, i++) {
            const int g = R < 0 ? p[0] : (11 * p[R] + 16 * p[G] + 5 * p[B]) >> 5;
            const int d = std::abs(g - previous_gray[i]);
            if (d > sensitivity) {
                n_moving++;
                motion_mask[i] = (unsigned char)d;
            } else {
                motion_mask[i] = 0;
            }
            previous_gray[i] = (unsigned char)g;
            gray[i] = (real)g;
            gray_normalised[i] = (real)g * toUnit;
        }
    }
}

template <int B, int G, int R>
void FaceTrackerAPI::run(const unsigned char* image, int stride, bool bottomUp, const char* entry) {
    if (image == nullptr) error("FaceTracker::%s(): input image is NULL.", entry);
    convert<B, G, R>(image, stride, bottomUp);
    process();
}

void FaceTrackerAPI::processImageBGR(const unsigned char* image, int stride) {
    run<0, 1, 2>(image, stride, false, "processImageBGR");
}

void FaceTrackerAPI::processReverseImageBGR(const unsigned char* image, int stride) {
    run<0, 1, 2>(image, stride, true, "processReverseImageBGR");
}

void FaceTrackerAPI::processImageRGB(const unsigned char* image, int stride) {
    run<2, 1, 0>(image, stride, false, "processImageRGB");
}

void FaceTrackerAPI::processImageYUV(const unsigned char* image, int stride) {
    run<0, 0, -1>(image, stride, false, "processImageYUV");
}

void FaceTrackerAPI::setDetectionModulo(int modulo) {
    const IntTrackingParameter& p = settings->modulo_detection;
    if (modulo < p.min) error("APItracker::setDetectionModulo(): modulo must be above %d.", p.min);
    if (modulo > p.max) error("APItracker::setDetectionModulo(): modulo must be below %d.", p.max);
    settings->modulo_detection.value = modulo;
    frame_counter = 0;
}

void FaceTrackerAPI::setPixelDifference(int difference) {
    const IntTrackingParameter& p = settings->pixel_sensitivity;
    if (difference < p.min) error("APItracker::setPixelDifference(): pixel difference must be above %d.", p.min);
    if (difference > p.max) error("APItracker::setPixelDifference(): pixel difference must be below %d.", p.max);
    settings->pixel_sensitivity.value = difference;
}

void FaceTrackerAPI::setMotionQuantity(int quantity) {
    const IntTrackingParameter& p = settings->motion;
    if (quantity < p.min) error("APItracker::setMotionQuantity(): motion quantity must be above %d.", p.min);
    if (quantity > p.max) error("APItracker::setMotionQuantity(): motion quantity must be below %d.", p.max);
    settings->motion.value = quantity;
}

void FaceTrackerAPI::report(FaceAverager* averager, int n, FaceInfo** candidates) {
    averager->add(n, candidates);
    averager->average();
    n_faces = averager->n_faces;
    faces = averager->faces;
}

void setFaceView(FaceInfo& face, int view) {
    static const struct {
        bool inplane;
        real angle;
    } views[9] = {{true, 0},      {true, 22.5f},  {true, -22.5f},  {true, 45},  {true, -45},
                  {false, 22.5f}, {false, -22.5f}, {false, 45},    {false, -45}};
    const int v = view >= 0 && view <= 8 ? view : 0;
    face.inplane = views[v].inplane;
    face.outplane = !views[v].inplane;
    face.angle = views[v].angle;
}

namespace {

// Detection runs on frames with enough motion and, whatever the motion, on every modulo-th frame.
bool detectionDue(FaceTrackerAPI& t) {
    return t.n_moving > t.settings->motion.value || t.frame_counter == 0;
}

void countFrame(FaceTrackerAPI& t) {
    // Settings filled by hand may hold a zero modulo; scan every frame then.
    const int modulo = std::max(1, t.settings->modulo_detection.value);
    t.frame_counter = (t.frame_counter + 1) % modulo;
}

FaceInfo** makeCandidates(Allocator* allocator, int n) {
    FaceInfo** c = (FaceInfo**)allocator->alloc((long)sizeof(FaceInfo*) * n);
    for (int i = 0; i < n; i++) c[i] = new (allocator) FaceInfo();
    return c;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Frontal tracker

FaceTrackerAPI_MCTMSMFF_2::FaceTrackerAPI_MCTMSMFF_2(const char* model_file, float threshold,
                                                     FaceTrackingSettings* settings_, bool verbose_)
    : FaceTrackerAPI(settings_, verbose_) {
    name = "MCT-MS-MF-F-2";
    const FrontalDetector d =
        buildFrontalDetector(allocator, model_file, threshold, width, height, ScanRange(*settings), verbose);
    fusion = d.fusion;
    integral = d.integral;
    classifier = d.classifier;
    detector = d.detector;
    averager = new (allocator) RokelFaceAverager(settings, false);
    candidates = makeCandidates(allocator, settings->max_faces);
}

void FaceTrackerAPI_MCTMSMFF_2::process() {
    countFrame(*this);
    if (!enabled) {
        averager->reset();
        n_faces = 0;
        return;
    }
    if (!detectionDue(*this)) return;  // the last output stands
    if (verbose) print("FaceTrackerAPI_MCTMSMFF_2::process() ...\n");

    detector->process(input);
    int n = detector->n_patterns;
    if (n <= 0) {
        n_faces = 0;
        averager->reset();
        return;
    }
    n = std::min(n, settings->max_faces);
    for (int i = 0; i < n; i++) {
        candidates[i]->setFromPattern(*detector->patterns[i]);
        candidates[i]->outplane = false;
        candidates[i]->inplane = true;
        candidates[i]->angle = 0;
    }
    report(averager, n, candidates);
}

float FaceTrackerAPI_MCTMSMFF_2::meanIntensity() { return integral->sums()[n_pixels - 1] / n_pixels; }

// ---------------------------------------------------------------------------------------------
// Multi-view tracker

FaceTrackerAPI_MCTMSMFMV_1::FaceTrackerAPI_MCTMSMFMV_1(const char* model_directory, float threshold, bool normalised,
                                                       FaceTrackingSettings* settings_, bool verbose_)
    : FaceTrackerAPI(settings_, verbose_) {
    name = "MCT-MS-MF-MV-1";
    const MultiViewDetector d = buildMultiViewDetector(allocator, model_directory, threshold, normalised, width,
                                                       height, ScanRange(*settings), verbose);
    final_fusion = d.final_fusion;
    view_fusion = d.view_fusion;
    integral = d.integral;
    tree = d.tree;
    detector = d.detector;
    averager = new (allocator) RokelFaceAverager(settings, false);
    candidates = makeCandidates(allocator, settings->max_faces);
    verbose = false;
}

void FaceTrackerAPI_MCTMSMFMV_1::process() {
    countFrame(*this);
    if (!enabled) {
        n_faces = 0;  // the averager keeps its tracks
        return;
    }
    if (!detectionDue(*this)) return;

    detector->process(input);
    int n = 0;
    if (detector->n_patterns > 0 && final_fusion->fuse(detector->n_patterns, detector->patterns))
        n = final_fusion->count;
    if (n <= 0) {
        n_faces = 0;
        averager->reset();
        return;
    }
    // In the final fusion's order (activation, highest first); suppressed patterns still count.
    n = std::min(n, settings->max_faces);
    for (int i = 0; i < n; i++) {
        const Pattern& p = *final_fusion->output[i];
        candidates[i]->setFromPattern(p);
        setFaceView(*candidates[i], p.view);
    }
    report(averager, n, candidates);
}

float FaceTrackerAPI_MCTMSMFMV_1::meanIntensity() { return integral->sums()[n_pixels - 1] / n_pixels; }

}  // namespace vision
