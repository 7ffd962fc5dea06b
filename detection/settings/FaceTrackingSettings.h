#pragma once
// The face tracker's tuning: twelve named, bounded parameters plus the frame geometry.
#include "visionlib/Object.h"

namespace vision {

template <class T>
struct TrackingParameter {
    T min;
    T max;
    const char* name;  // literal
    const char* help;  // literal
    T value;
};

typedef TrackingParameter<int> IntTrackingParameter;
typedef TrackingParameter<real> RealTrackingParameter;

class FaceTrackingSettings : public Object {
public:
    // A face information sample holds four records, so no tracker reports more.
    static constexpr int MAX_FACES_LIMIT = 4;

    IntTrackingParameter min_size;
    IntTrackingParameter max_size;
    RealTrackingParameter step_x_factor;
    RealTrackingParameter step_y_factor;
    RealTrackingParameter scale_factor;
    IntTrackingParameter averager_length;
    RealTrackingParameter correlation_threshold;
    IntTrackingParameter modulo_detection;
    IntTrackingParameter pixel_sensitivity;
    IntTrackingParameter motion;
    IntTrackingParameter max_distance;
    IntTrackingParameter max_delta_width;

    int width;
    int height;
    int n_pixels;
    int max_faces;  // 1..MAX_FACES_LIMIT

    FaceTrackingSettings(int max_faces, int width, int height);

    void setDefaults();
    // Takes the values of settings made for another (or no) frame size into these, limited to this
    // frame. Values that would break the tracker (zero lengths and moduli, a zero scale factor, a
    // minimum window above the maximum) are raised to what the tracker can use.
    void copyFrom(const FaceTrackingSettings& from);
    void setMaxFaces(int n);
    void print() const;

    static int clampMaxFaces(int n);
};

}  // namespace vision
