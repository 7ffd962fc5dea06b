#include <sys/stat.h>

#include "app/capture/CaptureListeners.h"
#include "app/capture/FaceVerificatorGraphManager.h"
#include "app/capture/Notifications.h"
#include "app/capture/PresenceCheckerGraphManager.h"
#include "app/capture/TestGraphManager.h"
#include "tests/common/app_fixtures.h"
#include "tests/capture/graph_fixtures.h"
#include "tests/detection/detect_helpers.h"
#include "utilityfilters/highlighter/IHighlighting.h"

using DirectShowFramework::GraphManager;

namespace {

bool inRot(const std::string& name) {
    std::vector<std::string> names = tarvelo::graph::runningObjectNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string rotName(GraphManager& manager) {
    char name[64];
    std::snprintf(name, sizeof name, "!FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(static_cast<IUnknown*>(manager.getGraph()))),
                  static_cast<unsigned>(GetCurrentProcessId()));
    return name;
}

// Whether the n-th input of downstream is connected to a pin of upstream.
bool feeds(IBaseFilter* upstream, IBaseFilter* downstream, int input) {
    IPin* in = pinOf(downstream, PINDIR_INPUT, input);
    if (!in) return false;
    IPin* peer = nullptr;
    bool result = false;
    if (in->ConnectedTo(&peer) == S_OK) {
        PIN_INFO info{};
        peer->QueryPinInfo(&info);
        result = info.pFilter == upstream;
        if (info.pFilter) info.pFilter->Release();
        peer->Release();
    }
    in->Release();
    return result;
}

// A cascade that takes every window: faces everywhere.
std::string detect_rig_cascade(const std::string& dir) {
    const std::string path = dir + "/all.cascade";
    testhelp::writeUniformCascade(path, true);
    return path;
}

std::vector<MSG> drain(HWND window) {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) out.push_back(msg);
    return out;
}

}  // namespace

class Graphs : public CameraEnvironment {
protected:
    void SetUp() override {
        CameraEnvironment::SetUp();
        tarvelo::user::createMessageQueue(window);
    }
    void TearDown() override {
        tarvelo::user::destroyMessageQueue(window);
        CameraEnvironment::TearDown();
    }
    int windowObject = 0;
    HWND window = &windowObject;
    RecordingLogger logger;
};

TEST_F(Graphs, VerificationGraphShowsTheCameraAndReportsFacesAndCaptures) {
    declare("Office | " + frames("office", 320, 240, 3) + " | rate=30\n");
    RecordingSink sink;
    tarvelo::graph::registerFrameSink(window, &sink);
    DetectionLogic detection(window, WM_FACE_DETECTION, WM_FACE_CAPTURED);
    VerificationLogic verification(window, WM_VERIFICATION_READY, WM_FACE_AUTHENTICATED, WM_FACE_NOT_AUTHENTICATED);
    std::string rot;
    {
        FaceVerificatorGraphManager manager(&logger);
        EXPECT_EQ("Creation of the FaceVerificator graph manager", logger.lines[0].text);
        for (const char* module : {"Drovane.ax", "Lustrel.ax", "Palomir.ax", "Tamsel.ax"})
            EXPECT_TRUE(logger.has(std::string("Loading the module '") + module + "'...")) << module;

        logger.clear();
        ASSERT_TRUE(manager.initialize("Office", window, 320, 240, &detection, &verification)) << logger.dump();
        EXPECT_EQ("Initialization of the FaceVerificator graph manager...", logger.lines[0].text);
        EXPECT_EQ("Video capture device: 'Office'", logger.lines[1].text);
        EXPECT_EQ("Resolution:           320x240", logger.lines[2].text);
        EXPECT_EQ(1u, logger.lines[2].indent);
        EXPECT_EQ(1u, logger.lines[3].indent);  // every step one level deeper than the first line
        EXPECT_EQ(nullptr, manager.getScaler());
        EXPECT_FALSE(logger.has("Release the resolution of its input pin"));
        EXPECT_FALSE(logger.has("No preview pin, retrieve the capture pin of the video capture device filter"));
        EXPECT_TRUE(logger.has("Connect the face infos tee filter to the face highlighter one (face info stream)"));
        EXPECT_TRUE(feeds(manager.getHighlighter(), manager.getRenderer(), 0));

        rot = rotName(manager);
        EXPECT_TRUE(inRot(rot));
        int32_t w = 0, h = 0;
        ASSERT_TRUE(manager.getVideoSize(w, h));
        EXPECT_EQ(320, w);
        EXPECT_EQ(240, h);
        EXPECT_EQ("Video size: 320x240", logger.lines.back().text);

        TempDir captures;
        manager.setupFaceDetector(1, detect_rig_cascade(captures.path), 0.0f, false);
        EXPECT_TRUE(logger.has("Mode:       Frontal"));
        EXPECT_TRUE(logger.has("Threshold:  0"));
        EXPECT_TRUE(logger.has("Normalized: 0"));
        manager.setAuthenticationThreshold(0.25f);
        EXPECT_EQ("Set the authentication threshold to 0.25", logger.lines.back().text);
        manager.setOneShot(false);
        EXPECT_EQ("Put the verification filter in continuous mode", logger.lines.back().text);

        detection.requestCapture(captures.path + "/lastface");
        ASSERT_TRUE(manager.start());
        std::vector<MSG> messages;
        ASSERT_TRUE(eventually([&] {
            for (const MSG& m : drain(window)) messages.push_back(m);
            return std::any_of(messages.begin(), messages.end(), [](const MSG& m) { return m.message == WM_FACE_CAPTURED; });
        })) << messages.size();
        ASSERT_TRUE(eventually([&] { return sink.count() > 0; }));
        EXPECT_TRUE(manager.stop());
        EXPECT_EQ(WM_FACE_DETECTION, messages.front().message);
        EXPECT_NE(NO_FACE_SCORE, messages.front().wParam);
        EXPECT_EQ(1, std::count_if(messages.begin(), messages.end(), [](const MSG& m) { return m.message == WM_FACE_CAPTURED; }));
        struct stat st;
        EXPECT_EQ(0, ::stat((captures.path + "/lastface.raw.pgm").c_str(), &st));
        EXPECT_EQ(0, ::stat((captures.path + "/lastface.info.txt").c_str(), &st));
        EXPECT_FALSE(detection.isCaptureRequested());
        EXPECT_EQ(320, sink.frames.back().width);
        logger.clear();
        ASSERT_TRUE(manager.start());
    }
    // The destructor stopped the running graph and took it out of the table.
    EXPECT_TRUE(logger.has("Stopping the graph manager"));
    EXPECT_FALSE(inRot(rot));
    EXPECT_EQ(8, logger.count("Remove a filter from the graph")) << logger.dump();  // all but the scaler
    tarvelo::graph::unregisterFrameSink(window);
}

// The enrollment page and the unlock screen set the filters up in their own orders, which the log shows.
TEST_F(Graphs, FilterSetupFollowsTheUseOfTheGraph) {
    declare("Office | " + frames("office", 320, 240, 2) + "\n");
    CaptureConfiguration config;
    config.detectorModel = detect_rig_cascade(dir.path);
    config.worldModel = dir.path + "/world.model";
    config.badVerificationConfidence = 0.35f;
    const std::string userModel = dir.path + "/user.model";
    using Use = FaceVerificatorGraphManager::Use;
    const struct {
        Use use;
        const std::string* model;
        std::vector<std::string> steps;  // the lines at the outer level
    } cases[] = {
        {Use::Enrollment, nullptr,
         {"Retrieving the video size from the graph", "Setup the face detector filter",
          "Set the authentication threshold to 0.35", "Put the verification filter in continuous mode"}},
        {Use::Enrollment, &userModel,
         {"Retrieving the video size from the graph", "Setup the face detector filter",
          "Setup the face verificator filter", "Set the authentication threshold to 0.35",
          "Put the verification filter in continuous mode"}},
        {Use::Unlock, &userModel,
         {"Setup the face detector filter", "Retrieving the video size from the graph",
          "Setup the face verificator filter", "Set the authentication threshold to 0.35"}},
    };
    for (const auto& c : cases) {
        FaceVerificatorGraphManager manager(&logger);
        ASSERT_TRUE(manager.initialize("Office", nullptr, 320, 240, nullptr, nullptr)) << logger.dump();
        logger.clear();
        manager.setupFilters(c.use, config, c.model);
        std::vector<std::string> steps;
        for (const LoggedLine& line : logger.lines)
            if (line.indent == 0) steps.push_back(line.text);
        EXPECT_EQ(c.steps, steps) << logger.dump();
        EXPECT_TRUE(logger.has("Video size: 320x240"));
        EXPECT_EQ(c.model != nullptr, logger.has("User model:  " + userModel));
    }
}

TEST_F(Graphs, CameraOfAnotherSizeIsBridgedByTheScaler) {
    declare("Small | " + frames("small", 160, 120, 2) + " | pins=capture\n");
    FaceVerificatorGraphManager manager(&logger);
    logger.clear();
    ASSERT_TRUE(manager.initialize("Small", nullptr, 320, 240, nullptr, nullptr)) << logger.dump();
    EXPECT_TRUE(logger.has("No preview pin, retrieve the capture pin of the video capture device filter"));
    const int failed = logger.find("ERROR: Failed to connect the filters");
    const int release = logger.find("Release the resolution of its input pin");
    ASSERT_GE(failed, 0);
    EXPECT_GT(release, failed);
    EXPECT_NE(nullptr, manager.getScaler());
    EXPECT_TRUE(feeds(manager.getScaler(), manager.getDetector(), 0));
    int32_t w = 0, h = 0;
    ASSERT_TRUE(manager.getVideoSize(w, h));
    EXPECT_EQ(320, w);
    EXPECT_EQ(240, h);
}

TEST_F(Graphs, NoSizeFixesNothingAndAMissingCameraFailsAfterTheSearch) {
    declare("Small | " + frames("small", 160, 120, 2) + "\n");
    {
        FaceVerificatorGraphManager manager(&logger);
        logger.clear();
        ASSERT_TRUE(manager.initialize("Small", nullptr, 0, 240, nullptr, nullptr));
        EXPECT_FALSE(logger.has("Fix the resolution of its input pin"));
        EXPECT_EQ(nullptr, manager.getScaler());
        int32_t w = 0, h = 0;
        ASSERT_TRUE(manager.getVideoSize(w, h));
        EXPECT_EQ(160, w);
    }
    logger.clear();
    FaceVerificatorGraphManager manager(&logger);
    EXPECT_FALSE(manager.initialize("Nobody", nullptr, 320, 240, nullptr, nullptr));
    EXPECT_TRUE(logger.has("No filter found"));
    EXPECT_EQ("Destruction of the graph manager", logger.lines[logger.find("No filter found") + 1].text);
    EXPECT_EQ(nullptr, manager.getGraph());
}

TEST_F(Graphs, FailureInTheTailTearsDownWhatWasBuilt) {
    declare("Office | " + frames("office", 320, 240, 2) + "\n");
    FaceVerificatorGraphManager manager(&logger);
    // The highlighter's class disappears: its creation fails.
    const std::string module = tarvelo::com::inprocServerPath(CLSID_HighlightingFilter);
    ASSERT_FALSE(module.empty());
    tarvelo::com::unregisterInprocServer(CLSID_HighlightingFilter);
    logger.clear();
    const LONG before = tarvelo::streams::liveObjectCount();
    EXPECT_FALSE(manager.initialize("Office", nullptr, 320, 240, nullptr, nullptr));
    tarvelo::com::registerInprocServer(CLSID_HighlightingFilter, module, "Both");
    const int block = logger.find("ERROR: Failed to create the face highlighter filter");
    ASSERT_GE(block, 0) << logger.dump();
    EXPECT_EQ("Error code: " + DirectShowFramework::hresultToString(REGDB_E_CLASSNOTREG), logger.lines[block + 1].text);
    EXPECT_EQ("Method:     FaceVerificatorGraphManager::initialize", logger.lines[block + 2].text);
    EXPECT_EQ("File:       .\\app\\FaceVerificatorGraphManager.cpp", logger.lines[block + 3].text);
    // face infos tee, video tee, detector, smart tee, camera
    EXPECT_EQ(5, logger.count("Remove a filter from the graph"));
    EXPECT_EQ(nullptr, manager.getGraph());
    EXPECT_EQ(nullptr, manager.getDetector());
    EXPECT_EQ(before, tarvelo::streams::liveObjectCount());
}

TEST_F(Graphs, BusyCameraFailsTheStart) {
    declare("Busy | " + frames("busy", 320, 240, 2) + " | fail=busy\n");
    PresenceCheckerGraphManager manager(&logger);
    ASSERT_TRUE(manager.initialize("Busy", 320, 240, nullptr, nullptr));
    logger.clear();
    EXPECT_FALSE(manager.start());
    EXPECT_EQ("Starting the graph manager", logger.lines[0].text);
    EXPECT_EQ("ERROR: Failed to start the graph", logger.lines[1].text);
    EXPECT_EQ(0u, logger.lines[2].text.rfind("Error code: 0X8", 0));
    EXPECT_EQ("Method:     DirectShowFramework::GraphManager::start", logger.lines[3].text);
    EXPECT_EQ(2u, logger.lines[2].indent);
    EXPECT_FALSE(manager.isRunning());
}

TEST_F(Graphs, PresenceGraphFeedsBothDetectorStreamsToTheVerificator) {
    declare("Office | " + frames("office", 320, 240, 2) + "\n");
    PresenceCheckerGraphManager manager(&logger);
    EXPECT_EQ("Creation of the PresenceChecker graph manager", logger.lines[0].text);
    EXPECT_FALSE(logger.has("Loading the module 'Lustrel.ax'..."));
    logger.clear();
    ASSERT_TRUE(manager.initialize("Office", 320, 240, nullptr, nullptr)) << logger.dump();
    EXPECT_EQ("Initialization of the PresenceChecker graph manager...", logger.lines[0].text);
    EXPECT_TRUE(feeds(manager.getDetector(), manager.getVerificator(), 0));
    EXPECT_TRUE(feeds(manager.getDetector(), manager.getVerificator(), 1));
    EXPECT_TRUE(feeds(manager.getSmartTee(), manager.getDetector(), 0));
    EXPECT_TRUE(inRot(rotName(manager)));
    ASSERT_TRUE(manager.start());
    EXPECT_TRUE(manager.stop());
}

TEST_F(Graphs, ResolutionTestDirectThroughTheScalerOrNotAtAll) {
    declare("Office | " + frames("office", 320, 240, 2) + " | sizes=640x480\n");
    TestGraphManager manager(&logger);
    EXPECT_EQ("Creation of the TestGraphManager", logger.lines[0].text);

    logger.clear();
    EXPECT_TRUE(manager.testResolution("Office", 0, 0));
    EXPECT_EQ("Test if the resolution 0x0 is supported by the video capture device 'Office'", logger.lines[0].text);
    EXPECT_FALSE(logger.has("Create the face detector filter"));
    EXPECT_TRUE(logger.has("Destruction of the graph manager"));
    EXPECT_EQ("The resolution is supported", logger.lines.back().text);
    EXPECT_EQ(1u, logger.lines.back().indent);

    for (auto size : {std::make_pair(320u, 240u), std::make_pair(640u, 480u)}) {
        logger.clear();
        EXPECT_TRUE(manager.testResolution("Office", size.first, size.second)) << logger.dump();
        EXPECT_FALSE(logger.has("Create the image scaler filter"));
        EXPECT_TRUE(logger.has("Attempt to fix the resolution of the input pin of the face detector filter"));
        EXPECT_EQ(nullptr, manager.getGraph());
    }

    logger.clear();
    EXPECT_TRUE(manager.testResolution("Office", 480, 360)) << logger.dump();
    EXPECT_LT(logger.find("ERROR: Failed to connect the filters"), logger.find("Create the image scaler filter"));
    EXPECT_TRUE(logger.has("Connect the image scaler filter to the face detector one"));
    EXPECT_EQ("The resolution is supported", logger.lines.back().text);

    logger.clear();
    EXPECT_FALSE(manager.testResolution("Lobby", 320, 240));
    EXPECT_TRUE(logger.has("No filter found"));
    EXPECT_FALSE(logger.has("The resolution is supported"));
}
