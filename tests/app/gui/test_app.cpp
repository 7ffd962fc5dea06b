#include "test_app.h"

#include <cstdlib>
#include <fstream>
#include <stdlib.h>
#include <sys/stat.h>

#include <wx/app.h>

#include "app/gui/EnrollmentPanel.h"
#include "app/gui/SettingsDialog.h"
#include "gui_harness.h"
#include "test_data.h"

SessionGuardApp& wxGetApp() { return *static_cast<SessionGuardApp*>(wxApp::GetInstance()); }

TestApp& testApp() { return *static_cast<TestApp*>(wxApp::GetInstance()); }

void TestApp::reset() {
    fakeReadiness = true;
    camera = model = true;
    clockReadable = true;
    now = lastInput = 0;
    saverRunning = false;
    saverMessages = presenceStarted = presenceDeleted = unlockStarted = 0;
    presenceStarts = true;
    adaptations.clear();
    adaptationStarts = true;
    lockdownCalls.clear();
    fakeSettings = true;
    settingsResults.clear();
    settingsPages.clear();
    adaptationRunning = false;
    unlockThread = nullptr;
    presenceChecker = nullptr;
    session.reset();
    unlockStatus = kStillLocked;
    duringSaverMessage = nullptr;
    fakeSaverMessage = true;
    if (idleTimer) {
        idleTimer->Stop();
        delete idleTimer;
        idleTimer = nullptr;
    }
    lines.clear();
    logger = &lines;
    logonResult = false;
    logonError = 1326;
    logons = 0;
    settingsDialog = nullptr;
}

bool TestApp::runSettingsDialog(int page, bool& cameraChanged) {
    if (!fakeSettings) return SessionGuardApp::runSettingsDialog(page, cameraChanged);
    settingsPages.push_back(page);
    const size_t pass = settingsPages.size() - 1;
    if (pass >= settingsResults.size()) {
        cameraChanged = false;
        return false;
    }
    cameraChanged = settingsResults[pass].second;
    return settingsResults[pass].first == wxID_OK;
}

extern "C" const char* __lsan_default_suppressions();

namespace guitest {

std::string g_cameraName;

void installTestApp() {
    // A world of its own: user data, registry, and the cameras the tests know.
    char folder[] = "/tmp/tarvelo-gui-XXXXXX";
    const std::string root = mkdtemp(folder) ? folder : "/tmp";
    setenv("TARVELO_REGISTRY_DIR", (root + "/registry").c_str(), 1);
    setenv("TARVELO_V4L2_DEVICES", "", 1);
    const std::string video = testdata::dataDir() + "/video/00/1";
    std::ofstream cameras(root + "/cameras.txt");
    if (testdata::exists(video)) {
        cameras << "Test Replay | " << video << " | rate=15 sizes=320x240\n";
        g_cameraName = "Test Replay";
    }
    // A camera that shows no face, as one with its lens covered.
    const std::string covered = root + "/covered";
    ::mkdir(covered.c_str(), 0700);
    for (const char* frame : {"/frame0.pgm", "/frame1.pgm"})
        std::ofstream(covered + frame, std::ios::binary) << "P5\n320 240\n255\n" << std::string(320 * 240, '\x20');
    cameras << "Test Covered | " << covered << " | rate=15\n";
    cameras.close();
    setenv("TARVELO_REPLAY_CAMERAS", (root + "/cameras.txt").c_str(), 1);
    // The program instances that the tests start keep the toolkit's caches to the end, as this
    // one does: under the leak checker those must not change the exit status that tells how an
    // unlock screen ended.
    {
        std::ofstream(root + "/lsan.supp") << __lsan_default_suppressions();
        const char* options = getenv("LSAN_OPTIONS");
        setenv("LSAN_OPTIONS",
               ((options && *options ? std::string(options) + ":" : std::string()) + "suppressions=" + root +
                "/lsan.supp")
                   .c_str(),
               1);
    }
    TestApp* app = new TestApp;
    app->dataDir = root + "/userdata";
    app->logger = &app->lines;
    wxApp::SetInstance(app);
}

const std::string& replayCameraName() { return g_cameraName; }

const std::string& coveredCameraName() {
    static const std::string name = "Test Covered";
    return name;
}

}  // namespace guitest

namespace guitest {

bool enrollReplayFace(TestApp& app, const std::string& home) {
    app.dataDir = home + "/.Tarvelo";
    // A new user starts from the reference configuration: its thresholds are the ones calibrated for
    // the shipped models (the built-in defaults are not).
    if (!app.config.load(TARVELO_REFERENCE_CONFIG)) return false;
    app.config.cameraName = replayCameraName();
    app.config.version = "1.3";
    if (!app.createUserInfo("None", "None", 2000, true) || !app.config.save(app.configFilePath())) return false;
    SettingsDialog* dialog = new SettingsDialog(app, nullptr, 0);
    dialog->Show();
    app.settingsDialog = dialog;
    const bool logon = app.logonResult;
    app.logonResult = true;
    wxCommandEvent enroll(wxEVT_BUTTON, EnrollmentPanel::ID_ENROLL);
    dialog->enrollmentPage()->onEnrollButton(enroll);
    // Generous: the enrollment thread runs at the lowest priority, and a sanitizer build on a loaded
    // machine takes its time.
    for (int i = 0; i < 2400 && !app.lines.has("Event: Enrollment done"); ++i) pump(50);
    app.settingsDialog = nullptr;
    app.logonResult = logon;
    dialog->Hide();
    delete dialog;
    return fileExists(app.userModelPath());
}

}  // namespace guitest
