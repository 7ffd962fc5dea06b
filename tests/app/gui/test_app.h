#pragma once
// The application object of the GUI tests: the real SessionGuardApp with its start-up skipped and
// the outside world of the session control replaced by switches and records, a logger that keeps
// its lines, and a user data folder of its own.
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/gui/SessionGuardApp.h"
#include "src/Logger.h"

class LineLogger : public Logger {
public:
    void log(const std::string& line) override {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(std::string(indent.load() * 4, ' ') + line);
    }
    // Lines without their indent.
    std::vector<std::string> plain() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> out;
        for (const std::string& l : lines) out.push_back(l.substr(l.find_first_not_of(' ')));
        return out;
    }
    bool has(const std::string& line) {
        for (const std::string& l : plain())
            if (l == line) return true;
        return false;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(lock);
        lines.clear();
    }
    std::mutex lock;
    std::vector<std::string> lines;
};

class TestApp : public SessionGuardApp {
public:
    bool OnInit() override { return true; }  // the tests drive the pieces themselves
    int OnExit() override { return 0; }

    // Puts every switch back and empties the records.
    void reset();

    bool fakeReadiness = true;  // false: the real camera and model tests
    bool camera = true;
    bool model = true;
    bool clockReadable = true;
    DWORD now = 0;
    DWORD lastInput = 0;
    bool saverRunning = false;
    int saverMessages = 0;
    std::function<void()> duringSaverMessage;  // what arrives while the box is up
    bool fakeSaverMessage = true;              // false: the real message box
    bool presenceStarts = true;
    int presenceStarted = 0;
    int presenceDeleted = 0;
    int unlockStarted = 0;
    std::vector<std::string> adaptations;
    bool adaptationStarts = true;
    std::vector<bool> lockdownCalls;  // true: locked down
    bool fakeSettings = true;
    std::vector<std::pair<int, bool>> settingsResults;  // result and camera change, one per pass
    std::vector<int> settingsPages;
    std::string dataDir;
    LineLogger lines;
    bool logonResult = false;
    DWORD logonError = 1326;
    int logons = 0;

    bool logonUser(const std::string&, const std::string&, const std::string&, DWORD& error) override {
        ++logons;
        error = logonError;
        return logonResult;
    }

protected:
    std::string baseUserDataDir() override { return dataDir; }
    bool cameraChosen() override { return fakeReadiness ? camera : SessionGuardApp::cameraChosen(); }
    bool cameraReady() override { return fakeReadiness ? camera : SessionGuardApp::cameraReady(); }
    bool modelReady() override { return fakeReadiness ? model : SessionGuardApp::modelReady(); }
    bool readIdleClock(DWORD& n, DWORD& last) override {
        n = now;
        last = lastInput;
        return clockReadable;
    }
    bool screenSaverRunning() override { return saverRunning; }
    void showScreenSaverMessage() override {
        ++saverMessages;
        if (!fakeSaverMessage) return SessionGuardApp::showScreenSaverMessage();
        if (duringSaverMessage) duringSaverMessage();
    }
    bool startPresenceChecker() override {
        ++presenceStarted;
        return presenceStarts;
    }
    void deletePresenceChecker() override { ++presenceDeleted; }
    bool presenceCheckTimedOut() override { return false; }
    void startUnlockScreen() override { ++unlockStarted; }
    bool startAdaptation(const std::string& prefix) override {
        adaptations.push_back(prefix);
        return adaptationStarts;
    }
    void setTaskLockdown(bool locked) override { lockdownCalls.push_back(locked); }
    bool runSettingsDialog(int page, bool& cameraChanged) override;
};

TestApp& testApp();

namespace guitest {
// Points the application's user files at <home>/.Tarvelo, where a program started with that HOME
// finds them, writes the identity record and a configuration with the replay camera, and enrolls
// a model from the replay camera through the settings dialog as the user does. False (with the
// files in whatever state) when no model came out.
bool enrollReplayFace(TestApp& app, const std::string& home);
}  // namespace guitest
