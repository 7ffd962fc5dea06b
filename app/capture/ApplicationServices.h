#pragma once
// What the capture pieces use of the application object. The program's application class
// implements this interface and registers itself with setApplication; while none is registered,
// "the application object does not exist": events are not posted and per-user files not touched.
// The listeners call it from the filters' streaming threads.
#include <string>

#include "verification/filter/IFaceVerificator.h"

class Logger;

namespace vision {
class FaceTrackingSettings;
class UserInfo;
}  // namespace vision

// The configured values that the presence check and the verification graph's set-up read.
struct CaptureConfiguration {
    std::string cameraName;  // empty: no camera chosen
    unsigned formatWidth = 320;
    unsigned formatHeight = 240;
    int detectorType = 1;  // 1 frontal, 2 multi-view
    std::string detectorModel;
    float detectorThreshold = 0.0f;
    bool detectorNormalized = false;
    int maxFaces = 1;
    const vision::FaceTrackingSettings* trackingSettings = nullptr;  // copied, never handed over
    std::string worldModel;
    float goodDetectionConfidence = 0.1f;  // the face gate's bar: weaker detections are no faces
    float badVerificationConfidence = kDefaultVerificationThreshold;  // a face is accepted from this score
    float adaptationThreshold = 0.2f;  // a rejected face above it is a near miss
};

class ApplicationServices {
public:
    virtual ~ApplicationServices() {}
    // The process's logger, or null.
    virtual Logger* getLogger() = 0;
    // Hands a menu-selected command event with this id to the application object
    // (AddPendingEvent): it is handled later on the GUI thread.
    virtual void addPendingCommandEvent(int id) = 0;
    // The folder that holds the per-user folders.
    virtual std::string userDataDir() = 0;
    // The identity record of the current user (the caller deletes it), or null when there is none.
    virtual vision::UserInfo* loadUserInfo(const std::string& prefix) = 0;
    // Full path of the current user's model file.
    virtual std::string userModelPath() = 0;
    virtual CaptureConfiguration captureConfiguration() = 0;
};

// The registered application object, or null. Safe to read from any thread.
ApplicationServices* application();
void setApplication(ApplicationServices* app);
