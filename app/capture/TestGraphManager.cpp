#include "app/capture/TestGraphManager.h"

namespace {

const char kMethod[] = "TestGraphManager::testResolution";

}  // namespace

TestGraphManager::TestGraphManager(Logger* logger) : CaptureGraphManager(logger) {
    logLine("Creation of the TestGraphManager");
    loadModules({"Drovane.ax", "Tamsel.ax"});
}

TestGraphManager::~TestGraphManager() {
    unloadModules({"Drovane.ax", "Tamsel.ax"});
    destroy();
}

bool TestGraphManager::testResolution(const std::string& cameraName, unsigned width, unsigned height) {
    if (logger) {
        logger->stream << "Test if the resolution " << width << "x" << height
                       << " is supported by the video capture device '" << cameraName << "'";
        logger->flush();
    }
    LogIndent indent(logger);
    IPin* cameraPin = addCaptureDevice(cameraName, kMethod);
    if (!cameraPin) return false;
    if (width > 0 && height > 0) {
        logLine("Attempt to fix the resolution of the input pin of the face detector filter");
        LogIndent attempt(logger);
        if (!connectDetector(cameraPin, width, height, nullptr, false, kMethod)) {
            cameraPin->Release();
            return false;
        }
    }
    cameraPin->Release();
    destroy();
    logLine("The resolution is supported");
    return true;
}

void TestGraphManager::releaseFilters() {
    if (graph) {
        for (IBaseFilter* filter : {detector, scaler, captureFilter}) removeFilter(filter);
    }
    releaseShared();
}
