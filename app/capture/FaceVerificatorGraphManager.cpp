#include "app/capture/FaceVerificatorGraphManager.h"

#include "utilityfilters/highlighter/IHighlighting.h"

using DirectShowFramework::logError;
using DirectShowFramework::releaseInterface;

namespace {

const char kFile[] = ".\\app\\FaceVerificatorGraphManager.cpp";
const char kMethod[] = "FaceVerificatorGraphManager::initialize";
constexpr LONG kChildStyle = 0x44000000;  // WS_CHILD | WS_CLIPSIBLINGS

}  // namespace

FaceVerificatorGraphManager::FaceVerificatorGraphManager(Logger* logger) : CaptureGraphManager(logger) {
    logLine("Creation of the FaceVerificator graph manager");
    loadModules({"Drovane.ax", "Lustrel.ax", "Palomir.ax", "Tamsel.ax"});
}

FaceVerificatorGraphManager::~FaceVerificatorGraphManager() {
    unloadModules({"Drovane.ax", "Lustrel.ax", "Palomir.ax", "Tamsel.ax"});
    destroy();
}

bool FaceVerificatorGraphManager::initialize(const std::string& cameraName, HWND window, unsigned width,
                                             unsigned height, FaceDetectionListener* detectionListener,
                                             VerificationListener* verificationListener) {
    logPreamble("Initialization of the FaceVerificator graph manager...", cameraName, width, height);
    LogIndent indent(logger);
    if (!buildCaptureHead(cameraName, width, height, detectionListener, kMethod)) return false;

    struct Tee {
        IBaseFilter** field;
        const char* announce;
        const char* name;
        const char* createFailure;
        const char* addFailure;
        const char* connectAnnounce;
        const char* connectFailure;
    };
    const Tee tees[] = {
        {&videoTee, "Create an infinite tee filter for the video stream", "Video infinite Tee",
         "Failed to create an infinite tee filter for the video stream",
         "Failed to add the infinite tee filter for the video stream to the graph",
         "Connect the face detector filter to the video tee one",
         "Failed to connect the video pin of the face detector filter to the video tee one"},
        {&faceInfosTee, "Create an infinite tee filter for the face infos stream", "Face infos infinite Tee",
         "Failed to create an infinite tee filter for the face infos stream",
         "Failed to add the infinite tee filter for the face infos stream to the graph",
         "Connect the face detector filter to the face infos tee one",
         "Failed to connect the face infos pin of the face detector filter to the face infos tee one"},
    };
    for (const Tee& tee : tees) {
        if (!addNewFilter(CLSID_InfTee, tee.field, tee.announce, tee.name, tee.createFailure, tee.addFailure, kMethod,
                          kFile, __LINE__))
            return false;
        logLine(tee.connectAnnounce);
        if (!connectFilters(detector, *tee.field)) return fail(tee.connectFailure, kMethod, kFile, __LINE__);
    }

    if (!addNewFilter(CLSID_HighlightingFilter, &highlighter, "Create the face highlighter filter", "Face highlighter",
                      "Failed to create the face highlighter filter",
                      "Failed to add the face highlighter filter to the graph", kMethod, kFile, __LINE__))
        return false;
    logLine("Connect the video tee filter to the face highlighter one (video stream)");
    if (!connectFilters(videoTee, highlighter))
        return fail("Failed to connect the video tee filter to the face highlighter one", kMethod, kFile, __LINE__);
    logLine("Connect the face infos tee filter to the face highlighter one (face info stream)");
    if (!connectFilters(faceInfosTee, highlighter))
        return fail("Failed to connect the face info tee filter to the face highlighter one", kMethod, kFile, __LINE__);

    if (!addVerificator(verificationListener, kMethod)) return false;
    logLine("Connect the video tee filter to the face verificator one (video stream)");
    if (!connectFilters(videoTee, verificator))
        return fail("Failed to connect the video tee filter to the face verificator one", kMethod, kFile, __LINE__);
    logLine("Connect the face infos tee filter to the face verificator one (face info stream)");
    if (!connectFilters(faceInfosTee, verificator))
        return fail("Failed to connect the face info tee filter to the face verificator one", kMethod, kFile, __LINE__);

    if (!addNewFilter(CLSID_VideoRenderer, &renderer, "Create the renderer filter", "Renderer",
                      "Failed to create the renderer filter", "Failed to add the renderer filter to the graph", kMethod,
                      kFile, __LINE__))
        return false;
    logLine("Connect the face highlighter filter to the renderer one");
    if (!connectFilters(highlighter, renderer))
        return fail("Failed to connect the face highlighter filter to the renderer one", kMethod, kFile, __LINE__);

    logLine("Retrieve the video window interface of the graph");
    IVideoWindow* videoWindow = nullptr;
    HRESULT hr = graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&videoWindow));
    if (FAILED(hr)) return fail("Failed to retrieve the video window interface of the graph", hr, kMethod, kFile, __LINE__);
    logLine("Setup the rendering window");
    setupRenderingWindow(videoWindow, window);
    videoWindow->Release();

    if (!addToRot()) logError(logger, "Failed to add the graph the to Running Object Table", kMethod, kFile, __LINE__);
    return true;
}

void FaceVerificatorGraphManager::setupRenderingWindow(IVideoWindow* videoWindow, HWND window) {
    int32_t videoWidth = 0, videoHeight = 0;
    const bool sized = getVideoSize(videoWidth, videoHeight);
    const OAHWND owner = reinterpret_cast<OAHWND>(window);
    videoWindow->put_Owner(owner);
    videoWindow->put_WindowStyle(window ? kChildStyle : 0);
    videoWindow->put_MessageDrain(owner);
    videoWindow->put_Top(0);
    videoWindow->put_Left(0);
    if (sized) {
        videoWindow->put_Width(videoWidth);
        videoWindow->put_Height(videoHeight);
    }
}

void FaceVerificatorGraphManager::setOneShot(bool oneShot) {
    logLine(oneShot ? "Put the verification filter in One-shot mode" : "Put the verification filter in continuous mode");
    verificatorControl->SetMode(oneShot);
}

void FaceVerificatorGraphManager::setupFilters(Use use, const CaptureConfiguration& config,
                                               const std::string* userModel) {
    setupFromConfiguration(config, use == Use::Enrollment ? FrameSize::VideoBeforeDetector : FrameSize::VideoAfterDetector,
                           userModel);
    if (use == Use::Enrollment) setOneShot(false);
}

void FaceVerificatorGraphManager::releaseFilters() {
    if (graph) {
        for (IBaseFilter* filter : {renderer, verificator, highlighter, faceInfosTee, videoTee, detector, scaler, smartTee,
                                    captureFilter})
            removeFilter(filter);
    }
    releaseShared();
    releaseInterface(videoTee);
    releaseInterface(faceInfosTee);
    releaseInterface(highlighter);
    releaseInterface(renderer);
}
