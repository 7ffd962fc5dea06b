#include "app/capture/CaptureGraphManager.h"

#include "detection/settings/FaceTrackingSettings.h"
#include "verification/FaceGate.h"

using DirectShowFramework::logError;
using DirectShowFramework::releaseInterface;

namespace {
const char kFile[] = ".\\app\\CaptureGraphManager.cpp";
}

CaptureGraphManager::CaptureGraphManager(Logger* logger) : GraphManager(logger) {}

bool CaptureGraphManager::fail(const std::string& text, const char* method, const char* file, int line) {
    logError(logger, text, method, file, line);
    destroy();
    return false;
}

bool CaptureGraphManager::fail(const std::string& text, HRESULT code, const char* method, const char* file,
                               int line) {
    logError(logger, text, code, method, file, line);
    destroy();
    return false;
}

bool CaptureGraphManager::addNewFilter(REFCLSID clsid, IBaseFilter** field, const char* announce, const char* name,
                                       const char* createFailure, const char* addFailure, const char* method,
                                       const char* file, int line) {
    logLine(announce);
    HRESULT hr = createFilter(clsid, field);
    if (FAILED(hr)) return fail(createFailure, hr, method, file, line);
    logLine("Add it to the graph");
    hr = addFilter(*field, name);
    if (FAILED(hr)) return fail(addFailure, hr, method, file, line);
    return true;
}

void CaptureGraphManager::loadModules(std::initializer_list<const char*> modules) {
    LogIndent indent(logger);
    for (const char* module : modules) loadModule(module);
}

void CaptureGraphManager::unloadModules(std::initializer_list<const char*> modules) {
    for (const char* module : modules) unloadModule(module);
}

void CaptureGraphManager::logPreamble(const std::string& first, const std::string& cameraName, unsigned width,
                                      unsigned height) {
    logLine(first);
    LogIndent indent(logger);
    logLine("Video capture device: '" + cameraName + "'");
    if (logger) {
        logger->stream << "Resolution:           " << width << "x" << height;
        logger->flush();
    }
}

IPin* CaptureGraphManager::addCaptureDevice(const std::string& cameraName, const char* method) {
    if (!createGraphBuilder()) {
        destroy();
        return nullptr;
    }
    logLine("Find the video capture device filter");
    captureFilter = findFilter(CLSID_VideoInputDeviceCategory, cameraName);
    if (!captureFilter) {
        destroy();
        return nullptr;
    }
    logLine("Add it to the graph");
    HRESULT hr = addFilter(captureFilter, "Video Capture");
    if (FAILED(hr)) {
        fail("Failed to add the video capture filter to the graph", hr, method, kFile, __LINE__);
        return nullptr;
    }
    logLine("Retrieve the preview pin of the video capture device filter");
    IPin* pin = getPin(captureFilter, PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW);
    if (!pin) {
        logLine("No preview pin, retrieve the capture pin of the video capture device filter");
        pin = getPin(captureFilter, PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE);
        if (!pin) {
            fail("Failed to retrieve the preview or capture output pin of the video capture device filter", method,
                 kFile, __LINE__);
            return nullptr;
        }
    }
    return pin;
}

bool CaptureGraphManager::connectDetector(IPin* source, unsigned width, unsigned height,
                                          FaceDetectionListener* listener, bool configure, const char* method) {
    if (!addNewFilter(CLSID_DetectionFilter, &detector, "Create the face detector filter", "Face detector",
                      "Failed to create the face detector filter", "Failed to add the face detector filter to the graph",
                      method, kFile, __LINE__))
        return false;
    logLine("Retrieve a pointer to the IFaceDetector interface of the filter");
    HRESULT hr = detector->QueryInterface(IID_IFaceDetector, reinterpret_cast<void**>(&detectorControl));
    if (FAILED(hr)) {
        detectorControl = nullptr;
        return fail("Failed to retrieve the face detector interface from the filter", hr, method, kFile, __LINE__);
    }
    if (configure) {
        if (listener) detectorControl->SetListener(listener);
        detectorControl->SetMaxFaces(1);
    }
    const bool sized = width > 0 && height > 0;
    if (sized) {
        logLine("Fix the resolution of its input pin");
        detectorControl->SetInputResolution(static_cast<int>(width), static_cast<int>(height));
    }
    logLine("Connect the 'preview' pin to the face detector filter");
    if (connectFilters(source, detector)) return true;
    if (!sized) return fail("Failed to connect the 'preview' pin to the face detector filter", method, kFile, __LINE__);

    logLine("Release the resolution of its input pin");
    detectorControl->SetInputResolution(0, 0);
    if (!addNewFilter(CLSID_ScalingFilter, &scaler, "Create the image scaler filter", "Image scaler",
                      "Failed to create the image scaler filter", "Failed to add the image scaler filter to the graph",
                      method, kFile, __LINE__))
        return false;
    logLine("Retrieve a pointer to the ITamsel interface of the filter");
    hr = scaler->QueryInterface(IID_ITamsel, reinterpret_cast<void**>(&scalerControl));
    if (FAILED(hr)) {
        scalerControl = nullptr;
        return fail("Failed to retrieve the image scaler interface from the filter", hr, method, kFile, __LINE__);
    }
    scalerControl->SetOutputResolution(width, height);
    logLine("Connect the 'preview' pin to the image scaler filter");
    if (!connectFilters(source, scaler))
        return fail("Failed to connect the 'preview' pin to the image scaler filter", method, kFile, __LINE__);
    logLine("Connect the image scaler filter to the face detector one");
    if (!connectFilters(scaler, detector))
        return fail("Failed to connect the image scaler filter to the face detector one", method, kFile, __LINE__);
    return true;
}

bool CaptureGraphManager::buildCaptureHead(const std::string& cameraName, unsigned width, unsigned height,
                                           FaceDetectionListener* listener, const char* method) {
    IPin* cameraPin = addCaptureDevice(cameraName, method);
    if (!cameraPin) return false;
    if (!addNewFilter(CLSID_SmartTee, &smartTee, "Create a smart tee filter", "Smart Tee",
                      "Failed to create a smart tee filter", "Failed to add the smart tee filter to the graph", method,
                      kFile, __LINE__)) {
        cameraPin->Release();
        return false;
    }
    logLine("Connect the video capture filter to the smart tee one");
    const bool teed = connectFilters(cameraPin, smartTee);
    cameraPin->Release();
    if (!teed) return fail("Failed to connect the video capture filter to the smart tee one", method, kFile, __LINE__);
    logLine("Get the smart tee 'preview' output pin");
    IPin* source = getPin(smartTee, PINDIR_OUTPUT, 1);
    if (!source) {
        destroy();
        return false;
    }
    const bool connected = connectDetector(source, width, height, listener, true, method);
    source->Release();
    return connected;
}

bool CaptureGraphManager::addVerificator(VerificationListener* listener, const char* method) {
    if (!addNewFilter(CLSID_VerificationFilter, &verificator, "Create the face verificator filter", "Face verificator",
                      "Failed to create the face verificator filter",
                      "Failed to add the face verificator filter to the graph", method, kFile, __LINE__))
        return false;
    logLine("Retrieve a pointer to the IFaceVerificator interface of the filter");
    HRESULT hr = verificator->QueryInterface(IID_IFaceVerificator, reinterpret_cast<void**>(&verificatorControl));
    if (FAILED(hr)) {
        verificatorControl = nullptr;
        return fail("Failed to retrieve the face verificator interface from the filter", hr, method, kFile, __LINE__);
    }
    if (listener) verificatorControl->SetCallback(listener);
    return true;
}

void CaptureGraphManager::releaseShared() {
    releaseInterface(detectorControl);
    releaseInterface(verificatorControl);
    releaseInterface(scalerControl);
    releaseInterface(captureFilter);
    releaseInterface(smartTee);
    releaseInterface(scaler);
    releaseInterface(detector);
    releaseInterface(verificator);
}

HRESULT CaptureGraphManager::setupFaceDetector(int mode, const std::string& modelPath, float threshold,
                                               bool normalized) {
    logLine("Setup the face detector filter");
    {
        LogIndent indent(logger);
        logLine(std::string("Mode:       ") + (mode == 2 ? "Multiview" : "Frontal"));
        logLine("Model:      " + modelPath);
        if (logger) {
            logger->stream << "Threshold:  " << threshold;
            logger->flush();
            logger->stream << "Normalized: " << normalized;
            logger->flush();
        }
    }
    return detectorControl->SetModel(mode, modelPath.c_str(), threshold, normalized);
}

HRESULT CaptureGraphManager::setDetectorSettings(vision::FaceTrackingSettings* settings) {
    return detectorControl->SetSettings(settings);
}

HRESULT CaptureGraphManager::setDetectorSettings(int maxFaces, int width, int height,
                                                 const vision::FaceTrackingSettings* base) {
    vision::FaceTrackingSettings* settings = new vision::FaceTrackingSettings(maxFaces, width, height);
    if (base) settings->copyFrom(*base);
    return setDetectorSettings(settings);
}

HRESULT CaptureGraphManager::setupFaceVerificator(const std::string& userModel, const std::string& worldModel) {
    logLine("Setup the face verificator filter");
    {
        LogIndent indent(logger);
        logLine("User model:  " + userModel);
        logLine("World model: " + worldModel);
    }
    return verificatorControl->SetModels(userModel, worldModel);
}

HRESULT CaptureGraphManager::setFaceGate(float minDetectionScore) {
    return verificatorControl->SetFaceGate(minDetectionScore, vision::kFaceGateHeldFrames);
}

HRESULT CaptureGraphManager::setAuthenticationThreshold(float threshold) {
    if (logger) {
        logger->stream << "Set the authentication threshold to " << threshold;
        logger->flush();
    }
    return verificatorControl->SetThreshold(threshold);
}

void CaptureGraphManager::setupFromConfiguration(const CaptureConfiguration& config, FrameSize size,
                                                 const std::string* userModel) {
    int32_t w = static_cast<int32_t>(config.formatWidth), h = static_cast<int32_t>(config.formatHeight);
    auto readVideoSize = [&] {
        if (!getVideoSize(w, h)) w = h = 0;
    };
    if (size == FrameSize::VideoBeforeDetector) readVideoSize();
    setupFaceDetector(config.detectorType, config.detectorModel, config.detectorThreshold, config.detectorNormalized);
    if (size == FrameSize::VideoAfterDetector) readVideoSize();
    setDetectorSettings(config.maxFaces, w, h, config.trackingSettings);
    if (userModel) setupFaceVerificator(*userModel, config.worldModel);
    setAuthenticationThreshold(config.badVerificationConfidence);
    setFaceGate(config.goodDetectionConfidence);
}
