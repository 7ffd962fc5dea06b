#pragma once
// The graph of the unlock dialog and the enrollment page: the camera's picture with the detected
// faces outlined, shown in a window of the program, while the verification filter scores every
// detected face against the user's model.
//
//   camera -> smart tee -(preview)-> [image scaler] -> face detector -> video tee, face infos tee
//   video tee + face infos tee -> face highlighter -> renderer (child of the given window)
//   video tee + face infos tee -> face verificator
#include "app/capture/ApplicationServices.h"
#include "app/capture/CaptureGraphManager.h"

class FaceVerificatorGraphManager : public CaptureGraphManager {
public:
    explicit FaceVerificatorGraphManager(Logger* logger);
    ~FaceVerificatorGraphManager() override;
    void releaseFilters() override;

    // Builds the whole graph, not running. width x height is the size the detector is to receive
    // (0 in either: any). The listeners may be null. On failure the graph is torn down.
    bool initialize(const std::string& cameraName, HWND window, unsigned width, unsigned height,
                    FaceDetectionListener* detectionListener, VerificationListener* verificationListener);
    void setOneShot(bool oneShot);

    enum class Use { Enrollment, Unlock };
    // After initialize: the configured detector, tracking settings for the video size (0 x 0 when the
    // graph cannot tell), the user's model when one is given, and "BadVerificationConfidence" as the
    // authentication threshold. The enrollment page reads the video size before the detector's
    // set-up and runs the verificator continuously; the unlock screen reads it after and keeps the
    // filter's one-shot mode.
    void setupFilters(Use use, const CaptureConfiguration& config, const std::string* userModel);

    IBaseFilter* getRenderer() const { return renderer; }
    IBaseFilter* getHighlighter() const { return highlighter; }

private:
    void setupRenderingWindow(IVideoWindow* videoWindow, HWND window);

    IBaseFilter* videoTee = nullptr;
    IBaseFilter* faceInfosTee = nullptr;
    IBaseFilter* highlighter = nullptr;
    IBaseFilter* renderer = nullptr;
};
