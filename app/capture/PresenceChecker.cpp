#include "app/capture/PresenceChecker.h"

#include <chrono>
#include <memory>

#include "app/capture/ApplicationServices.h"
#include "app/capture/Notifications.h"
#include "app/capture/PresenceCheckerGraphManager.h"
#include "app/capture/WallClock.h"
#include "src/Logger.h"

namespace {

void logTo(Logger* logger, const char* line) {
    if (logger) logger->log(line);
}

}  // namespace

PresenceChecker::PresenceChecker() : graphManager(nullptr), startTime(0), notified(false) {
    if (ApplicationServices* app = application()) logger = app->getLogger();
}

PresenceChecker::~PresenceChecker() {
    stopWatchdog();
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
    // Keeping an idle session open is as strong a verdict as opening the lock: the graph takes the
    // unlock screen's threshold, not the near-miss floor.
    const std::string userModel = app->userModelPath();
    graphManager->setupFromConfiguration(config, CaptureGraphManager::FrameSize::Configured, &userModel);
    if (!graphManager->start()) {
        logTo(logger, "ERROR: Failed to start the graph manager");
        delete graphManager;
        graphManager = nullptr;
        return false;
    }
    watchdog = std::thread(&PresenceChecker::watch, this);
    return true;
}

void PresenceChecker::watch() {
    std::unique_lock<std::mutex> lock(verdictLock);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimit);
    if (wake.wait_until(lock, end, [this] { return stopping || notified; })) return;
    lock.unlock();
    notifyOnce(ID_PRESENCE_FAILED, "ERROR: The presence check gave no result in time, it failed", true);
}

void PresenceChecker::stopWatchdog() {
    {
        std::lock_guard<std::mutex> guard(verdictLock);
        stopping = true;
    }
    wake.notify_all();
    if (watchdog.joinable()) watchdog.join();
}

bool PresenceChecker::notifyOnce(int id, const char* line, bool timeUp) {
    std::lock_guard<std::mutex> guard(verdictLock);
    if (notified || stopping) return false;
    timedOutFlag = timeUp;  // before the event, which the GUI thread may handle at once
    logTo(logger, line);
    {
        LogIndent indent(logger);
        logTo(logger, "Notifying the application...");
    }
    if (ApplicationServices* app = application()) app->addPendingCommandEvent(id);
    notified = true;
    wake.notify_all();
    return true;
}

void PresenceChecker::onReady() {
    std::lock_guard<std::mutex> guard(verdictLock);
    startTime = wallClockSeconds();
    notified = false;
}

void PresenceChecker::onAccepted(float, vision::Sequence*, int, int, vision::FaceInfo*) {
    notifyOnce(ID_PRESENCE_OK, "[PresenceChecker] Presence found, face authentified");
}

void PresenceChecker::onRejected(float, vision::Sequence*, int, int, vision::FaceInfo*) {
    reportAbsence("[PresenceChecker] Presence found, face not authentified");
}

void PresenceChecker::onNoFace() { reportAbsence("[PresenceChecker] No presence found"); }

void PresenceChecker::reportAbsence(const char* line) {
    const int32_t now = wallClockSeconds();
    {
        std::lock_guard<std::mutex> guard(verdictLock);
        if (notified) return;
        if (static_cast<uint32_t>(now - startTime) <= 3) return;
    }
    notifyOnce(ID_PRESENCE_FAILED, line);
}
