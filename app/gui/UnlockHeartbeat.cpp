#include "app/gui/UnlockHeartbeat.h"

#include <fcntl.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/timer.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "app/capture/Notifications.h"
#include "app/core/ProductConstants.h"
#include "app/core/LockKeeper.h"
#include "src/Logger.h"

namespace {
std::atomic<int> g_pipe{-1};
std::atomic<Logger*> g_logger{nullptr};

void send(char beat) {
    const int fd = g_pipe.load();
    if (fd < 0) return;
    ssize_t n;
    do n = ::write(fd, &beat, 1);
    while (n < 0 && errno == EINTR);
    // A full pipe (a keeper that does not read) only loses beats; a closed one means no keeper.
    if (n < 0 && errno == EPIPE) {
        if (Logger* l = g_logger.load()) l->log("ERROR: The lock keeper is gone, ending the unlock screen...");
        ::_exit(kStillLocked);
    }
}

class BeatTimer : public wxTimer {
  public:
    void Notify() override { send(lockkeeper::kGuiBeat); }
};
}  // namespace

namespace heartbeat {

void start(Logger* logger) {
    const char* value = std::getenv(lockkeeper::kHeartbeatVariable);
    if (!value || !*value) return;
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    ::unsetenv(lockkeeper::kHeartbeatVariable);  // for this process only, not for what it starts
    if (*end || fd < 0 || ::fcntl(int(fd), F_SETFD, FD_CLOEXEC) != 0) return;
    ::fcntl(int(fd), F_SETFL, ::fcntl(int(fd), F_GETFL) | O_NONBLOCK);
    // A write to a keeper that is gone fails with EPIPE instead of ending the process unseen.
    ::signal(SIGPIPE, SIG_IGN);
    g_logger = logger;
    g_pipe = int(fd);
    // The first beat comes from the running loop: the start-up before it has the keeper's start limit.
    if (wxTheApp) wxTheApp->CallAfter([] { send(lockkeeper::kGuiBeat); });
    (new BeatTimer())->Start(int(lockkeeper::kBeatInterval));
}

void forgetLogger() { g_logger = nullptr; }

void streamStopped() { send(lockkeeper::kStreamStopped); }

void unlocking() { send(lockkeeper::kUnlocking); }

}  // namespace heartbeat

void BeatingDetectionLogic::onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) {
    send(lockkeeper::kFrameBeat);
    DetectionLogic::onFaces(count, faces, frame);
}

void BeatingDetectionLogic::onNoFace() {
    send(lockkeeper::kFrameBeat);
    DetectionLogic::onNoFace();
}

DetectionLogic* BeatingUnlockAttempt::makeDetectionLogic(HWND window) {
    return new BeatingDetectionLogic(window, WM_FACE_DETECTION, 0);
}
