// The lock's guarantees on the real program: the tray instance "Tarvelo", started as a person
// starts it in a home and working folder of its own, locks when a presence check cannot succeed
// (a damaged model, a camera that sends nothing: the check's watchdog ends it). Its unlock screens
// are then killed, crashed, asked to close by another X client, killed through the X server, left
// with their single-instance name taken and without a model: every time the lock stays (a new
// unlock screen within 2 s, the cover up, nothing adapted) until the user's face opens it and the
// tray watches again.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <pwd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include "app/core/Configuration.h"
#include "gui_harness.h"
#include "platform/kernel.h"
#include "test_app.h"
#include "pam_test_service.h"
#include "test_data.h"

// Last: its macros would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int occurrences(const std::string& text, const std::string& line) {
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A user enrolled once from the replay camera: its "~/.Tarvelo" folder, copied into each test's home.
const std::string& enrolledHome() {
    static std::string home;
    static bool tried = false;
    if (tried) return home;
    tried = true;
    TestApp& app = testApp();
    app.reset();
    const std::string savedData = app.dataDir;
    char folder[] = "/tmp/tarvelo-enrolled-XXXXXX";
    if (!mkdtemp(folder)) return home;
    if (guitest::enrollReplayFace(app, folder)) home = folder;
    app.dataDir = savedData;
    app.config.cameraName.clear();
    app.reset();
    return home;
}

class RealTray {
public:
    RealTray() {
        char folder[] = "/tmp/tarvelo-tray-XXXXXX";
        if (mkdtemp(folder)) work = folder;
        bin = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath().ToStdString();
        // The working folder of an installation: models, pictures, reference configuration.
        for (const char* name : {"models", "Tarvelo_Background.png", "Tarvelo.cfg.backup", "Tarvelo_Logo.png"})
            fs::create_symlink(bin + "/" + name, work + "/" + name);
    }
    ~RealTray() {
        stop();
        if (!work.empty()) (void)std::system(("rm -rf '" + work + "'").c_str());
    }

    // The enrolled user's files with the idle delay cut to a second; returns the model's path.
    std::string installUser() {
        fs::copy(enrolledHome() + "/.Tarvelo", work + "/.Tarvelo", fs::copy_options::recursive);
        Configuration config;
        const std::string path = work + "/.Tarvelo/Tarvelo.cfg";
        EXPECT_TRUE(config.load(path));
        config.idleDelay = 1000;
        EXPECT_TRUE(config.save(path));
        for (const auto& entry : fs::recursive_directory_iterator(work + "/.Tarvelo"))
            if (entry.path().string().size() > 11 &&
                entry.path().string().compare(entry.path().string().size() - 11, 11, ".face.model") == 0)
                model = entry.path().string();
        goodModel = slurp(model);
        return model;
    }
#ifdef TARVELO_PAM_WRAPPER_LIBRARY
    // The shipped service under PAM's test wrapper, with this password for this account.
    bool usePassword(const std::string& password) {
        const std::string pam = work + "/pam";
        const std::string account = getpwuid(getuid())->pw_name;
        if (::mkdir(pam.c_str(), 0700) != 0 ||
            pamtest::writeServiceFolder(pam, TARVELO_PAM_SERVICE_FILE, TARVELO_PAM_MODULE_DIR,
                                        account + ":" + password + ":tarvelo\n") != 2)
            return false;
        environment = pamtest::environment(pam, TARVELO_PAM_WRAPPER_LIBRARY);
        return true;
    }
#endif
    void damageModel() { std::ofstream(model, std::ios::binary | std::ios::trunc) << "damaged"; }
    void restoreModel() { std::ofstream(model, std::ios::binary | std::ios::trunc) << goodModel; }

    // The camera of the configuration ("Test Replay"), playing the face video (or another folder)
    // with these options.
    void declareCamera(const std::string& options, const std::string& folder = "") {
        const std::string frames = folder.empty() ? testdata::dataDir() + "/video/00/1" : folder;
        std::ofstream(work + "/cameras.new") << guitest::replayCameraName() << " | " << frames << " | " << options
                                             << "\n";
        fs::rename(work + "/cameras.new", work + "/cameras.txt");
    }

    void start() {
        tray = fork();
        if (tray == 0) {
            if (chdir(work.c_str()) != 0) _exit(126);
            setenv("HOME", work.c_str(), 1);
            setenv("TARVELO_REPLAY_CAMERAS", (work + "/cameras.txt").c_str(), 1);
            setenv("TARVELO_V4L2_DEVICES", "", 1);
            for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            const std::string program = bin + "/Tarvelo";
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        }
    }

    void stop() {
        if (tray <= 0) return;
        const std::vector<pid_t> left = screens();
        kill(tray, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(tray, &status, WNOHANG) == 0; ++i) sleepMs(50);
        if (waitpid(tray, &status, WNOHANG) == 0) {
            kill(tray, SIGKILL);
            waitpid(tray, &status, 0);
        }
        // Unlock screens outlive their tray: end those of this test.
        for (pid_t pid : left) kill(pid, SIGKILL);
        tray = 0;
    }

    bool trayAlive() { return tray > 0 && waitpid(tray, nullptr, WNOHANG) == 0; }

    // The running unlock screens of this tray (its children with "--lock").
    std::vector<pid_t> screens() {
        std::vector<pid_t> found;
        DIR* proc = opendir("/proc");
        if (!proc) return found;
        while (dirent* e = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid <= 0) continue;
            const std::string stat = slurp("/proc/" + std::string(e->d_name) + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(stat.substr(close + 2));
            char state = 0;
            pid_t parent = 0;
            rest >> state >> parent;
            if (parent != tray || state == 'Z') continue;
            const std::string cmdline = slurp("/proc/" + std::string(e->d_name) + "/cmdline");
            if (cmdline.find(std::string("--lock") + '\0') != std::string::npos) found.push_back(pid);
        }
        closedir(proc);
        return found;
    }
    // An unlock screen other than that one, within the time; 0 when none came.
    pid_t waitForScreen(pid_t other, int milliseconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        do {
            for (pid_t pid : screens())
                if (pid != other) return pid;
            sleepMs(20);
        } while (std::chrono::steady_clock::now() < end);
        return 0;
    }
    bool waitForLog(const std::string& file, const std::string& line, int count, int milliseconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        do {
            if (occurrences(slurp(work + "/" + file), line) >= count) return true;
            sleepMs(50);
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    std::string trayLog() { return slurp(work + "/Tarvelo.log"); }
    std::string unlockLog() { return slurp(work + "/Tarvelo_unlock.log"); }

    std::string work, bin, model, goodModel;
    std::vector<std::pair<std::string, std::string>> environment;  // more for the tray and its screens
    pid_t tray = 0;
};

// What another X client sees and does.
class XClient {
public:
    XClient() : display(XOpenDisplay(nullptr)) {}
    ~XClient() {
        if (display) XCloseDisplay(display);
    }
    // The mapped top-level window of that process that takes WM_DELETE_WINDOW; 0 when none.
    Window windowOf(pid_t pid) {
        const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
        Window root = DefaultRootWindow(display), parent = 0, *children = nullptr, found = 0;
        unsigned count = 0;
        if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                                   &after, &data) == Success &&
                data && items == 1 && static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid)
                found = children[i];
            if (data) XFree(data);
        }
        if (children) XFree(children);
        return found;
    }
    Window waitForWindowOf(pid_t pid, int milliseconds) {
        for (int waited = 0; waited < milliseconds; waited += 50) {
            if (Window w = windowOf(pid)) return w;
            sleepMs(50);
        }
        return 0;
    }
    void requestClose(Window window) {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XSync(display, False);
    }
    // What "xdotool windowkill" does: the server drops the window's client.
    void killClient(Window window) {
        XKillClient(display, window);
        XSync(display, False);
    }
    // The top-left corner of the screen is one colour: something covers the root window, whose
    // own background is the server's two-colour weave.
    bool screenCovered() {
        XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, 8, 8, AllPlanes, ZPixmap);
        if (!image) return false;
        const unsigned long first = XGetPixel(image, 0, 0);
        bool uniform = true;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) uniform = uniform && XGetPixel(image, x, y) == first;
        XDestroyImage(image);
        return uniform;
    }
    // Keys typed as the user types them (the screen that holds the keyboard gets them).
    void type(const std::string& text) {
        for (char c : text) press(XKeysymToKeycode(display, XStringToKeysym(std::string(1, c).c_str())));
        press(XKeysymToKeycode(display, XK_Return));
    }
    void press(KeyCode key) {
        XTestFakeKeyEvent(display, key, True, 0);
        XTestFakeKeyEvent(display, key, False, 0);
        XSync(display, False);
        sleepMs(30);
    }
    void forceScreenSaver(bool on) {
        XForceScreenSaver(display, on ? ScreenSaverActive : ScreenSaverReset);
        XSync(display, False);
    }
    Display* display;
};

const char* const kRestarted = "ERROR: The unlock screen ended without authentication, starting it again...";

class LockGuaranteeTest : public testing::Test {
protected:
    void SetUp() override {
        if (guitest::replayCameraName().empty()) GTEST_SKIP() << "no video data for the replay camera";
        if (enrolledHome().empty()) GTEST_SKIP() << "no model could be enrolled from the replay camera";
        ASSERT_TRUE(x.display);
    }
    // After an end that is not an unlock: a new unlock screen within 2 s, the cover up meanwhile,
    // the tray still locked. Returns the new screen.
    pid_t expectStillLocked(pid_t old, int restarts, const char* what) {
        const pid_t next = tray.waitForScreen(old, 2000);
        EXPECT_NE(next, 0) << what << "\n" << tray.trayLog();
        EXPECT_TRUE(x.screenCovered()) << what;
        EXPECT_TRUE(tray.waitForLog("Tarvelo.log", kRestarted, restarts, 2000)) << what;
        const std::string log = tray.trayLog();
        EXPECT_EQ(log.find("Event: Session unlocked"), std::string::npos) << what;
        EXPECT_EQ(log.find("Must perform an adaptation of the user model!"), std::string::npos) << what;
        return next;
    }
    // Types the password into that unlock screen once it takes keys (a Shift until it says so);
    // false when it never did.
    bool typePassword(RealTray& which, pid_t screen, const std::string& password) {
        if (!x.waitForWindowOf(screen, 5000)) return false;
        const int keys = occurrences(which.unlockLog(), "Event: KeyDown");
        bool taken = false;
        for (int i = 0; i < 50 && !taken; ++i) {
            x.press(XKeysymToKeycode(x.display, XK_Shift_L));
            taken = which.waitForLog("Tarvelo_unlock.log", "Event: KeyDown", keys + 1, 200);
        }
        if (taken) x.type(password);
        return taken;
    }
    RealTray tray;
    XClient x;
};

TEST_F(LockGuaranteeTest, DamagedModelLocksAndNoKillCloseSquatOrMissingModelOpensTheLock) {
    tray.installUser();
    tray.damageModel();
    tray.declareCamera("rate=15 sizes=320x240");
    // The unlock screen's single-instance name is taken before the lock starts.
    HANDLE squatter = CreateMutexA(nullptr, TRUE, "Global\\Tarvelo_RunOnceUnlock");
    ASSERT_TRUE(squatter);
    const bool squatted = GetLastError() != ERROR_ALREADY_EXISTS;
    tray.start();

    // The presence check gets no verdict from the damaged model: its watchdog ends it (10 s after
    // the graph started, the idle delay being 1 s) and the session locks. (The wait allows for a
    // loaded machine.)
    pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    const std::string checked = tray.trayLog();
    EXPECT_NE(checked.find("ERROR: The presence check gave no result in time, it failed"), std::string::npos);
    EXPECT_NE(checked.find("Event: The presence check failed"), std::string::npos);
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "Creation of the Unlock dialog...", 1, 5000));
    if (squatted) {
        EXPECT_TRUE(tray.waitForLog("Tarvelo_unlock.log",
                                    "WARNING: Another unlock screen holds the single-instance name, showing this one "
                                    "anyway",
                                    1, 2000));
    }
    ReleaseMutex(squatter);
    CloseHandle(squatter);
    EXPECT_TRUE(x.screenCovered());

    guitest::screenshotScreen("lock_unlock_screen_damaged_model");
    kill(screen, SIGKILL);
    screen = expectStillLocked(screen, 1, "kill -9");
    sleepMs(300);
    kill(screen, SIGSEGV);
    screen = expectStillLocked(screen, 2, "kill -SEGV");

    // A close request from another client is refused; the screen runs on.
    const Window window = x.waitForWindowOf(screen, 5000);
    ASSERT_NE(window, 0u) << "no window of the unlock screen " << screen;
    x.requestClose(window);
    EXPECT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "WARNING: Close request refused, the session stays locked", 1,
                                3000));
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});
    // Dropping its X client ends the process: a new screen comes.
    x.killClient(window);
    screen = expectStillLocked(screen, 3, "X client killed");

    // Without a model the new screen takes the password only, and stays.
    std::remove(tray.model.c_str());
    sleepMs(300);
    kill(screen, SIGKILL);
    screen = expectStillLocked(screen, 4, "missing model");
    EXPECT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "No user model found", 1, 3000));
    sleepMs(1000);
    guitest::screenshotScreen("lock_unlock_screen_without_model");
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});
    guitest::pump(10);

    // With the model back, the next screen knows the face: the lock ends, nothing is adapted, and
    // the tray watches again.
    tray.restoreModel();
    kill(screen, SIGKILL);
    screen = expectStillLocked(screen, 5, "before the face");
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 60000)) << tray.unlockLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "Face authentified, confidence: ", 1, 1000));
    const std::string log = tray.trayLog();
    const size_t unlocked = log.find("Event: Session unlocked");
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "Restoration of the original desktop...", 1, 3000));
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "Starting the idle timer with a delay of 1000ms...",
                                occurrences(log.substr(0, unlocked), "Starting the idle timer with a delay of 1000ms...") + 1,
                                5000));
    EXPECT_EQ(tray.trayLog().find("Must perform an adaptation of the user model!"), std::string::npos);
    EXPECT_EQ(slurp(tray.model), tray.goodModel);
    EXPECT_EQ(occurrences(tray.trayLog(), kRestarted), 5);
    EXPECT_TRUE(tray.trayAlive());
}

TEST_F(LockGuaranteeTest, SilentCameraLocksAndTheTraySurvivesTheScreenSaverBox) {
    tray.installUser();
    tray.declareCamera("rate=15 sizes=320x240 fail=silent");
    tray.start();
    // No frame ever comes: the watchdog fails the check and the session locks.
    pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    EXPECT_NE(tray.trayLog().find("ERROR: The presence check gave no result in time, it failed"), std::string::npos);

    // A killed screen whose successor sees the face: unlocked, and the tray's next check succeeds.
    tray.declareCamera("rate=15 sizes=320x240");
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "Creation of the Unlock dialog...", 1, 5000));
    kill(screen, SIGKILL);
    screen = expectStillLocked(screen, 1, "kill -9");
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 60000)) << tray.unlockLog();
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "Event: The presence check was successful", 1, 30000));

    // The "Screen saver running" box, closed by the user, is the tray's last window: it lives on.
    x.forceScreenSaver(true);
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "WARNING: The screensaver is running, tell the user about it", 1, 30000));
    const Window box = x.waitForWindowOf(tray.tray, 5000);
    ASSERT_NE(box, 0u);
    x.forceScreenSaver(false);
    const int armed = occurrences(tray.trayLog(), "Starting the idle timer with a delay of 1000ms...");
    x.requestClose(box);
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "Starting the idle timer with a delay of 1000ms...", armed + 1, 5000));
    sleepMs(1500);
    EXPECT_TRUE(tray.trayAlive());
    EXPECT_EQ(tray.trayLog().find("Exiting the application..."), std::string::npos);
}

TEST_F(LockGuaranteeTest, TheAccountsPasswordOpensTheLock) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    // The shipped service under PAM's test wrapper, with a password of the test for this account.
    ASSERT_TRUE(tray.usePassword("s3cret"));
    tray.installUser();
    tray.declareCamera("rate=15 sizes=320x240 fail=silent");  // no face can open it
    tray.start();
    const pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "Creation of the Unlock dialog...", 1, 5000));
    ASSERT_TRUE(typePassword(tray, screen, "s3cret")) << tray.unlockLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
    EXPECT_NE(tray.unlockLog().find("The password is valid"), std::string::npos);
    EXPECT_NE(tray.trayLog().find("The unlock screen ended with the status 86"), std::string::npos);
    EXPECT_EQ(tray.trayLog().find(kRestarted), std::string::npos);
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "Starting the idle timer with a delay of 1000ms...", 2, 5000));
#endif
}

TEST_F(LockGuaranteeTest, UnusableCameraLocksAtTheIdleTimeoutAndThePasswordOpens) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    // A camera held by another program, and one whose folder lost its frames after start-up (it is
    // no longer among the devices): the presence check cannot start; a camera that runs but sends
    // nothing: the check gives no verdict. The idle timeout locks all the same, the tray says so
    // once, the screen says why the face cannot open it, and the password does.
    struct Case {
        const char* what;
        const char* options;
        bool frameless;
        const char* trayFailure;
        const char* screenFailure;
        bool checkStarts;
        const char* screenshot;
    };
    for (const Case& c :
         {Case{"busy camera", "rate=15 sizes=320x240 fail=busy", false, "ERROR: Failed to start the graph manager",
               "Failed to start the graph manager", false, "lock_camera_busy"},
          Case{"camera without frames", "rate=15 sizes=320x240", true, "ERROR: Failed to create the graph manager",
               "Failed to create the graph manager", false, "lock_camera_without_frames"},
          Case{"silent camera", "rate=15 sizes=320x240 fail=silent", false,
               "ERROR: The presence check gave no result in time, it failed",
               "ERROR: The verification gave no result in time", true, "lock_camera_silent"}}) {
        RealTray real;
        ASSERT_TRUE(real.usePassword("s3cret"));
        real.installUser();
        real.declareCamera(c.frameless ? "rate=15 sizes=320x240" : c.options);
        real.start();
        if (c.frameless) {
            // Watched once with the frames there; then the folder is empty.
            ASSERT_TRUE(real.waitForLog("Tarvelo.log", "Event: The presence check was successful", 1, 30000))
                << c.what << "\n" << real.trayLog();
            const std::string empty = real.work + "/no-frames";
            ASSERT_EQ(::mkdir(empty.c_str(), 0700), 0);
            real.declareCamera(c.options, empty);
        }
        for (int lock = 1; lock <= 2; ++lock) {
            const pid_t screen = real.waitForScreen(0, 30000);
            ASSERT_NE(screen, 0) << c.what << "\n" << real.trayLog();
            EXPECT_TRUE(x.screenCovered()) << c.what;
            ASSERT_TRUE(real.waitForLog("Tarvelo_unlock.log", "The face cannot open the lock now, password only", lock,
                                        30000))
                << c.what << "\n" << real.unlockLog();
            const std::string tray = real.trayLog();
            EXPECT_GE(occurrences(tray, c.trayFailure), lock) << c.what;
            EXPECT_EQ(occurrences(tray, "ERROR: The presence of the user cannot be checked, locking the session..."),
                      c.checkStarts ? 0 : lock)
                << c.what;
            EXPECT_GE(occurrences(real.unlockLog(), c.screenFailure), lock) << c.what;
            if (lock == 1) guitest::screenshotScreen(c.screenshot);
            ASSERT_TRUE(typePassword(real, screen, "s3cret")) << c.what << "\n" << real.unlockLog();
            ASSERT_TRUE(real.waitForLog("Tarvelo.log", "Event: Session unlocked", lock, 10000))
                << c.what << "\n" << real.unlockLog();
            for (int i = 0; i < 100 && !real.screens().empty(); ++i) sleepMs(50);
        }
        // Told once, though the session locked twice for it.
        EXPECT_EQ(occurrences(real.trayLog(), "WARNING: The camera cannot be used, telling the user"), 1) << c.what;
        EXPECT_EQ(real.trayLog().find(kRestarted), std::string::npos) << c.what;
        EXPECT_TRUE(real.trayAlive()) << c.what;
    }
#endif
}

}  // namespace
