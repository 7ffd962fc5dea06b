#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "app/capture/ApplicationServices.h"
#include "app/capture/CaptureListeners.h"
#include "app/capture/Notifications.h"
#include "app/capture/PresenceChecker.h"
#include "app/capture/PresenceCheckerGraphManager.h"
#include "app/capture/WallClock.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "tests/common/app_fixtures.h"
#include "tests/capture/graph_fixtures.h"
#include "tests/detection/detect_helpers.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/filter/RgbFrame.h"
#include "read_file.h"

using testutil::readFile;

namespace {

std::atomic<int32_t> g_now{1000};
int32_t testClock() { return g_now.load(); }

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The application object as the capture pieces see it.
class FakeApplication : public ApplicationServices {
public:
    Logger* getLogger() override { return &logger; }
    void addPendingCommandEvent(int id) override {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(id);
    }
    std::string userDataDir() override { return dataDir; }
    vision::UserInfo* loadUserInfo(const std::string& prefix) override {
        return hasUser ? new vision::UserInfo(3, "alice", "Alice", "Liddell", 1990, 'F') : nullptr;
    }
    std::string userModelPath() override { return dataDir + "/alice_0003/models/alice.face.model"; }
    CaptureConfiguration captureConfiguration() override { return config; }

    RecordingLogger logger;
    std::mutex mutex;
    std::vector<int> events;
    std::string dataDir;
    bool hasUser = true;
    CaptureConfiguration config;
};

// A registered fake application, a window queue and a clock the test steps.
class Listeners : public CameraEnvironment {
protected:
    void SetUp() override {
        CameraEnvironment::SetUp();
        app.dataDir = dir.path + "/users";
        ::mkdir(app.dataDir.c_str(), 0700);
        setApplication(&app);
        tarvelo::user::createMessageQueue(window);
        g_now = 1000;
        setWallClock(testClock);
    }
    void TearDown() override {
        setWallClock(nullptr);
        tarvelo::user::destroyMessageQueue(window);
        setApplication(nullptr);
        CameraEnvironment::TearDown();
    }
    std::vector<MSG> drain() {
        std::vector<MSG> out;
        MSG msg;
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) out.push_back(msg);
        return out;
    }
    std::string nearMiss(const char* suffix) { return app.dataDir + "/alice_0003/images/lastface" + suffix; }

    FakeApplication app;
    int windowObject = 0;
    HWND window = &windowObject;
};

// A frame and its face, as the verification filter hands them over.
struct VerifiedFrame {
    static const int W = 160, H = 120;
    vision::Sequence gray{1, W * H};
    vision::FaceInfo face;
    VerifiedFrame() {
        for (int i = 0; i < W * H; ++i) gray.frames[0][i] = static_cast<float>((i * 37) % 256);
        face.bbx_x = 40;
        face.bbx_y = 30;
        face.bbx_width = 70;
        face.bbx_height = 80;
        face.left_eye_x = 60;
        face.left_eye_y = 50;
        face.right_eye_x = 93;
        face.right_eye_y = 50;
    }
};

}  // namespace

TEST(Notifications, ScoresInTruncatedThousandths) {
    struct Case {
        float score;
        int32_t expected;
    } cases[] = {{0.4567f, 456}, {-0.0009f, 0}, {-1.2345f, -1234}, {2.0f, 2000}, {0.0f, 0}, {1e30f, INT32_MAX},
                   // The lowest scores stay faces: one above the no-face value.
                   {-2147483.648f, INT32_MIN + 1}, {-1e30f, INT32_MIN + 1}, {-INFINITY, INT32_MIN + 1}};
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<uint32_t>(c.expected), scoreParam(c.score)) << c.score;
    EXPECT_NE(NO_FACE_SCORE, scoreParam(-INFINITY));
}

TEST_F(Listeners, DetectionPostsScoresAndWritesOneRequestedCapture) {
    DetectionLogic logic(window, WM_FACE_DETECTION, WM_FACE_CAPTURED);
    const int W = 8, H = 6;
    std::vector<unsigned char> pixels(static_cast<size_t>(W * 3) * H);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 5);
    vision::RgbFrame frame(pixels.data(), W, H, vision::RgbFrame::RGB24, true);
    vision::FaceInfo face;
    face.bbx_x = 1;
    face.bbx_y = 2;
    face.bbx_width = 4;
    face.bbx_height = 3;
    face.score = -0.4567f;
    face.angle = -22.5f;
    vision::FaceInfo* faces[] = {&face};

    logic.requestCapture(dir.path + "/first");
    logic.requestCapture(dir.path + "/lastface");  // replaces the first prefix
    logic.onNoFace();                              // stays armed without a face
    EXPECT_TRUE(logic.isCaptureRequested());
    logic.onFaces(1, faces, &frame);
    logic.onFaces(1, faces, &frame);
    std::vector<MSG> messages = drain();
    ASSERT_EQ(4u, messages.size());
    EXPECT_EQ(WM_FACE_DETECTION, messages[0].message);
    EXPECT_EQ(NO_FACE_SCORE, messages[0].wParam);
    EXPECT_EQ(static_cast<uint32_t>(-456), messages[1].wParam);
    EXPECT_EQ(WM_FACE_CAPTURED, messages[2].message);
    EXPECT_EQ(0u, messages[2].wParam);
    EXPECT_EQ(WM_FACE_DETECTION, messages[3].message);
    EXPECT_EQ(0, messages[1].lParam);

    EXPECT_FALSE(exists(dir.path + "/first.raw.pgm"));
    vision::ImageGray saved;
    ASSERT_TRUE(saved.tryLoad((dir.path + "/lastface.raw.pgm").c_str()));
    ASSERT_EQ(W, saved.width);
    ASSERT_EQ(H, saved.height);
    std::vector<float> gray(W * H);
    frame.toGrayFloat(gray.data(), false);
    for (int i = 0; i < W * H; ++i) ASSERT_EQ(static_cast<unsigned char>(gray[i]), saved.byte_pixels[i]) << i;
    const std::string info = readFile(dir.path + "/lastface.info.txt");
    EXPECT_NE(std::string::npos, info.find("BBX_X 1\n"));
    EXPECT_NE(std::string::npos, info.find("VIEW -22\n"));
    EXPECT_NE(std::string::npos, info.find("SCORE -0.4567\n"));
}

// A small grey frame with one face.
struct GreyFrameWithFace {
    std::vector<unsigned char> pixels = std::vector<unsigned char>(4 * 4 * 3, 100);
    vision::RgbFrame frame{pixels.data(), 4, 4, vision::RgbFrame::RGB24, true};
    vision::FaceInfo face;
    vision::FaceInfo* faces[1] = {&face};
};

TEST_F(Listeners, CaptureThatCannotBeWrittenIsReportedWithoutEndingTheProgram) {
    DetectionLogic logic(window, WM_FACE_DETECTION, WM_FACE_CAPTURED);
    GreyFrameWithFace f;
    logic.requestCapture(dir.path + "/no/such/folder/lastface");
    logic.onFaces(1, f.faces, &f.frame);
    EXPECT_FALSE(logic.isCaptureRequested());
    std::vector<MSG> messages = drain();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(WM_FACE_DETECTION, messages[0].message);
    EXPECT_EQ(WM_FACE_CAPTURED, messages[1].message);
    EXPECT_EQ(CAPTURE_FAILED, messages[1].wParam);
}

// Asks for another capture while the first one is being written, as the GUI thread may.
class RequestDuringWrite : public DetectionLogic {
public:
    using DetectionLogic::DetectionLogic;
    std::string second;
    std::vector<std::string> written;

protected:
    bool writeCapture(const std::string& prefix, const vision::FaceInfo* face, const vision::RgbFrame* frame) override {
        if (!second.empty()) requestCapture(second);
        second.clear();
        written.push_back(prefix);
        return DetectionLogic::writeCapture(prefix, face, frame);
    }
};

TEST_F(Listeners, CaptureRequestedDuringAWriteIsKeptForTheNextFace) {
    RequestDuringWrite logic(window, WM_FACE_DETECTION, WM_FACE_CAPTURED);
    GreyFrameWithFace f;
    logic.second = dir.path + "/second";
    logic.requestCapture(dir.path + "/first");
    logic.onFaces(1, f.faces, &f.frame);
    EXPECT_TRUE(logic.isCaptureRequested());
    logic.onFaces(1, f.faces, &f.frame);
    EXPECT_FALSE(logic.isCaptureRequested());
    EXPECT_EQ((std::vector<std::string>{dir.path + "/first", dir.path + "/second"}), logic.written);
    EXPECT_TRUE(exists(dir.path + "/second.info.txt"));
    int captured = 0;
    for (const MSG& m : drain())
        if (m.message == WM_FACE_CAPTURED && m.wParam == CAPTURE_WRITTEN) ++captured;
    EXPECT_EQ(2, captured);
}

// The enrollment capture waits for a confident face: a weak detection (often background) is shown on
// the gauge but not captured, and the first face reaching the score is.
TEST_F(Listeners, CaptureWaitsForAFaceThatReachesItsScore) {
    DetectionLogic logic(window, WM_FACE_DETECTION, WM_FACE_CAPTURED);
    GreyFrameWithFace f;
    logic.requestCapture(dir.path + "/lastface", 0.1f);
    f.face.score = 0.0999f;
    logic.onFaces(1, f.faces, &f.frame);
    EXPECT_TRUE(logic.isCaptureRequested());
    EXPECT_FALSE(exists(dir.path + "/lastface.raw.pgm"));
    f.face.score = 0.1f;
    logic.onFaces(1, f.faces, &f.frame);
    EXPECT_FALSE(logic.isCaptureRequested());
    EXPECT_TRUE(exists(dir.path + "/lastface.raw.pgm"));
    std::vector<MSG> messages = drain();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(99u, messages[0].wParam);
    EXPECT_EQ(WM_FACE_DETECTION, messages[1].message);
    EXPECT_EQ(WM_FACE_CAPTURED, messages[2].message);
}

TEST_F(Listeners, VerificationVerdictsAndTheNearMissWindow) {
    VerifiedFrame f;
    VerificationLogic logic(window, WM_VERIFICATION_READY, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
    logic.onReady();
    logic.onRejected(5.0f, &f.gray, f.W, f.H, &f.face);  // no adaptation set: nothing kept
    EXPECT_FALSE(exists(nearMiss(".raw.pgm")));
    logic.onAccepted(0.812f, &f.gray, f.W, f.H, &f.face);
    logic.onNoFace();
    std::vector<MSG> messages = drain();
    ASSERT_EQ(4u, messages.size());
    EXPECT_EQ(WM_VERIFICATION_READY, messages[0].message);
    EXPECT_EQ(WM_FACE_NOT_AUTHENTICATED, messages[1].message);
    EXPECT_EQ(5000u, messages[1].wParam);
    EXPECT_EQ(WM_FACE_AUTHENTICATED, messages[2].message);
    EXPECT_EQ(812u, messages[2].wParam);
    EXPECT_EQ(NO_FACE_SCORE, messages[3].wParam);

    logic.setAdaptation(app.dataDir, "lastface", 0.5f);
    logic.onRejected(0.5f, &f.gray, f.W, f.H, &f.face);  // equal: not kept
    EXPECT_FALSE(exists(nearMiss(".raw.pgm")));
    logic.onRejected(0.5001f, &f.gray, f.W, f.H, &f.face);
    for (const char* suffix : {".raw.pgm", ".info.txt", ".crop.pgm"}) EXPECT_TRUE(exists(nearMiss(suffix))) << suffix;
    EXPECT_EQ(1000, logic.getNearMissTime());

    g_now = 1003;
    logic.onNoFace();
    EXPECT_TRUE(exists(nearMiss(".crop.pgm")));
    g_now = 1004;
    logic.onAccepted(0.9f, &f.gray, f.W, f.H, &f.face);
    for (const char* suffix : {".raw.pgm", ".info.txt", ".crop.pgm"}) EXPECT_FALSE(exists(nearMiss(suffix))) << suffix;
    EXPECT_EQ(0, logic.getNearMissTime());
}

TEST_F(Listeners, EveryVerdictKindPurgesAndANewNearMissRestartsTheWindow) {
    VerifiedFrame f;
    enum Verdict { Accepted, Rejected, NoFace };
    for (Verdict verdict : {Accepted, Rejected, NoFace}) {
        VerificationLogic logic(window, 0, 0, 0);  // posts nothing, still keeps and purges
        logic.setAdaptation(app.dataDir, "lastface", 0.2f);
        g_now = 2000;
        logic.onRejected(0.3f, &f.gray, f.W, f.H, &f.face);
        g_now = 2003;
        logic.onRejected(0.3f, &f.gray, f.W, f.H, &f.face);  // a second near miss: window restarts
        EXPECT_EQ(2003, logic.getNearMissTime());
        g_now = 2006;
        logic.onRejected(0.1f, &f.gray, f.W, f.H, &f.face);
        EXPECT_TRUE(exists(nearMiss(".raw.pgm"))) << verdict;
        g_now = 2007;
        if (verdict == Accepted) logic.onAccepted(0.9f, &f.gray, f.W, f.H, &f.face);
        if (verdict == Rejected) logic.onRejected(0.1f, &f.gray, f.W, f.H, &f.face);
        if (verdict == NoFace) logic.onNoFace();
        EXPECT_FALSE(exists(nearMiss(".raw.pgm"))) << verdict;
    }
    EXPECT_TRUE(drain().empty());

    // A clock that went backwards purges at once.
    VerificationLogic logic(window, 0, 0, 0);
    logic.setAdaptation(app.dataDir, "lastface", 0.2f);
    logic.onRejected(0.3f, &f.gray, f.W, f.H, &f.face);
    g_now = g_now - 1;
    logic.onNoFace();
    EXPECT_FALSE(exists(nearMiss(".raw.pgm")));
}

TEST_F(Listeners, NearMissWithoutIdentityOrApplicationIsSkipped) {
    VerifiedFrame f;
    VerificationLogic logic(window, 0, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
    app.hasUser = false;
    logic.setAdaptation(app.dataDir, "lastface", 0.2f);
    logic.onRejected(0.3f, &f.gray, f.W, f.H, &f.face);
    EXPECT_EQ(0, logic.getNearMissTime());
    app.hasUser = true;
    setApplication(nullptr);
    logic.setAdaptation(app.dataDir, "lastface", 0.2f);
    logic.onRejected(0.3f, &f.gray, f.W, f.H, &f.face);
    EXPECT_EQ(0, logic.getNearMissTime());
    EXPECT_EQ(2u, drain().size());
}

// The streaming thread must not reach the application object (toolkit paths, passwd database):
// the identity record is read once, where the graph is built.
class CountingApplication : public FakeApplication {
public:
    vision::UserInfo* loadUserInfo(const std::string& prefix) override {
        callers.push_back(std::this_thread::get_id());
        return FakeApplication::loadUserInfo(prefix);
    }
    std::vector<std::thread::id> callers;
};

TEST_F(Listeners, NearMissSaveAndPurgeReadTheIdentityOnlyWhereTheGraphIsBuilt) {
    CountingApplication counting;
    counting.dataDir = app.dataDir;
    setApplication(&counting);
    VerifiedFrame f;
    VerificationLogic logic(window, 0, 0, 0);
    logic.setAdaptation(app.dataDir, "lastface", 0.2f);
    std::thread streaming([&] {
        g_now = 3000;
        logic.onRejected(0.3f, &f.gray, f.W, f.H, &f.face);
        EXPECT_TRUE(exists(nearMiss(".raw.pgm")));
        g_now = 3004;
        logic.onNoFace();
        EXPECT_FALSE(exists(nearMiss(".raw.pgm")));
    });
    streaming.join();
    ASSERT_EQ(1u, counting.callers.size());
    EXPECT_EQ(std::this_thread::get_id(), counting.callers[0]);
    setApplication(&app);
}

TEST_F(Listeners, PresenceVerdictIsPostedOnceAfterTheFirstSeconds) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, char>> calls;  // clock offset after onReady, verdict (a/r/n/R = onReady)
        std::vector<int> events;
    } cases[] = {
        {"accepted at once", {{0, 'a'}}, {ID_PRESENCE_OK}},
        {"early rejections ignored", {{0, 'r'}, {3, 'n'}, {3, 'r'}, {4, 'n'}}, {ID_PRESENCE_FAILED}},
        {"acceptance after a failure", {{4, 'r'}, {5, 'a'}}, {ID_PRESENCE_FAILED}},
        {"rejection after an acceptance", {{1, 'a'}, {6, 'r'}, {7, 'a'}}, {ID_PRESENCE_OK}},
        {"one verdict per ready", {{5, 'n'}, {6, 'R'}, {6, 'r'}, {7, 'a'}}, {ID_PRESENCE_FAILED, ID_PRESENCE_OK}},
    };
    for (const Case& c : cases) {
        app.events.clear();
        PresenceChecker checker;
        g_now = 500;
        checker.onReady();
        for (auto [offset, verdict] : c.calls) {
            g_now = 500 + offset;
            if (verdict == 'a') checker.onAccepted(0.9f, nullptr, 0, 0, nullptr);
            if (verdict == 'r') checker.onRejected(0.1f, nullptr, 0, 0, nullptr);
            if (verdict == 'n') checker.onNoFace();
            if (verdict == 'R') checker.onReady();
        }
        EXPECT_EQ(c.events, app.events) << c.name;
    }
    app.logger.clear();
    PresenceChecker checker;
    checker.onReady();
    g_now = g_now + 4;
    checker.onNoFace();
    EXPECT_EQ((std::vector<std::string>{"[PresenceChecker] No presence found", "Notifying the application..."}),
              app.logger.texts());
    EXPECT_EQ(1u, app.logger.lines[1].indent);
}

TEST_F(Listeners, PresenceCheckStartFailures) {
    {
        PresenceChecker checker;
        app.config.cameraName = "";
        EXPECT_FALSE(checker.start());
        EXPECT_EQ((std::vector<std::string>{"Starting the presence checking...", "ERROR: No camera selected"}),
                  app.logger.texts());
        EXPECT_EQ(0u, DirectShowFramework::GraphManager::liveInstances());
        EXPECT_FALSE(tarvelo::com::isInitializedOnThisThread());
    }
    app.logger.clear();
    {
        PresenceChecker checker;
        app.config.cameraName = "Nobody";
        EXPECT_FALSE(checker.start());
        EXPECT_TRUE(app.logger.has("ERROR: Failed to create the graph manager"));
        EXPECT_EQ(nullptr, checker.getGraphManager());
    }
    declare("Busy | " + frames("busy", 320, 240, 2) + " | fail=busy\n");
    app.logger.clear();
    {
        PresenceChecker checker;
        app.config.cameraName = "Busy";
        EXPECT_FALSE(checker.start());
        EXPECT_TRUE(app.logger.has("ERROR: Failed to start the graph manager"));
        EXPECT_EQ(nullptr, checker.getGraphManager());
    }
    EXPECT_EQ(0u, DirectShowFramework::GraphManager::liveInstances());
}

TEST_F(Listeners, PresenceCheckRunsTheConfiguredGraphUntilDeleted) {
    declare("Office | " + frames("office", 320, 240, 2) + "\n");
    vision::FaceTrackingSettings configured(1, 320, 240);
    app.config.cameraName = "Office";
    app.config.detectorModel = "models/none.cascade";
    app.config.worldModel = "models/world.model";
    app.config.badVerificationConfidence = 0.25f;  // the unlock screen's threshold
    app.config.adaptationThreshold = 0.15f;        // the near-miss floor, not the presence check's
    app.config.trackingSettings = &configured;
    auto* checker = new PresenceChecker;
    checker->setTimeLimit(600);
    ASSERT_TRUE(checker->start()) << app.logger.dump();
    ASSERT_NE(nullptr, checker->getGraphManager());
    EXPECT_TRUE(checker->getGraphManager()->isRunning());
    EXPECT_TRUE(app.logger.has("User model:  " + app.userModelPath()));
    EXPECT_TRUE(app.logger.has("World model: models/world.model"));
    EXPECT_TRUE(app.logger.has("Set the authentication threshold to 0.25"));
    EXPECT_TRUE(app.logger.has("Model:      models/none.cascade"));
    EXPECT_EQ(1u, app.logger.lines[1].indent);
    // The verifier has no models and never gets ready: the watchdog ends the check as failed.
    auto posted = [&] {
        std::lock_guard<std::mutex> lock(app.mutex);
        return !app.events.empty();
    };
    EXPECT_TRUE(eventually(posted));
    {
        std::lock_guard<std::mutex> lock(app.mutex);
        EXPECT_EQ(std::vector<int>{ID_PRESENCE_FAILED}, app.events);
    }
    EXPECT_TRUE(app.logger.has("ERROR: The presence check gave no result in time, it failed"));
    app.logger.clear();
    delete checker;
    EXPECT_EQ("Stopping the graph manager", app.logger.lines[0].text);
    EXPECT_EQ(0u, DirectShowFramework::GraphManager::liveInstances());
    EXPECT_EQ(1u, app.events.size());  // one verdict only
}

namespace {

// A diagonal mixture file as the verifier reads it: two Gaussians on the 18 DCT-mod2 inputs,
// log-weights, then per Gaussian its means and variances.
void writeMixture(const std::string& path, float meanShift) {
    const int gaussians = 2, inputs = 18;
    std::vector<float> params(gaussians, std::log(0.5f));
    for (int g = 0; g < gaussians; ++g) {
        for (int j = 0; j < inputs; ++j) params.push_back(meanShift + static_cast<float>((g * 7 + j) % 5) - 2.0f);
        for (int j = 0; j < inputs; ++j) params.push_back(j == 0 ? 4000.0f : 50.0f + 10.0f * static_cast<float>(g));
    }
    vision::DiskXFile file(path.c_str(), "w");
    file.taggedWrite(const_cast<int*>(&gaussians), 4, 1, "n_gaussians");
    file.taggedWrite(const_cast<int*>(&inputs), 4, 1, "n_inputs");
    file.taggedWrite(params.data(), 4, static_cast<int>(params.size()), "PARAMS");
}

}  // namespace

// The whole check through the real graph: faces everywhere (a cascade that takes every window),
// scored against small models; the threshold decides the verdict, and faces below the configured
// detection bar are no faces at all.
TEST_F(Listeners, PresenceCheckThroughTheGraphPostsOneVerdict) {
    declare("Office | " + frames("office", 320, 240, 4) + " | rate=30\n");
    const std::string models = dir.path + "/models";
    ::mkdir(models.c_str(), 0700);
    ::mkdir((app.dataDir + "/alice_0003").c_str(), 0700);
    ::mkdir((app.dataDir + "/alice_0003/models").c_str(), 0700);
    writeMixture(models + "/world.model", 0.0f);
    writeMixture(app.userModelPath(), 1.5f);
    testhelp::writeUniformCascade(models + "/all.cascade", true);
    app.config.cameraName = "Office";
    app.config.detectorModel = models + "/all.cascade";
    app.config.worldModel = models + "/world.model";

    struct Case {
        float threshold;
        float detectionBar;
        int expected;
    } cases[] = {{-1000.0f, 0.0f, ID_PRESENCE_OK},
                 {1000.0f, 0.0f, ID_PRESENCE_FAILED},
                 {-1000.0f, 2000000.0f, ID_PRESENCE_FAILED}};
    for (const Case& c : cases) {
        app.events.clear();
        app.config.badVerificationConfidence = c.threshold;
        app.config.goodDetectionConfidence = c.detectionBar;
        g_now = 1000;
        auto* checker = new PresenceChecker;
        ASSERT_TRUE(checker->start()) << app.logger.dump();
        if (c.expected == ID_PRESENCE_FAILED) {
            // Rejections within the first seconds after the filter became ready are ignored.
            // Frames flow once the detector has built its tracker.
            IFaceDetector* detector = nullptr;
            ASSERT_EQ(S_OK, checker->getGraphManager()->getDetector()->QueryInterface(
                                IID_IFaceDetector, reinterpret_cast<void**>(&detector)));
            EXPECT_TRUE(eventually([&] {
                vision::FaceTrackingSettings* settings = nullptr;
                return SUCCEEDED(detector->GetSettings(&settings)) && settings;
            }));
            detector->Release();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            {
                std::lock_guard<std::mutex> lock(app.mutex);
                EXPECT_TRUE(app.events.empty());
            }
            g_now = 1004;
        }
        auto posted = [&] {
            std::lock_guard<std::mutex> lock(app.mutex);
            return !app.events.empty();
        };
        if (!eventually(posted, 5)) {
            g_now = 2000;  // the filter became ready only after the clock was moved on
            ASSERT_TRUE(eventually(posted)) << c.threshold;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // later frames post nothing more
        delete checker;
        EXPECT_EQ(std::vector<int>{c.expected}, app.events) << c.threshold;
    }
    EXPECT_TRUE(app.logger.has("[PresenceChecker] Presence found, face authentified"));
    EXPECT_TRUE(app.logger.has("[PresenceChecker] Presence found, face not authentified"));
    EXPECT_TRUE(app.logger.has("[PresenceChecker] No presence found"));
}
