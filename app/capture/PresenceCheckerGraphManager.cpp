#include "app/capture/PresenceCheckerGraphManager.h"

using DirectShowFramework::logError;

namespace {

const char kFile[] = ".\\app\\PresenceCheckerGraphManager.cpp";
const char kMethod[] = "PresenceCheckerGraphManager::initialize";

}  // namespace

PresenceCheckerGraphManager::PresenceCheckerGraphManager(Logger* logger) : CaptureGraphManager(logger) {
    logLine("Creation of the PresenceChecker graph manager");
    loadModules({"Drovane.ax", "Palomir.ax", "Tamsel.ax"});
}

PresenceCheckerGraphManager::~PresenceCheckerGraphManager() {
    unloadModules({"Drovane.ax", "Palomir.ax", "Tamsel.ax"});
    destroy();
}

bool PresenceCheckerGraphManager::initialize(const std::string& cameraName, unsigned width, unsigned height,
                                             FaceDetectionListener* detectionListener,
                                             VerificationListener* verificationListener) {
    logPreamble("Initialization of the PresenceChecker graph manager...", cameraName, width, height);
    LogIndent indent(logger);
    if (!buildCaptureHead(cameraName, width, height, detectionListener, kMethod)) return false;
    if (!addVerificator(verificationListener, kMethod)) return false;
    logLine("Connect the face detector filter to the face verificator one (video stream)");
    if (!connectFilters(detector, verificator))
        return fail("Failed to connect the video pin of the face detector filter to the face verificator one", kMethod,
                    kFile, __LINE__);
    logLine("Connect the face detector filter to the face verificator one (face info stream)");
    if (!connectFilters(detector, verificator))
        return fail("Failed to connect the face infos pin of the face detector filter to the face verificator one",
                    kMethod, kFile, __LINE__);
    if (!addToRot()) logError(logger, "Failed to add the graph the to Running Object Table", kMethod, kFile, __LINE__);
    return true;
}

void PresenceCheckerGraphManager::releaseFilters() {
    if (graph) {
        for (IBaseFilter* filter : {verificator, detector, scaler, smartTee, captureFilter}) removeFilter(filter);
    }
    releaseShared();
}
