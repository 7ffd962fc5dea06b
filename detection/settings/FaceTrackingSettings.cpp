#include "detection/settings/FaceTrackingSettings.h"

#include <algorithm>

#include "visionlib/Message.h"

namespace vision {

namespace {

template <class T>
void setParameter(TrackingParameter<T>& p, T min, T max, const char* name, const char* help, T value) {
    p.min = min;
    p.max = max;
    p.name = name;
    p.help = help;
    p.value = value;
}

void printParameter(const IntTrackingParameter& p) {
    print("Face tracking parameter:\n");
    print("   name = %s\n", p.name);
    print("   type = int\n");
    print("   min = %d\n", p.min);
    print("   max = %d\n", p.max);
    print("   value = %d\n", p.value);
    print("   help = \"%s\"\n", p.help);
}

void printParameter(const RealTrackingParameter& p) {
    print("Face tracking parameter:\n");
    print("   name = %s\n", p.name);
    print("   type = real\n");
    print("   min = %g\n", (double)p.min);
    print("   max = %g\n", (double)p.max);
    print("   value = %g\n", (double)p.value);
    print("   help = \"%s\"\n", p.help);
}

// The motion threshold is tuned per camera width, whatever the height.
int motionForWidth(int width) {
    if (width == 240 || width == 288) return 100;
    if (width == 480 || width == 576) return 100000;
    return 1000;
}

}  // namespace

int FaceTrackingSettings::clampMaxFaces(int n) { return std::max(1, std::min(n, MAX_FACES_LIMIT)); }

FaceTrackingSettings::FaceTrackingSettings(int max_faces_, int width_, int height_)
    : width(width_), height(height_), n_pixels(width_ * height_), max_faces(clampMaxFaces(max_faces_)) {
    setDefaults();
}

void FaceTrackingSettings::setDefaults() {
    setParameter(min_size, 19, height, "min size", "minimum size of faces", 38);
    setParameter(max_size, 19, height, "max size", "maximum size of faces", 240);
    setParameter(step_x_factor, (real)0.0625, (real)0.5, "step X factor", "horizontal step factor for the scanning",
                 (real)0.0625);
    setParameter(step_y_factor, (real)0.08, (real)0.5, "step Y factor", "vertical step factor for the scanning",
                 (real)0.125);
    setParameter(scale_factor, (real)0.125, (real)0.5, "scale factor", "scale factor for the scanning", (real)0.125);
    setParameter(averager_length, 1, 8, "averager length", "size of the averaging window", 6);
    setParameter(correlation_threshold, (real)0.0001, (real)1.0, "correlation threshold",
                 "threshold for the correlation of faces in the averager", (real)0.05);
    setParameter(modulo_detection, 1, 200, "modulo detection", "runs the face detector every modulo images", 50);
    setParameter(pixel_sensitivity, 10, 100, "pixel sensitivity", "threshold to consider moving pixels", 30);
    setParameter(motion, 10, n_pixels / 4, "motion", "don't run the detector if not enough motion",
                 motionForWidth(width));
    setParameter(max_distance, 10, 6000, "max distance", "distance similarity threshold for the averaging", 900);
    setParameter(max_delta_width, 10, 200, "max delta width", "width similarity threshold", 40);
}

namespace {

// No value passes its declared maximum (a value that is not a number takes it): the scanner turns
// these into window sizes and steps, and a scale factor of 1e30 made detection a hundred times
// slower and its integer conversions undefined.
template <class T>
T atMost(T value, const TrackingParameter<T>& limit) {
    return value <= limit.max ? value : limit.max;
}

}  // namespace

void FaceTrackingSettings::copyFrom(const FaceTrackingSettings& from) {
    min_size.value = atMost(from.min_size.value, min_size);
    max_size.value = atMost(from.max_size.value, max_size);
    // A maximum below the model size means "no limit" to the scanner; otherwise keep min <= max.
    if (max_size.value >= max_size.min && min_size.value > max_size.value) min_size.value = max_size.value;
    step_x_factor.value = atMost(from.step_x_factor.value, step_x_factor);
    step_y_factor.value = atMost(from.step_y_factor.value, step_y_factor);
    scale_factor.value = std::max(atMost(from.scale_factor.value, scale_factor), scale_factor.min);
    averager_length.value = std::max(atMost(from.averager_length.value, averager_length), averager_length.min);
    modulo_detection.value = std::max(atMost(from.modulo_detection.value, modulo_detection), modulo_detection.min);
    pixel_sensitivity.value = atMost(from.pixel_sensitivity.value, pixel_sensitivity);
    max_distance.value = atMost(from.max_distance.value, max_distance);
    max_delta_width.value = atMost(from.max_delta_width.value, max_delta_width);
    if (width == 240 || width == 288 || width == 480 || width == 576)
        motion.value = motionForWidth(width);
    else
        motion.value = atMost(from.motion.value, motion);
    max_faces = clampMaxFaces(from.max_faces);
    correlation_threshold.value = atMost(from.correlation_threshold.value, correlation_threshold);
}

void FaceTrackingSettings::setMaxFaces(int n) { max_faces = clampMaxFaces(n); }

void FaceTrackingSettings::print() const {
    printParameter(min_size);
    printParameter(max_size);
    printParameter(step_x_factor);
    printParameter(step_y_factor);
    printParameter(scale_factor);
    printParameter(averager_length);
    printParameter(modulo_detection);
    printParameter(pixel_sensitivity);
    printParameter(motion);
    printParameter(max_distance);
    printParameter(max_delta_width);
    printParameter(correlation_threshold);
}

}  // namespace vision
