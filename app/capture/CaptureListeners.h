#pragma once
// The program's listeners of the detection and verification filters. Each callback arrives on a
// filter's streaming thread with the filter's lock held; the listeners touch no window and only
// post messages to the window they were given.
#include <cfloat>
#include <memory>
#include <mutex>
#include <string>

#include "detection/filter/IFaceDetector.h"
#include "platform/messages.h"
#include "verification/filter/IFaceVerificator.h"

class Logger;
namespace vision {
class UserInfo;
}

// Posts the detection score of every frame the tracker ran on and, once on request, writes the
// frame and the description of its first face ("<prefix>.raw.pgm", "<prefix>.info.txt"); the
// capture message follows with CAPTURE_WRITTEN, or CAPTURE_FAILED when the files could not be
// written.
class DetectionLogic : public FaceDetectionListener {
public:
    DetectionLogic(HWND window, unsigned faceMessage, unsigned captureMessage);
    ~DetectionLogic() override;

    // Arms the capture of the next frame whose first face scores at least minScore (any face by
    // default); a second call before it replaces the prefix and the score. GUI thread, also while the
    // graph runs.
    void requestCapture(const std::string& prefix, float minScore = -FLT_MAX);
    // Disarms a pending request; a capture already being written is still reported.
    void cancelCapture();
    bool isCaptureRequested();

    void onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) override;
    void onNoFace() override;

protected:
    // false when a file could not be written.
    virtual bool writeCapture(const std::string& prefix, const vision::FaceInfo* face, const vision::RgbFrame* frame);

    HWND window;
    unsigned faceMessage;
    unsigned captureMessage;
    // The prefix and the flag travel together between the GUI and the streaming thread.
    std::mutex captureLock;
    std::string capturePrefix;
    float captureMinScore = -FLT_MAX;
    bool captureRequested;
    unsigned captureSerial = 0;  // counts the requests, so that one made during a write stays armed
};

// Posts the verification verdicts and keeps a near miss: a rejected face that scored above the
// near-miss threshold is saved as a sample in the user's images folder and deleted again by the
// first verdict that comes 4 or more clock seconds later.
class VerificationLogic : public VerificationListener {
public:
    VerificationLogic(HWND window, unsigned readyMessage, unsigned authenticatedMessage,
                      unsigned notAuthenticatedMessage);
    ~VerificationLogic() override;

    // Before the graph runs, on the GUI thread: the current user's identity record is read here, so
    // that the streaming thread never reaches the application object. Forgets a kept near miss (its
    // files stay). Without an identity record no near miss is kept.
    void setAdaptation(const std::string& dataFolder, const std::string& nearMissName, float threshold);

    void onReady() override;
    void onAccepted(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) override;
    void onRejected(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) override;
    void onNoFace() override;

    int32_t getNearMissTime() const { return nearMissTime; }

protected:
    void post(unsigned message, WPARAM wParam);
    void keepNearMiss(vision::Sequence* gray, int width, int height, vision::FaceInfo* faces);
    void purgeLastFace();

    HWND window;
    unsigned readyMessage;
    unsigned authenticatedMessage;
    unsigned notAuthenticatedMessage;
    std::string dataFolder;
    std::string nearMissName;
    std::unique_ptr<vision::UserInfo> identity;  // taken by setAdaptation
    float nearMissThreshold;
    int32_t nearMissTime;
};

// Deletes the listeners a verification graph fed (either may be null) and sets both to null. With a
// logger, the deletion of each one present is announced.
void deleteListeners(DetectionLogic*& detection, VerificationLogic*& verification, Logger* logger);
