#pragma once
// The detection filter between a test source and a test sink, a listener that writes down every
// call, and synthetic frames and cascades.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../detection/detect_helpers.h"
#include "detection/filter/DetectionFilter.h"
#include "filter_harness.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/RgbFrame.h"

namespace detect_rig {

using namespace harness;

inline LONG strideOf(LONG width) { return (3 * width + 3) & ~3; }

// A random BGR frame (mean and spread as the detector's window checks want them) with rows padded to
// the bitmap stride (padding bytes 0). Stored top row first; with bottomUp in the opposite order.
inline std::vector<unsigned char> texturedFrame(int width, int height, int seed, bool bottomUp = false) {
    const LONG stride = strideOf(width);
    std::mt19937 rng((unsigned)seed);
    std::vector<unsigned char> bytes((size_t)stride * height, 0);
    for (int y = 0; y < height; y++) {
        const int stored = bottomUp ? height - 1 - y : y;
        for (int x = 0; x < 3 * width; x++) bytes[(size_t)stored * stride + x] = (unsigned char)(rng() & 0xFF);
    }
    return bytes;
}

// Writes down every call in order.
struct Recorder : FaceDetectionListener {
    std::vector<std::string> events;
    int lastCount = 0;
    struct Face {
        int bbx_x, bbx_y, bbx_width, left_eye_x;
        float score;
    };
    std::vector<Face> lastFaces;
    int frameWidth = 0, frameHeight = 0;
    bool frameTopDown = true;

    void onTrackerCreated(int width, int height) override {
        events.push_back("created " + std::to_string(width) + "x" + std::to_string(height));
    }
    void onTrackerReset() override { events.push_back("reset"); }
    void onFrame(bool processed) override { events.push_back(processed ? "frame+" : "frame-"); }
    void onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) override {
        events.push_back("faces");
        lastCount = count;
        lastFaces.clear();
        for (int i = 0; i < count; i++)
            lastFaces.push_back({faces[i]->bbx_x, faces[i]->bbx_y, faces[i]->bbx_width, faces[i]->left_eye_x, faces[i]->score});
        frameWidth = frame->width;
        frameHeight = frame->height;
        frameTopDown = frame->topDown;
    }
    void onNoFace() override { events.push_back("noface"); }
    std::string joined(size_t from = 0) const {
        std::string s;
        for (size_t i = from; i < events.size(); i++) s += (s.empty() ? "" : ", ") + events[i];
        return s;
    }
};

// source "Out0" -> "Video In"; "Video Out" -> sink In0, "FaceInfo Out" -> sink In1.
struct DetectRig {
    Held<TestSource> source;
    Held<DetectionFilter> filter{nullptr, nullptr};
    Held<TestSink> sink;
    SourcePin* in;
    SinkPin* video;
    SinkPin* faces;
    LONG width, height;
    bool detachListener = true;

    DetectRig(LONG w, LONG h, bool connectVideo = true, bool connectFaces = true) : width(w), height(h) {
        in = source->addPin(videoType(MEDIASUBTYPE_RGB24, w, h, 24), 1, strideOf(w) * std::labs(h));
        video = sink->addPin();
        faces = sink->addPin();
        video->keepBytes = true;
        faces->keepBytes = true;
        EXPECT_EQ(connect(in, filter->GetPin(0)), S_OK);
        if (connectVideo) {
            EXPECT_EQ(connect(filter->GetPin(1), video), S_OK);
        }
        if (connectFaces) {
            EXPECT_EQ(connect(filter->GetPin(2), faces), S_OK);
        }
    }
    IFaceDetector* detector() { return filter.get(); }
    void run() {
        EXPECT_EQ(sink->Pause(), S_OK);
        EXPECT_EQ(filter->Pause(), S_OK);
        EXPECT_EQ(source->Pause(), S_OK);
    }
    void stop() {
        source->Stop();
        filter->Stop();
        sink->Stop();
    }
    // Connects the source again with frames of another size (the filter's outputs stay connected).
    void reconnectInput(LONG w, LONG h) {
        stop();
        disconnect(in);
        in->type = videoType(MEDIASUBTYPE_RGB24, w, h, 24);
        in->size = strideOf(w) * std::labs(h);
        width = w;
        height = h;
        EXPECT_EQ(connect(in, filter->GetPin(0)), S_OK);
        run();
    }
    HRESULT push(const std::vector<unsigned char>& frame, LONG length = -1) { return in->push(0, &frame, AM_STREAM_MEDIA, length); }
    HRESULT pushTextured(int seed) { return push(texturedFrame(width, std::labs(height), seed, height > 0)); }
    ~DetectRig() {
        stop();
        if (detachListener) filter->SetListener(nullptr);
        disconnect(in);
        disconnect(filter->GetPin(1));
        disconnect(filter->GetPin(2));
    }
};

// A cascade that takes every window (faces everywhere) or none.
inline std::string cascadeFile(const std::string& dir, bool acceptAll) {
    const std::string path = dir + (acceptAll ? "/all.cascade" : "/none.cascade");
    testhelp::writeUniformCascade(path, acceptAll);
    return path;
}

}  // namespace detect_rig
