#pragma once
// Smooths the detector's jittering boxes: one track per face slot, each with a short history.
#include "detection/VectorDistance.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "visionlib/filter/FaceInfo.h"

namespace vision {

class FaceAverager : public Object {
public:
    int n_tracks;
    int length;       // history entries per track
    int* current;     // per track: slot the next matched face goes to
    FaceInfo*** history;  // per track, length entries; valid when bbx_width != 0
    FaceTrackingSettings* settings;  // not owned
    bool verbose;
    bool* active;     // per track: received a face in the last add
    int n_faces;
    FaceInfo** faces;  // n_tracks output records, the first n_faces valid

    FaceAverager(FaceTrackingSettings* settings, bool verbose);

    virtual void add(int n, FaceInfo** newFaces) = 0;
    virtual void average() = 0;
    virtual void reset();
    virtual void print();

protected:
    // Index in faces of what the last average produced for each track, or -1.
    int* produced;

    virtual bool matches(const FaceInfo& track, const FaceInfo& face) = 0;
    virtual const char* className() const = 0;
    void matchFaces(int n, FaceInfo** newFaces);
    void averageTracks();

private:
    void store(int track, const FaceInfo& face);
};

// Match: squared distance of the box centres below max_distance.
class RokelFaceAverager : public FaceAverager {
public:
    RokelFaceAverager(FaceTrackingSettings* settings, bool verbose);
    void add(int n, FaceInfo** newFaces) override;
    void average() override;

protected:
    bool matches(const FaceInfo& track, const FaceInfo& face) override;
    const char* className() const override { return "RokelFaceAverager"; }
};

// Match: squared distance of the top-left corners at most max_distance, width change within max_delta_width.
class VimboFaceAverager : public FaceAverager {
public:
    VimboFaceAverager(FaceTrackingSettings* settings, bool verbose);
    void add(int n, FaceInfo** newFaces) override;
    void average() override;

protected:
    bool matches(const FaceInfo& track, const FaceInfo& face) override;
    const char* className() const override { return "VimboFaceAverager"; }
};

// Match: correlation distance of (centre x, centre y, width) below correlation_threshold.
class stdCorrelationFaceAverager : public FaceAverager {
public:
    StdCorrelationDistance* distance;

    stdCorrelationFaceAverager(FaceTrackingSettings* settings, bool verbose);
    void add(int n, FaceInfo** newFaces) override;
    void average() override;

protected:
    bool matches(const FaceInfo& track, const FaceInfo& face) override;
    const char* className() const override { return "stdCorrelationFaceAverager"; }
};

// Reports nothing.
class NullFaceAverager : public FaceAverager {
public:
    NullFaceAverager(FaceTrackingSettings* settings, bool verbose);
    void add(int n, FaceInfo** newFaces) override {}
    void average() override {}

protected:
    bool matches(const FaceInfo&, const FaceInfo&) override { return false; }
    const char* className() const override { return "NullFaceAverager"; }
};

}  // namespace vision
