#include "app/capture/PresenceChecker.h"

#include <memory>

#include "app/capture/ApplicationServices.h"
#include "app/capture/Notifications.h"
#include "app/capture/PresenceCheckerGraphManager.h"
#include "app/capture/WallClock.h"
#include "src/Logger.h"

namespace {

Logger* appLogger() {
    ApplicationServices* app = application();
    return app ? app->getLogger() : nullptr;
}

void logTo(Logger* logger, const char* line) {
    if (logger) logger->log(line);
}

}  // namespace

PresenceChecker::PresenceChecker() : graphManager(nullptr), startTime(0), notified(false) {}

PresenceChecker::~PresenceChecker() {
    if (graphManager) {
        graphManager->stop();
        delete graphManager;
        graphManager = nullptr;
    }
    startTime = 0;
}

bool PresenceChecker::start() {
    ApplicationServices* app = application();
    if (!app) return false;
    Logger* logger = app->getLogger();
    logTo(logger, "Starting the presence checking...");
    LogIndent indent(logger);
    const CaptureConfiguration config = app->captureConfiguration();
    if (config.cameraName.empty()) {
        logTo(logger, "ERROR: No camera selected");
        return false;
    }
    graphManager = new PresenceCheckerGraphManager(logger);
    if (!graphManager->initialize(config.cameraName, config.formatWidth, config.formatHeight, nullptr, this)) {
        logTo(logger, "ERROR: Failed to create the graph manager");
        delete graphManager;
        graphManager = nullptr;
        return false;
    }
    graphManager->setupFaceDetector(config.detectorType, config.detectorModel, config.detectorThreshold,
                                    config.detectorNormalized);
    graphManager->setDetectorSettings(config.maxFaces, static_cast<int>(config.formatWidth),
                                      static_cast<int>(config.formatHeight), config.trackingSettings);
    graphManager->setupFaceVerificator(app->userModelPath(), config.worldModel);
    graphManager->setAuthenticationThreshold(static_cast<float>(config.adaptationThreshold * 0.001));
    if (!graphManager->start()) {
        logTo(logger, "ERROR: Failed to start the graph manager");
        delete graphManager;
        graphManager = nullptr;
        return false;
    }
    return true;
}

void PresenceChecker::notify(int id) {
    if (ApplicationServices* app = application()) app->addPendingCommandEvent(id);
    notified = true;
}

void PresenceChecker::onReady() {
    startTime = wallClockSeconds();
    notified = false;
}

void PresenceChecker::onAccepted(float, vision::Sequence*, int, int, vision::FaceInfo*) {
    if (notified) return;
    Logger* logger = appLogger();
    logTo(logger, "[PresenceChecker] Presence found, face authentified");
    {
        LogIndent indent(logger);
        logTo(logger, "Notifying the application...");
    }
    notify(ID_PRESENCE_OK);
}

void PresenceChecker::onRejected(float, vision::Sequence*, int, int, vision::FaceInfo*) {
    reportAbsence("[PresenceChecker] Presence found, face not authentified");
}

void PresenceChecker::onNoFace() { reportAbsence("[PresenceChecker] No presence found"); }

void PresenceChecker::reportAbsence(const char* line) {
    const int32_t now = wallClockSeconds();
    if (notified) return;
    if (static_cast<uint32_t>(now - startTime) <= 3) return;
    Logger* logger = appLogger();
    logTo(logger, line);
    {
        LogIndent indent(logger);
        logTo(logger, "Notifying the application...");
    }
    notify(ID_PRESENCE_FAILED);
}
