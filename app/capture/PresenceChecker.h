#pragma once
// The presence check before a lock: runs the presence graph from the user's configuration and
// turns the verification filter's verdicts into exactly one command event for the application,
// ID_PRESENCE_OK at the first accepted face, or ID_PRESENCE_FAILED at the first rejection or empty
// frame 4 or more clock seconds after the filter became ready.
#include <cstdint>

#include "verification/filter/IFaceVerificator.h"

class PresenceCheckerGraphManager;

class PresenceChecker : public VerificationListener {
public:
    PresenceChecker();
    // Stops and deletes the graph first, so no callback can reach a deleted checker.
    ~PresenceChecker() override;

    // GUI thread: true when the graph runs.
    bool start();

    void onReady() override;
    void onAccepted(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) override;
    void onRejected(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) override;
    void onNoFace() override;

    PresenceCheckerGraphManager* getGraphManager() const { return graphManager; }

protected:
    // The verdict against the user, once the first seconds are over.
    void reportAbsence(const char* line);
    void notify(int id);

    PresenceCheckerGraphManager* graphManager;
    int32_t startTime;
    bool notified;
};
