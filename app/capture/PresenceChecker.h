#pragma once
// The presence check before a lock: runs the presence graph from the user's configuration and
// turns the verification filter's verdicts into exactly one command event for the application,
// ID_PRESENCE_OK at the first accepted face, or ID_PRESENCE_FAILED at the first rejection or empty
// frame 4 or more clock seconds after the filter became ready. A watchdog makes sure the check
// ends: without a verdict some seconds after the graph was started (a verifier that never gets
// ready, a camera that sends nothing, a graph that stops) it reports ID_PRESENCE_FAILED itself.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "verification/filter/IFaceVerificator.h"

class Logger;
class PresenceCheckerGraphManager;

class PresenceChecker : public VerificationListener {
public:
    PresenceChecker();
    // Stops and deletes the graph first, so no callback can reach a deleted checker.
    ~PresenceChecker() override;

    // GUI thread: true when the graph runs.
    bool start();

    // How long after the graph was started the check may go without a verdict (ms); before start.
    void setTimeLimit(unsigned milliseconds) { timeLimit = milliseconds; }
    static constexpr unsigned kDefaultTimeLimit = 10000;

    void onReady() override;
    void onAccepted(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) override;
    void onRejected(float score, vision::Sequence* gray, int width, int height, vision::FaceInfo* faces) override;
    void onNoFace() override;

    PresenceCheckerGraphManager* getGraphManager() const { return graphManager; }
    // The verdict was the watchdog's: the graph gave none in time.
    bool timedOut() const { return timedOutFlag; }

protected:
    // The verdict against the user, once the first seconds are over.
    void reportAbsence(const char* line);
    // Posts the verdict once; false when one was already posted. Takes the verdict lock. timeUp:
    // the watchdog's verdict.
    bool notifyOnce(int id, const char* line, bool timeUp = false);
    void watch();
    void stopWatchdog();

    PresenceCheckerGraphManager* graphManager;
    Logger* logger = nullptr;  // the application's, taken when the checker is made
    int32_t startTime;
    bool notified;  // under verdictLock once the graph runs

    unsigned timeLimit = kDefaultTimeLimit;
    std::mutex verdictLock;
    std::condition_variable wake;
    bool stopping = false;  // under verdictLock
    std::thread watchdog;
    std::atomic<bool> timedOutFlag{false};
};
