#include "app/gui/SessionGuardApp.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "app/capture/Notifications.h"
#include "app/capture/PresenceChecker.h"
#include "app/core/ConfigurationUpgrade.h"
#include "app/core/ModelCheck.h"
#include "app/core/ProductConstants.h"
#include "app/gui/SettingsDialog.h"
#include "app/gui/TarveloUnlockDialog.h"
#include "app/gui/TrayIcon.h"
#include "app/gui/UnlockHeartbeat.h"
#include "app/gui/UnlockThread.h"
#include "platform/kernel.h"
#include "src/Logger.h"


wxBEGIN_EVENT_TABLE(SessionGuardApp, wxApp)
    EVT_TIMER(1, SessionGuardApp::onIdleTimeout)
    EVT_MENU(ID_MODEL_THREAD_DONE, SessionGuardApp::onModelThreadDone)
    EVT_MENU(ID_PRESENCE_OK, SessionGuardApp::onPresenceCheckSucceeded)
    EVT_MENU(ID_PRESENCE_FAILED, SessionGuardApp::onPresenceCheckFailed)
    EVT_MENU(ID_SESSION_UNLOCKED, SessionGuardApp::onSessionUnlocked)
wxEND_EVENT_TABLE()

SessionGuardApp::SessionGuardApp()
    : trayIcon(nullptr), lockMode(false), idleTimer(nullptr), runOnceMutex(nullptr),
      settingsDialog(nullptr), presenceChecker(nullptr), unlockThread(nullptr), fileLogger(nullptr),
      unlockStatus(kStillLocked), session(*this, *this) {
    // Neither instance ends when its last window goes: the tray lives until its menu's Exit, a
    // signal or the session's end (not when the settings dialog or a message box closes), and the
    // unlock screen's loop ends only when the screen is opened (UnlockDialog::unlock).
    SetExitOnFrameDelete(false);
}

SessionGuardApp::~SessionGuardApp() {
    // The release that counts when start-up failed after taking the mutex.
    if (runOnceMutex) ReleaseMutex(runOnceMutex);
    logger = nullptr;
    heartbeat::forgetLogger();
    // An unlock thread still waiting for its keeper (the session ending during a lock) writes to
    // the log until the process ends: the logger stays for it.
    if (!UnlockThread::anyRunning()) delete fileLogger;
    fileLogger = nullptr;
}

void SessionGuardApp::logIndentUp() {
    if (logger) logger->raiseIndent();
}
void SessionGuardApp::logIndentDown() {
    if (logger) logger->lowerIndent();
}

void SessionGuardApp::OnInitCmdLine(wxCmdLineParser& parser) {
    wxApp::OnInitCmdLine(parser);
    parser.AddSwitch("l", "lock", "Display the unlock screen");
    parser.AddSwitch("s", "screensaver", "Indicates that a screensaver is configured, but not active");
}

bool SessionGuardApp::OnCmdLineParsed(wxCmdLineParser& parser) {
    if (parser.Found("l")) lockMode = true;
    if (parser.Found("s")) screenSaverConfigured = true;
    return wxApp::OnCmdLineParsed(parser);
}

namespace {
long long fileSize(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace

bool SessionGuardApp::OnInit() {
    if (!wxApp::OnInit()) return false;

    const char* mutexName = kProductConstants[lockMode ? PC_MUTEX_UNLOCK : PC_MUTEX_TRAY];
    runOnceMutex = CreateMutexA(nullptr, TRUE, mutexName);
    bool nameTaken = false;
    if (!runOnceMutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another instance of this run mode owns the name; it keeps it.
        if (runOnceMutex) CloseHandle(runOnceMutex);
        runOnceMutex = nullptr;
        // The tray instance starts one unlock screen at a time and waits for its end: a name that
        // is held anyway (a stale instance, or anyone else) must not leave the lock without one.
        if (!lockMode) return false;
        nameTaken = true;
    }

    const char* logName = lockMode ? kUnlockLogFile : kTrayLogFile;
    fileLogger = new FileLogger(logName, fileSize(logName) > kLogFileLimit);
    logger = fileLogger;

    log(std::string(68, '*'));
    log("Initializing the application...");
    log(std::string(kProductConstants[PC_TITLE]) + " " + kProductConstants[PC_VERSION]);
    LogIndent indent(logger);  // for the rest of start-up, on every exit path
    log(screenSaverConfigured ? "A screensaver is configured" : "No screensaver configured");
    if (nameTaken) log("WARNING: Another unlock screen holds the single-instance name, showing this one anyway");

    bootstrapConfiguration();
    log("Loading the configuration file of the user...");
    const std::string path = configFilePath();
    if (fileExists(path) && !config.load(path, logger)) {
        if (!lockMode) return false;
        // The session is locked: the screen comes up all the same, with the password only.
        log("ERROR: Failed to load the configuration file of the user, password only...");
        config.cameraName.clear();
    }
    return lockMode ? initUnlockInstance() : initTrayInstance();
}

int SessionGuardApp::OnRun() {
    const int result = wxApp::OnRun();
    return lockMode ? unlockStatus : result;
}

void SessionGuardApp::runRegisterBatch() {
    // The installer's script, when it ships one, once per start.
    if (registerBatchRun || !fileExists(kRegisterBatch)) return;
    registerBatchRun = true;
    (void)std::system((std::string("sh ./") + kRegisterBatch).c_str());
}

void SessionGuardApp::bootstrapConfiguration() {
    // configFilePath() makes the user data folder again each time: clearing the user model may
    // have removed it.
    std::string salvagedCamera;
    if (fileExists(configFilePath())) {
        Configuration scratch;
        log("Checking the configuration file of the user...");
        if (scratch.load(configFilePath(), logger)) {
            std::string notice;
            if (upgradeConfiguration(*this, scratch, &notice)) {
                if (!scratch.save(configFilePath()))
                    log("ERROR: Failed to save the upgraded configuration file of the user");
                runRegisterBatch();
            }
            if (!notice.empty()) pendingNotices.push_back(notice);
        } else {
            // The file goes aside, not away: the user may want what it held. The face model stays.
            const std::string path = configFilePath();
            const std::string aside = path + ".bad";
            log("ERROR: Failed to load the configuration file of the user, moved it to " + aside);
            if (keepAside(path).empty()) DeleteFileA(path.c_str());
            salvagedCamera = scratch.cameraName;  // the camera group comes before the failing one
            keepModelOnCameraChoice = true;
            pendingNotices.push_back("Your settings could not be read: the file was kept as " + aside +
                                     " and the settings shipped with the program are used.");
        }
    }
    const std::string path = configFilePath();
    if (!fileExists(path)) {
        log("Copying the configuration file shipped with the installer into the user folder...");
        CopyFileA(kProductConstants[PC_REFERENCE_CONFIG], path.c_str(), FALSE);
        ::chmod(path.c_str(), 0600);  // the copy keeps the shipped file's mode
        if (!salvagedCamera.empty()) {
            Configuration copied;
            if (copied.load(path, logger)) {
                copied.cameraName = salvagedCamera;
                copied.save(path);
            }
        }
        runRegisterBatch();
    }
}

bool SessionGuardApp::initTrayInstance() {
    log("Creating the Systray icon...");
    trayIcon = new TrayIcon(*this);
    setTrayIcon("systrayDisabled");
    trayIcon->registerSystemHooks();

    screenSaver.disable(logger);
    for (const std::string& notice : pendingNotices)
        showBalloon(kProductConstants[PC_TITLE], wxString::FromUTF8(notice), 10000, NIIF_WARNING);
    pendingNotices.clear();

    if (!fileExists(userInfoFilePath(""))) createUserInfo("None", "None", 2000, true);

    if (session.awaitLockInProgress()) return true;
    if (!cameraReady()) {
        log("WARNING: No camera selected");
        const bool selected = selectDefaultCamera();
        showSettingsDialog(selected ? 0 : 1);
    } else if (!modelReady()) {
        log("WARNING: User model not created");
        showSettingsDialog(0);
    } else {
        startIdleTimer(0);
        setTrayIcon("systray");
    }
    return true;
}

bool SessionGuardApp::initUnlockInstance() {
    heartbeat::start(logger);
    // Without a camera or a model the screen still guards: it takes the password only.
    if (!isReadyToAuthenticate()) log("WARNING: The system isn't ready to authenticate faces, password only...");
    // A near miss belongs to the screen that kept it; one left by an earlier screen is not adapted.
    deleteNearMiss();
    TarveloUnlockDialog* dialog = new TarveloUnlockDialog(*this, nullptr);
    dialog->Show(true);
    SetTopWindow(dialog);
    return true;
}

int SessionGuardApp::OnExit() {
    log("Exiting the application...");
    logIndentUp();
    if (idleTimer) {
        log("Destroying the idle timer...");
        idleTimer->Stop();
        delete idleTimer;
        idleTimer = nullptr;
    }
    if (presenceChecker) {
        log("Destroying the Presence checker...");
        deletePresenceChecker();
    }
    if (trayIcon) {
        log("Destroying the Systray icon...");
        trayIcon->unregisterSystemHooks();
        trayIcon->RemoveIcon();
        delete trayIcon;
        trayIcon = nullptr;
    }
    screenSaver.restore(logger);
    if (runOnceMutex) ReleaseMutex(runOnceMutex);
    logIndentDown();
    return wxApp::OnExit();
}

bool SessionGuardApp::logonUser(const std::string& user, const std::string& domain, const std::string& password,
                                DWORD& error) {
    HANDLE token = nullptr;
    if (LogonUserA(user.c_str(), domain.c_str(), password.c_str(), LOGON32_LOGON_INTERACTIVE,
                   LOGON32_PROVIDER_DEFAULT, &token)) {
        CloseHandle(token);
        error = 0;
        return true;
    }
    error = GetLastError();
    return false;
}

void SessionGuardApp::setTrayIcon(const char* resource) {
    if (trayIcon) trayIcon->setIconResource(resource, kProductConstants[PC_TITLE]);
}

void SessionGuardApp::showBalloon(const wxString& title, const wxString& text, unsigned timeout, int iconFlags) {
    if (trayIcon) trayIcon->showBalloon(title, text, timeout, iconFlags);
}
