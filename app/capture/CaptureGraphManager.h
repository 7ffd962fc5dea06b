#pragma once
// What the three capture graphs share: the capture head (camera, smart tee, face detector, with the
// image scaler as fallback when the detector cannot take the camera's picture at the asked size)
// and the set-up calls of the detection and verification filters. Each derived graph owns the
// fields it uses and releases them in its own order.
#include <initializer_list>
#include <string>

#include "app/capture/ApplicationServices.h"
#include "detection/filter/IFaceDetector.h"
#include "src/DSF_GraphManager.h"
#include "utilityfilters/scaler/ITamsel.h"
#include "verification/filter/IFaceVerificator.h"

namespace vision {
class FaceTrackingSettings;
}

class CaptureGraphManager : public DirectShowFramework::GraphManager {
public:
    explicit CaptureGraphManager(Logger* logger);
    IBaseFilter* getCaptureFilter() override { return captureFilter; }

    // Setup of the detection filter: SetModel's result.
    HRESULT setupFaceDetector(int mode, const std::string& modelPath, float threshold, bool normalized);
    // Ownership of the settings passes to the detection filter.
    HRESULT setDetectorSettings(vision::FaceTrackingSettings* settings);
    // New settings for at most maxFaces faces in width x height frames, the values of base (when
    // given) copied over them, passed to the detection filter.
    HRESULT setDetectorSettings(int maxFaces, int width, int height, const vision::FaceTrackingSettings* base);
    HRESULT setupFaceVerificator(const std::string& userModel, const std::string& worldModel);
    HRESULT setAuthenticationThreshold(float threshold);
    // Only faces of at least this detection score ("GoodDetectionConfidence", the bar of the
    // enrollment capture) that the tracker has held over vision::kFaceGateHeldFrames frames are
    // verified.
    HRESULT setFaceGate(float minDetectionScore);

    // Where the detector's tracking settings take the frame size from: the configured format, or
    // the running video's size read before or after the detector is set up (0 x 0 when the graph
    // cannot tell).
    enum class FrameSize { Configured, VideoBeforeDetector, VideoAfterDetector };
    // The filters from the configuration, in one order: the detector, its tracking settings, the
    // user's model against the world model (when one is given), the threshold a face must reach
    // to be accepted ("BadVerificationConfidence", for the unlock screen and the presence check
    // alike) and the face gate.
    void setupFromConfiguration(const CaptureConfiguration& config, FrameSize size, const std::string* userModel);

    // Filters of the graph, for inspection; null when absent.
    IBaseFilter* getDetector() const { return detector; }
    IBaseFilter* getScaler() const { return scaler; }
    IBaseFilter* getSmartTee() const { return smartTee; }
    IBaseFilter* getVerificator() const { return verificator; }

protected:
    // The graph builder, the named camera added as "Video Capture", and its preview pin (or, when it
    // has none, its capture pin), which the caller releases. Null after the step's error block.
    IPin* addCaptureDevice(const std::string& cameraName, const char* method);
    // The face detector fed from source, directly with its input fixed to width x height (when both
    // are above 0) or, when that fails, through the image scaler set to deliver that size.
    // configure: register the listener (when not null) and limit the detector to one face.
    bool connectDetector(IPin* source, unsigned width, unsigned height, FaceDetectionListener* listener, bool configure,
                         const char* method);
    // Camera -> smart tee -> (scaler) -> detector: the head of the verification and presence graphs.
    bool buildCaptureHead(const std::string& cameraName, unsigned width, unsigned height,
                          FaceDetectionListener* listener, const char* method);
    // The verification filter added as "Face verificator", with its control interface and listener.
    bool addVerificator(VerificationListener* listener, const char* method);
    // Announces the creation, creates the filter into *field and adds it to the graph under name;
    // the failing step writes its error block (reported at line) and tears the graph down.
    bool addNewFilter(REFCLSID clsid, IBaseFilter** field, const char* announce, const char* name,
                      const char* createFailure, const char* addFailure, const char* method, const char* file,
                      int line);
    // Declares (constructor) or withdraws (destructor) the uses of the graph's filter modules.
    void loadModules(std::initializer_list<const char*> modules);
    void unloadModules(std::initializer_list<const char*> modules);
    // The step failed: error block without code, tear-down, false.
    bool fail(const std::string& text, const char* method, const char* file, int line);
    // The step failed with an HRESULT.
    bool fail(const std::string& text, HRESULT code, const char* method, const char* file, int line);
    // Logs the preamble of an initialisation: its first line, then the camera and the size.
    void logPreamble(const std::string& first, const std::string& cameraName, unsigned width, unsigned height);
    // Releases the interfaces the capture graphs share and sets them to null.
    void releaseShared();

    IBaseFilter* captureFilter = nullptr;
    IBaseFilter* smartTee = nullptr;
    IBaseFilter* scaler = nullptr;
    IBaseFilter* detector = nullptr;
    IBaseFilter* verificator = nullptr;
    IFaceDetector* detectorControl = nullptr;
    IFaceVerificator* verificatorControl = nullptr;
    ITamsel* scalerControl = nullptr;
};
