#pragma once
// The unlock screen's heartbeat to the lock keeper that started it (app/core/LockKeeper.h): the
// GUI thread beats on a timer, the streaming thread with each frame. Started without a keeper (no
// pipe in the environment) nothing beats. A keeper that is gone ends the screen: its successor's
// screen is the one that counts.
#include "app/capture/CaptureListeners.h"
#include "app/core/UnlockAttempt.h"

namespace heartbeat {
// Takes the keeper's pipe and starts the GUI thread's beat; a keeper found gone is logged to logger
// (may be null; it must live as long as the process). Unlock-screen instance, GUI thread, once.
void start(Logger* logger);
// The logger given to start is about to go: from now on a keeper found gone is not logged.
void forgetLogger();
// The camera stopped (or will): no frames are to be awaited until the next one.
void streamStopped();
// The screen was opened and is ending: its exit is awaited, not its beats.
void unlocking();
}  // namespace heartbeat

// The unlock screen's detection listener: each frame through the streaming thread also beats.
class BeatingDetectionLogic : public DetectionLogic {
  public:
    using DetectionLogic::DetectionLogic;
    void onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) override;
    void onNoFace() override;
};

// The unlock screen's attempt: its detection listener beats, and a graph that goes says so.
class BeatingUnlockAttempt : public UnlockAttempt {
  public:
    using UnlockAttempt::UnlockAttempt;

  protected:
    DetectionLogic* makeDetectionLogic(HWND window) override;
    void graphReleased() override { heartbeat::streamStopped(); }
};
