// What a user feels: enrolled on the enrollment page, then the unlock screen and the presence check
// run on clips through the program's own capture graphs, listeners and enrollment thread.
//
//   unlock DIR [--config FILE] [--subjects A,B,...] [--frame-time S] [--rate F]
//
// DIR holds DIR/subject/clip/frame*.pgm (any frame size). Every subject with two clips or more is
// enrolled from its first clip as on the enrollment page: the verification graph runs without a
// model, "Enroll model" is clicked a second into the clip and "Update model" at a third and at two
// thirds of it (a click waits for the previous model: the page's button is disabled meanwhile); each
// click arms the detection listener's capture ("GoodDetectionConfidence" or better) and the
// enrollment thread's work builds the model from it. Then every other clip of the subject and every
// clip of every other subject is played through the unlock screen's graph (one-shot, accepted at
// "BadVerificationConfidence") and through the presence checker with its graph (accepted at
// "BadVerificationConfidence" too, failed at the first rejection or empty frame more than three
// seconds after ready), with the model after the first click and after the third. Per clip and model
// it also prints the highest score of the unlock screen's run and whether that face passed the
// verifier's face gate (a detection of "GoodDetectionConfidence" or more, held over two frames). Time is clip time: frame k is
// at k x S seconds (S 0.15: the clips hold every third frame of 20 frames a second). The replay
// camera plays at F frames a second of wall time (default 100) and the graph takes every frame.
//
// --config names the reference configuration (default Tarvelo.cfg.backup of the program's working
// folder, the folder of this program, which is also where the modules and models are found).
// The last line: "genuine unlocks G of N (median T s), impostor unlocks I of M, presence passes P of
// N genuine, Q of M impostor", for the model after the third click.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/init.h>

#include "app/capture/CaptureListeners.h"
#include "app/capture/FaceVerificatorGraphManager.h"
#include "app/capture/Notifications.h"
#include "app/capture/PresenceChecker.h"
#include "app/capture/WallClock.h"
#include "app/core/EnrollmentThread.h"
#include "app/core/SessionGuardCore.h"
#include "app/core/UnlockAttempt.h"
#include "platform/messages.h"
#include "verification/SampleFiles.h"
#include "platform/capture/ReplayCamera.h"
#include "verification/FaceGate.h"
#include "visionlib/filter/FaceInfo.h"

namespace {

// The frame the running graph is at, for the clip clock the listeners and the presence checker read.
std::atomic<long> g_frame{0};
double g_frameTime = 0.15;
// A listener counts its frame before it reads the clock, so frame k reads k x frame time.
int32_t clipClock() {
    const long k = std::max(0L, g_frame.load() - 1);
    return static_cast<int32_t>(std::floor(k * g_frameTime + 1e-9));
}

const HWND kWindow = reinterpret_cast<HWND>(0x5ca1e);

std::vector<std::string> folders(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            struct stat st;
            if (n[0] != '.' && ::stat((dir + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back(n);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string absolute(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

bool copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return static_cast<bool>(out);
}

void waitFor(const std::function<bool()>& done, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// The program's core on a folder of the benchmark's own; command events are recorded.
class BenchCore : public SessionGuardCore {
public:
    std::string dataDir;
    std::atomic<int> lastEvent{0};
    std::string baseUserDataDir() override { return dataDir; }
    void addPendingCommandEvent(int id) override { lastEvent = id; }
};

struct Clip {
    std::string subject, name, camera;
    long frames = 0;
};

// The enrollment page's detection listener, with the user's clicks at given frames. A written capture
// is turned into a model at once by the enrollment thread's work, as the page starts it on
// WM_FACE_CAPTURED; the graph waits meanwhile, which clip time does not see.
class Enrollment : public DetectionLogic {
public:
    Enrollment(BenchCore* core, std::string prefix, std::vector<long> clicks, float minScore, long frames)
        : DetectionLogic(kWindow, WM_FACE_DETECTION, WM_FACE_CAPTURED), core(core), prefix(std::move(prefix)),
          clicks(std::move(clicks)), minScore(minScore), frames(frames) {}

    void onFrame(bool processed) override {
        const long k = g_frame++;
        if (k >= frames) return;
        if (!armed && next < clicks.size() && k >= clicks[next]) {
            requestCapture(prefix, minScore);
            armed = true;
        }
        DetectionLogic::onFrame(processed);
    }
    void onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) override {
        if (g_frame > frames) return;
        DetectionLogic::onFaces(count, faces, frame);
        if (armed && !isCaptureRequested()) {
            armed = false;
            captured.push_back(g_frame - 1);
            EnrollmentThread thread(*core, prefix, core->userModelExists());
            built.push_back(thread.buildModel());
            if (built.back() && next == 0) copyFile(core->userModelPath(), afterFirst);
            ++next;
        }
    }
    bool done() const { return next >= clicks.size() || g_frame >= frames; }

    BenchCore* core;
    std::string prefix, afterFirst;
    std::vector<long> clicks, captured;
    std::vector<bool> built;
    float minScore;
    long frames;
    size_t next = 0;
    bool armed = false;
};

// The unlock screen's detection listener, which follows the frame's faces with the verifier's face
// gate: whether the face the verifier scores next passes it, however the filter is set up.
class GateWatch : public DetectionLogic {
public:
    GateWatch(float minScore) : DetectionLogic(kWindow, WM_FACE_DETECTION, 0) {
        gate.minScore = minScore;
        gate.minFrames = vision::kFaceGateHeldFrames;
    }
    void onFaces(int count, vision::FaceInfo** faces, const vision::RgbFrame* frame) override {
        std::vector<vision::FaceInfo> copies(count);
        for (int i = 0; i < count; i++) copies[i].copyFrom(*faces[i]);
        gated = gate.admit(count, copies.data());
        DetectionLogic::onFaces(count, faces, frame);
    }
    void onNoFace() override {
        gated = gate.admit(0, nullptr);
        DetectionLogic::onNoFace();
    }
    std::atomic<bool> gated{false};

private:
    vision::FaceGate gate;
};

// The unlock screen's verification listener, which also counts the frames of the clip and keeps the
// highest score with whether its face passed the gate.
class Unlock : public VerificationLogic {
public:
    Unlock(HWND window, long frames, const GateWatch* watch)
        : VerificationLogic(window, WM_VERIFICATION_READY, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED),
          frames(frames), watch(watch) {}
    void onAccepted(float score, vision::Sequence* gray, int w, int h, vision::FaceInfo* faces) override {
        if (!count()) return;
        keep(score);
        acceptedAt = g_frame - 1;
        VerificationLogic::onAccepted(score, gray, w, h, faces);
    }
    void onRejected(float score, vision::Sequence* gray, int w, int h, vision::FaceInfo* faces) override {
        if (!count()) return;
        keep(score);
        VerificationLogic::onRejected(score, gray, w, h, faces);
    }
    void onNoFace() override {
        if (count()) VerificationLogic::onNoFace();
    }
    bool done() const { return acceptedAt >= 0 || g_frame >= frames; }
    std::atomic<long> acceptedAt{-1};
    float highest = -INFINITY;
    bool highestGated = false;

private:
    bool count() { return g_frame++ < frames; }
    void keep(float score) {
        if (score <= highest) return;
        highest = score;
        highestGated = watch->gated;
    }
    long frames;
    const GateWatch* watch;
};

// The unlock screen without a window: nothing drawn, no timer, no keyboard.
class BenchScreen : public UnlockScreen {
public:
    HWND messageWindow() override { return kWindow; }
    HWND videoWindowHandle() override { return nullptr; }
    void onVerificationStarted() override {}
    void showMessageText(const std::string&) override {}
    void clearPassword() override {}
    void setMode(int) override {}
    void showDetectionConfidence(int) override {}
    void showVerificationResult(int) override {}
    void refreshGauges() override {}
    void showInvalidPassword(const std::string&, const std::string&) override {}
    void armIdleTimer(unsigned, bool) override {}
    void disarmIdleTimer() override {}
    void restoreScreenSaver() override {}
    void disableScreenSaver() override {}
    bool readIdleClock(DWORD&, DWORD&) override { return false; }
    bool logonUser(const std::string&, const std::string&, const std::string&, DWORD& error) override {
        error = 0;
        return false;
    }
    void unlocked(int) override {}
};

// The unlock screen's attempt, with the benchmark's counting listener.
class BenchAttempt : public UnlockAttempt {
public:
    BenchAttempt(BenchCore& core, BenchScreen& screen, long frames)
        : UnlockAttempt(core, screen), frames(frames), bar(core.config.goodDetectionConfidence) {}
    GateWatch* watch = nullptr;
    Unlock* verification = nullptr;

protected:
    DetectionLogic* makeDetectionLogic(HWND) override { return watch = new GateWatch(bar); }
    VerificationLogic* makeVerificationLogic(HWND window) override {
        return verification = new Unlock(window, frames, watch);
    }

private:
    long frames;
    float bar;
};

// The presence checker, with the frames of the clip counted before its rule reads the clock.
class Presence : public PresenceChecker {
public:
    explicit Presence(long frames) : frames(frames) {}
    void onAccepted(float score, vision::Sequence* gray, int w, int h, vision::FaceInfo* faces) override {
        if (count()) PresenceChecker::onAccepted(score, gray, w, h, faces);
    }
    void onRejected(float score, vision::Sequence* gray, int w, int h, vision::FaceInfo* faces) override {
        if (count()) PresenceChecker::onRejected(score, gray, w, h, faces);
    }
    void onNoFace() override {
        if (count()) PresenceChecker::onNoFace();
    }
    bool verdict() const { return notified; }

private:
    long frames;
    bool count() { return g_frame++ < frames; }
};

struct Scored {
    float highest = -INFINITY;  // the highest score the verifier gave, -inf for none
    bool gated = false;         // whether that face passed the face gate
};

// The unlock screen's attempt on one clip, its notifications handed to it as the screen hands
// them; the frame of the first accepted face when that opened the lock, -1 for none, -2 when the
// graph could not run; the highest score into scored.
long unlockTime(BenchCore& core, const Clip& clip, Scored* scored) {
    g_frame = 0;
    core.config.cameraName = clip.camera;
    tarvelo::user::createMessageQueue(kWindow, nullptr, {WM_FACE_DETECTION});
    BenchScreen screen;
    long at = -1;
    {
        BenchAttempt attempt(core, screen, clip.frames);
        auto drain = [&] {
            MSG message;
            while (!attempt.isUnlocked() && PeekMessageA(&message, kWindow, 0, 0, PM_REMOVE))
                attempt.onMessage(message.message, message.wParam);
        };
        switch (attempt.startVerification()) {
        case UnlockAttempt::Start::Running:
            waitFor([&] {
                drain();
                return attempt.verification->done();
            }, 600);
            if (attempt.getGraphManager()) attempt.getGraphManager()->stop();
            drain();
            at = attempt.isUnlocked() ? attempt.verification->acceptedAt.load() : -1;
            scored->highest = attempt.verification->highest;
            scored->gated = attempt.verification->highestGated;
            break;
        case UnlockAttempt::Start::StartFailed:
            std::fprintf(stderr, "%s: the graph does not start\n", clip.camera.c_str());
            at = -2;
            break;
        default:
            std::fprintf(stderr, "%s: no verification graph\n", clip.camera.c_str());
            at = -2;
        }
        attempt.close();
    }
    tarvelo::user::destroyMessageQueue(kWindow);
    return at;
}

// The presence check on one clip: 1 passed, 0 failed, -1 no verdict before the clip ended, -2 not
// started.
int presence(BenchCore& core, const Clip& clip) {
    g_frame = 0;
    core.lastEvent = 0;
    core.config.cameraName = clip.camera;
    {
        Presence checker(clip.frames);
        if (!checker.start()) {
            std::fprintf(stderr, "%s: the presence check does not start\n", clip.camera.c_str());
            return -2;
        }
        waitFor([&] { return checker.verdict() || g_frame >= clip.frames; }, 600);
    }
    return core.lastEvent == ID_PRESENCE_OK ? 1 : core.lastEvent == ID_PRESENCE_FAILED ? 0 : -1;
}

struct Result {
    long unlock[2] = {-1, -1};  // after the first click, after the third
    int presence[2] = {-1, -1};
    Scored scored[2];
};

// The median in seconds, or "-" for none.
std::string median(std::vector<double> v) {
    if (v.empty()) return "-";
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [--config FILE] [--subjects A,B] [--frame-time S] [--rate F]\n", argv[0]);
        return 2;
    }
    const std::string dir = absolute(argv[1]);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::printf("no folder %s: nothing to measure\n", dir.c_str());
        return 77;
    }
    std::string configPath, only;
    double rate = 100;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--config") configPath = absolute(argv[i + 1]);
        else if (a == "--subjects") only = "," + std::string(argv[i + 1]) + ",";
        else if (a == "--frame-time") g_frameTime = std::atof(argv[i + 1]);
        else if (a == "--rate") rate = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (g_frameTime <= 0 || rate <= 0) {
        std::fprintf(stderr, "--frame-time and --rate must be positive\n");
        return 2;
    }
    // The program's working folder: modules, models and the reference configuration.
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = 0;
        std::string folder(self);
        folder.resize(folder.rfind('/'));
        if (chdir(folder.c_str()) != 0) std::fprintf(stderr, "cannot work in %s\n", folder.c_str());
    }
    if (configPath.empty()) configPath = "Tarvelo.cfg.backup";

    std::vector<std::vector<Clip>> subjects;
    std::ostringstream cameras;
    for (const std::string& s : folders(dir)) {
        if (!only.empty() && only.find("," + s + ",") == std::string::npos) continue;
        std::vector<Clip> clips;
        for (const std::string& c : folders(dir + "/" + s)) {
            Clip clip{s, c, "Clip " + s + "/" + c,
                      static_cast<long>(tarvelo::capture::listFrameFiles(dir + "/" + s + "/" + c).size())};
            if (clip.frames == 0) continue;
            cameras << clip.camera << " | " << dir << "/" << s << "/" << c << " | rate=" << rate << "\n";
            clips.push_back(clip);
        }
        if (!clips.empty()) subjects.push_back(clips);
    }
    char tmpl[] = "/tmp/tarvelo-unlock-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string work = tmpl;
    {
        std::ofstream(work + "/cameras.txt") << cameras.str();
    }
    setenv("TARVELO_REPLAY_CAMERAS", (work + "/cameras.txt").c_str(), 1);
    setenv("TARVELO_V4L2_DEVICES", "", 1);
    setWallClock(clipClock);

    // The configuration file class needs the toolkit's console application.
    wxInitializer toolkit;
    if (!toolkit.IsOk()) {
        std::fprintf(stderr, "the toolkit does not start\n");
        return 1;
    }
    BenchCore core;
    if (!core.config.load(configPath)) {
        std::fprintf(stderr, "cannot load the configuration %s\n", configPath.c_str());
        return 1;
    }
    const Configuration& config = core.config;
    std::printf("# %s, configuration %s: detector %s (threshold %g), world model %s; unlock and presence at %.3f, "
                "near miss above %.3f, capture and face gate at detection %.3f; clip frames %.3f s apart\n",
                dir.c_str(), configPath.c_str(), config.detectorModel.c_str(), (double)config.detectorThreshold,
                config.worldModel.c_str(), (double)config.badVerificationConfidence, (double)config.adaptationThreshold,
                (double)config.goodDetectionConfidence, g_frameTime);
    std::printf("%-8s %-10s %-8s %10s %10s %9s %9s  %s\n", "user", "clip", "kind", "unlock 1", "unlock 3",
                "presence 1", "presence 3", "highest score 1, 3 (face gated or not)");

    std::vector<Result> genuine, impostor;
    int errors = 0;  // clips whose graph could not run: the figures would hide them
    double enrollSeconds = 0;
    int enrollments = 0, usable = 0;
    for (size_t u = 0; u < subjects.size(); u++) {
        const std::vector<Clip>& own = subjects[u];
        if (own.size() < 2) continue;
        ++usable;
        const Clip& first = own[0];
        core.dataDir = work + "/user" + first.subject;
        core.config.cameraName = first.camera;
        if (!core.createUserInfo("Bench", first.subject, 1980, true)) {
            std::fprintf(stderr, "%s: no identity record\n", first.subject.c_str());
            return 1;
        }
        const std::string model = core.userModelPath(), modelFirst = work + "/" + first.subject + ".first.model",
                          modelThird = work + "/" + first.subject + ".third.model";
        const long clickFrames[] = {std::lround(1.0 / g_frameTime), first.frames / 3, 2 * first.frames / 3};
        Enrollment* enrollment =
            new Enrollment(&core, work + "/" + vision::kLastFace, {clickFrames[0], clickFrames[1], clickFrames[2]},
                           config.goodDetectionConfidence, first.frames);
        enrollment->afterFirst = modelFirst;
        VerificationLogic* pageVerification =
            new VerificationLogic(kWindow, 0, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
        g_frame = 0;
        const auto e0 = std::chrono::steady_clock::now();
        {
            FaceVerificatorGraphManager graph(nullptr);
            if (!graph.initialize(first.camera, nullptr, config.getFormatWidth(), config.getFormatHeight(), enrollment,
                                  pageVerification)) {
                std::fprintf(stderr, "%s: no verification graph\n", first.camera.c_str());
                return 1;
            }
            // No model yet, as on the page before its first one.
            graph.setupFilters(FaceVerificatorGraphManager::Use::Enrollment, core.captureConfiguration(), nullptr);
            if (!graph.start()) {
                std::fprintf(stderr, "%s: the graph does not start\n", first.camera.c_str());
                return 1;
            }
            waitFor([&] { return enrollment->done(); }, 600);
            graph.stop();
            graph.destroy();
        }
        enrollSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - e0).count();
        ++enrollments;
        std::string captures;
        for (size_t k = 0; k < enrollment->captured.size(); k++)
            captures += (k ? ", " : "") + std::to_string(enrollment->captured[k]) + (enrollment->built[k] ? "" : " (no model)");
        const bool third = enrollment->captured.size() == 3 && enrollment->built[2];
        if (third) copyFile(model, modelThird);
        std::printf("%-8s enrolled from %s (%ld frames): clicks at frames %ld, %ld, %ld; captured at frames %s\n",
                    first.subject.c_str(), first.name.c_str(), first.frames, clickFrames[0], clickFrames[1],
                    clickFrames[2], captures.empty() ? "none" : captures.c_str());
        const bool haveFirst = !enrollment->captured.empty() && enrollment->built[0];
        DetectionLogic* pageDetection = enrollment;
        deleteListeners(pageDetection, pageVerification, nullptr);

        for (size_t s = 0; s < subjects.size(); s++) {
            for (size_t c = 0; c < subjects[s].size(); c++) {
                if (s == u && c == 0) continue;
                const Clip& probe = subjects[s][c];
                Result r;
                const std::string* models[2] = {haveFirst ? &modelFirst : nullptr, third ? &modelThird : nullptr};
                for (int m = 0; m < 2; m++) {
                    if (!models[m]) continue;
                    copyFile(*models[m], model);
                    r.unlock[m] = unlockTime(core, probe, &r.scored[m]);
                    r.presence[m] = presence(core, probe);
                    errors += r.unlock[m] == -2 || r.presence[m] == -2;
                }
                auto time = [&](long f) {
                    char b[32];
                    if (f == -2) return std::string("error");
                    if (f < 0) return std::string("-");
                    std::snprintf(b, sizeof b, "%.2f s", f * g_frameTime);
                    return std::string(b);
                };
                auto verdict = [](int p) { return p == 1 ? "pass" : p == 0 ? "fail" : p == -1 ? "none" : "error"; };
                auto highest = [](const Scored& v) {
                    char b[48];
                    if (!std::isfinite(v.highest)) return std::string("-");
                    std::snprintf(b, sizeof b, "%.3f (%s)", v.highest, v.gated ? "gated" : "not gated");
                    return std::string(b);
                };
                std::printf("%-8s %-10s %-8s %10s %10s %9s %9s  %s, %s\n", first.subject.c_str(),
                            (probe.subject + "/" + probe.name).c_str(), s == u ? "genuine" : "impostor",
                            time(r.unlock[0]).c_str(), time(r.unlock[1]).c_str(), verdict(r.presence[0]),
                            verdict(r.presence[1]), highest(r.scored[0]).c_str(), highest(r.scored[1]).c_str());
                std::fflush(stdout);
                (s == u ? genuine : impostor).push_back(r);
            }
        }
    }
    setWallClock(nullptr);
    std::string cmd = "rm -rf '" + work + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", work.c_str());
    if (usable == 0) {
        std::fprintf(stderr, "no subject with two clips in %s\n", dir.c_str());
        return 1;
    }

    int G[2] = {0, 0}, I[2] = {0, 0}, P[2] = {0, 0}, Q[2] = {0, 0};
    std::vector<double> times[2];
    for (int m = 0; m < 2; m++) {
        for (const Result& r : genuine) {
            if (r.unlock[m] >= 0) {
                ++G[m];
                times[m].push_back(r.unlock[m] * g_frameTime);
            }
            P[m] += r.presence[m] == 1;
        }
        for (const Result& r : impostor) {
            I[m] += r.unlock[m] >= 0;
            Q[m] += r.presence[m] == 1;
        }
    }
    std::printf("enrollment: %.2f s of wall time per user (the clip played through the graph, three models built)\n",
                enrollSeconds / std::max(1, enrollments));
    const size_t N = genuine.size(), M = impostor.size();
    std::printf("after one click (Enroll model): genuine unlocks %d of %zu (median %s s), impostor unlocks %d of %zu, "
                "presence passes %d of %zu genuine, %d of %zu impostor\n",
                G[0], N, median(times[0]).c_str(), I[0], M, P[0], N, Q[0], M);
    std::printf("genuine unlocks %d of %zu (median %s s), impostor unlocks %d of %zu, presence passes %d of %zu "
                "genuine, %d of %zu impostor\n",
                G[1], N, median(times[1]).c_str(), I[1], M, P[1], N, Q[1], M);
    if (errors) {
        std::fprintf(stderr, "%d clip runs could not build or start their graph\n", errors);
        return 1;
    }
    return 0;
}
