#include "app/capture/CaptureListeners.h"

#include <cfloat>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/capture/ApplicationServices.h"
#include "app/capture/Notifications.h"
#include "app/capture/WallClock.h"
#include "src/Logger.h"
#include "verification/FaceData.h"
#include "verification/PrivateFile.h"
#include "verification/SampleFiles.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/Message.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/RgbFrame.h"

// ---- DetectionLogic ----

DetectionLogic::DetectionLogic(HWND window, unsigned faceMessage, unsigned captureMessage)
    : window(window), faceMessage(faceMessage), captureMessage(captureMessage), captureRequested(false) {}

DetectionLogic::~DetectionLogic() {}

void DetectionLogic::requestCapture(const std::string& prefix, float minScore) {
    std::lock_guard<std::mutex> lock(captureLock);
    capturePrefix = prefix;
    captureMinScore = minScore;
    captureRequested = true;
    ++captureSerial;
}

void DetectionLogic::cancelCapture() {
    std::lock_guard<std::mutex> lock(captureLock);
    captureRequested = false;
    ++captureSerial;
}

bool DetectionLogic::isCaptureRequested() {
    std::lock_guard<std::mutex> lock(captureLock);
    return captureRequested;
}

void DetectionLogic::onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) {
    if (count < 1 || !faces || !faces[0]) return;
    PostMessageA(window, faceMessage, scoreParam(faces[0]->score), 0);
    std::string prefix;
    unsigned serial;
    {
        std::lock_guard<std::mutex> lock(captureLock);
        if (!captureRequested || faces[0]->score < captureMinScore) return;
        prefix = capturePrefix;
        serial = captureSerial;
    }
    if (!frame) return;
    // A capture that cannot be written is reported instead of ending the program; the user can ask
    // again.
    const bool written = writeCapture(prefix, faces[0], frame);
    {
        std::lock_guard<std::mutex> lock(captureLock);
        // A request made while this one was written waits for the next frame with a face.
        if (captureSerial == serial) captureRequested = false;
    }
    PostMessageA(window, captureMessage, written ? CAPTURE_WRITTEN : CAPTURE_FAILED, 0);
}

bool DetectionLogic::writeCapture(const std::string& prefix, const vision::FaceInfo* face,
                                  const vision::RgbFrame* frame) {
    return vision::runRecoverable([&] {
        std::vector<float> gray(static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height));
        frame->toGrayFloat(gray.data(), false);
        vision::ImageGray image(frame->width, frame->height);
        image.copyFrom(frame->width, frame->height, gray.data(), "float", 255);
        image.save(vision::sampleFramePath(prefix).c_str());
        vision::DiskXFile info(vision::sampleDescriptionPath(prefix).c_str(), "w");
        vision::writeCaptureDescription(&info, face);
    });
}

void DetectionLogic::onNoFace() { PostMessageA(window, faceMessage, NO_FACE_SCORE, 0); }

// ---- VerificationLogic ----

VerificationLogic::VerificationLogic(HWND window, unsigned readyMessage, unsigned authenticatedMessage,
                                     unsigned notAuthenticatedMessage)
    : window(window),
      readyMessage(readyMessage),
      authenticatedMessage(authenticatedMessage),
      notAuthenticatedMessage(notAuthenticatedMessage),
      nearMissThreshold(FLT_MAX),
      nearMissTime(0) {}

VerificationLogic::~VerificationLogic() {}

void VerificationLogic::setAdaptation(const std::string& folder, const std::string& name, float threshold) {
    nearMissThreshold = threshold;
    dataFolder = folder;
    nearMissName = name;
    nearMissTime = 0;
    ApplicationServices* app = application();
    identity.reset(app ? app->loadUserInfo("") : nullptr);
}

void VerificationLogic::post(unsigned message, WPARAM wParam) {
    if (message != 0) PostMessageA(window, message, wParam, 0);
}

void VerificationLogic::onReady() { post(readyMessage, 0); }

void VerificationLogic::onAccepted(float score, vision::Sequence*, int, int, vision::FaceInfo*) {
    post(authenticatedMessage, scoreParam(score));
    purgeLastFace();
}

void VerificationLogic::onRejected(float score, vision::Sequence* gray, int width, int height,
                                   vision::FaceInfo* faces) {
    post(notAuthenticatedMessage, scoreParam(score));
    if (score > nearMissThreshold) keepNearMiss(gray, width, height, faces);
    purgeLastFace();
}

void VerificationLogic::onNoFace() {
    post(notAuthenticatedMessage, NO_FACE_SCORE);
    purgeLastFace();
}

void VerificationLogic::keepNearMiss(vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) {
    if (!identity || !gray || !faces || width <= 0 || height <= 0) return;
    // The sample's files go into "<data folder>/<user folder>/images", made here when missing so
    // that the write cannot fail for want of the folder.
    const std::string userFolder = vision::userFolderPath(dataFolder.c_str(), identity.get());
    vision::makePrivateFolder(userFolder.c_str());
    vision::makePrivateFolder((userFolder + "/images").c_str());
    const bool saved = vision::runRecoverable([&] {
        vision::FrontalFaceData store(identity.get(), width, height, 1, dataFolder.c_str(), true, false, 0, false);
        store.addFaceData(gray, faces, nearMissName.c_str());
        store.removeFaceData(0);
    });
    if (saved) nearMissTime = wallClockSeconds();
}

void VerificationLogic::purgeLastFace() {
    if (nearMissTime <= 0) return;
    if (static_cast<uint32_t>(wallClockSeconds() - nearMissTime) <= 3) return;
    nearMissTime = 0;
    if (!identity) return;
    vision::removeSampleFiles(vision::userFolderPath(dataFolder.c_str(), identity.get()) + "/images/" + nearMissName);
}

void deleteListeners(DetectionLogic*& detection, VerificationLogic*& verification, Logger* logger) {
    if (detection) {
        if (logger) logger->log("Destroying the detection logic...");
        delete detection;
        detection = nullptr;
    }
    if (verification) {
        if (logger) logger->log("Destroying the verification logic...");
        delete verification;
        verification = nullptr;
    }
}
