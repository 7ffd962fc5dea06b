// The lock's guarantees on the real program: the tray instance "Tarvelo", started as a person
// starts it in a home and working folder of its own, locks when a presence check cannot succeed
// (a damaged model, a camera that sends nothing: the check's watchdog ends it). Its unlock screens
// are then killed, crashed, asked to close by another X client, killed through the X server, left
// with their single-instance name taken and without a model: every time the lock stays (a new
// unlock screen within 2 s, the cover up, nothing adapted) until the user's face opens it and the
// tray watches again.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <pwd.h>
#include <filesystem>
#include <fstream>
#include <map>
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
#include "jpeg_frames.h"
#include "platform/kernel.h"
#include "test_app.h"
#include "pam_test_service.h"
#include "test_data.h"
#include "read_file.h"

// Last: its macros would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using testutil::readFile;

namespace {

namespace fs = std::filesystem;

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

    // The enrolled user's files with the idle delay cut to a second (or the given one, in ms);
    // returns the model's path.
    std::string installUser(unsigned idleDelay = 1000) {
        fs::copy(enrolledHome() + "/.Tarvelo", work + "/.Tarvelo", fs::copy_options::recursive);
        Configuration config;
        const std::string path = work + "/.Tarvelo/Tarvelo.cfg";
        EXPECT_TRUE(config.load(path));
        config.idleDelay = idleDelay;
        EXPECT_TRUE(config.save(path));
        for (const auto& entry : fs::recursive_directory_iterator(work + "/.Tarvelo"))
            if (entry.path().string().size() > 11 &&
                entry.path().string().compare(entry.path().string().size() - 11, 11, ".face.model") == 0)
                model = entry.path().string();
        goodModel = readFile(model);
        return model;
    }
    void damageModel() { std::ofstream(model, std::ios::binary | std::ios::trunc) << "damaged"; }
    // The first half of the enrolled model, as a write cut short leaves it.
    void truncateModel() { std::ofstream(model, std::ios::binary | std::ios::trunc) << goodModel.substr(0, goodModel.size() / 2); }
    // The installation without its world model: the models folder holds everything else.
    void removeShippedWorldModel() {
        Configuration reference;
        EXPECT_TRUE(reference.load(work + "/Tarvelo.cfg.backup"));
        const std::string world = fs::path(reference.worldModel).filename().string();
        fs::remove(work + "/models");
        fs::create_directory(work + "/models");
        for (const auto& entry : fs::directory_iterator(bin + "/models/"))
            if (entry.path().filename() != world)
                fs::create_symlink(entry.path(), work + "/models/" + entry.path().filename().string());
        EXPECT_FALSE(fs::exists(work + "/" + reference.worldModel));
    }
    // Every file of the user's, with its bytes.
    std::map<std::string, std::string> userFiles() {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(work + "/.Tarvelo"))
            if (entry.is_regular_file()) files[entry.path().string()] = readFile(entry.path().string());
        return files;
    }
#ifdef TARVELO_PAM_WRAPPER_LIBRARY
    // The shipped PAM service under PAM's test wrapper, with that password for this account, for the
    // tray and its unlock screens.
    bool usePasswordCheck(const std::string& password) {
        const std::string pam = work + "/pam";
        if (::mkdir(pam.c_str(), 0700) != 0) return false;
        const std::string account = getpwuid(getuid())->pw_name;
        if (pamtest::writeServiceFolder(pam, TARVELO_PAM_SERVICE_FILE, TARVELO_PAM_MODULE_DIR,
                                        account + ":" + password + ":tarvelo\n") != 2)
            return false;
        environment = pamtest::environment(pam, TARVELO_PAM_WRAPPER_LIBRARY);
        return true;
    }
#endif
    void restoreModel() { std::ofstream(model, std::ios::binary | std::ios::trunc) << goodModel; }

    // The camera of the configuration ("Test Replay"), playing the face video (or the frames of
    // another folder) with these options.
    void declareCamera(const std::string& options, const std::string& folder = "") {
        const std::string video = folder.empty() ? testdata::dataDir() + "/video/00/1" : folder;
        std::ofstream(work + "/cameras.new") << guitest::replayCameraName() << " | " << video << " | " << options
                                             << "\n";
        fs::rename(work + "/cameras.new", work + "/cameras.txt");
    }

    void start() {
        tray = fork();
        if (tray == 0) {
            setpgid(0, 0);  // a group of its own, as a desktop session's programs have
            if (chdir(work.c_str()) != 0) _exit(126);
            setenv("HOME", work.c_str(), 1);
            setenv("TARVELO_REPLAY_CAMERAS", (work + "/cameras.txt").c_str(), 1);
            setenv("TARVELO_V4L2_DEVICES", "", 1);
            for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            // The platform's lines (a camera's dropped frames) from the tray and its screens.
            if (!std::freopen((work + "/stderr.txt").c_str(), "w", stderr)) _exit(126);
            const std::string program = bin + "/Tarvelo";
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        }
    }

    void stop() {
        if (tray > 0) {
            kill(tray, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(tray, &status, WNOHANG) == 0; ++i) sleepMs(50);
            if (waitpid(tray, &status, WNOHANG) == 0) {
                kill(tray, SIGKILL);
                waitpid(tray, &status, 0);
            }
            tray = 0;
        }
        // Keepers and unlock screens outlive their tray: end those of this test, keepers first.
        for (pid_t pid : keepers()) kill(pid, SIGKILL);
        for (pid_t pid : screens()) kill(pid, SIGKILL);
    }

    bool trayAlive() { return tray > 0 && waitpid(tray, nullptr, WNOHANG) == 0; }

    // The running processes of this test (its working folder) with "--lock" on their command line:
    // the lock keepers (their first argument "--desktop") or the unlock screens.
    std::vector<pid_t> processes(bool keeper) {
        std::vector<pid_t> found;
        DIR* proc = opendir("/proc");
        if (!proc) return found;
        while (dirent* e = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid <= 0) continue;
            const std::string dir = "/proc/" + std::string(e->d_name);
            const std::string stat = readFile(dir + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos || stat.compare(close + 2, 1, "Z") == 0) continue;
            std::error_code ignored;
            if (fs::read_symlink(dir + "/cwd", ignored) != work) continue;
            const std::string cmdline = readFile(dir + "/cmdline");
            const size_t first = cmdline.find('\0');
            if (first == std::string::npos || cmdline.find(std::string("\0--lock\0", 8)) == std::string::npos) continue;
            if ((cmdline.compare(first + 1, 10, std::string("--desktop\0", 10)) == 0) == keeper) found.push_back(pid);
        }
        closedir(proc);
        return found;
    }
    // The running unlock screens of this test.
    std::vector<pid_t> screens() { return processes(false); }
    // Its running lock keepers.
    std::vector<pid_t> keepers() { return processes(true); }
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
            if (occurrences(readFile(work + "/" + file), line) >= count) return true;
            sleepMs(50);
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    std::string trayLog() { return readFile(work + "/Tarvelo.log"); }
    std::string unlockLog() { return readFile(work + "/Tarvelo_unlock.log"); }

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
        for (Window w : mappedChildren())
            if (pidOf(w) == pid) return w;
        return 0;
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
    // The lock desktop's cover is mapped, and every window mapped above it is one of those
    // processes' (the unlock screens').
    bool coverOnTop(const std::vector<pid_t>& allowed) {
        bool cover = false, clean = true;
        for (Window w : mappedChildren()) {
            if (isCover(w)) {
                cover = true;
                clean = true;  // what lies below the cover does not count
            } else if (cover && std::find(allowed.begin(), allowed.end(), pidOf(w)) == allowed.end()) {
                clean = false;
            }
        }
        return cover && clean;
    }
    bool coverMapped() {
        for (Window w : mappedChildren())
            if (isCover(w)) return true;
        return false;
    }
    bool isCover(Window window) {
        char* name = nullptr;
        const bool cover = XFetchName(display, window, &name) && name && std::string(name) == "TarveloDesktopCover";
        if (name) XFree(name);
        return cover;
    }
    // The root's mapped children, bottom to top.
    std::vector<Window> mappedChildren() {
        std::vector<Window> mapped;
        Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, root, &root, &parent, &children, &count)) return mapped;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
                mapped.push_back(children[i]);
        }
        if (children) XFree(children);
        return mapped;
    }
    pid_t pidOf(Window window) {
        const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        pid_t pid = 0;
        if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                               &data) == Success &&
            data && items == 1)
            pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return pid;
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
    // Alt+L, as the user presses it.
    void pressAltL() {
        const KeyCode alt = XKeysymToKeycode(display, XK_Alt_L);
        XTestFakeKeyEvent(display, alt, True, 0);
        press(XKeysymToKeycode(display, XK_l));
        XTestFakeKeyEvent(display, alt, False, 0);
        XSync(display, False);
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
    // The shipped PAM service under PAM's test wrapper for the tray and its screens, with the
    // password "s3cret" for this account; false when the wrapper is not installed.
    bool usePassword() {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
        return false;
#else
        return tray.usePasswordCheck("s3cret");
#endif
    }
    // The enrolled user's tray, locked at the idle timeout with a camera that sends nothing (the
    // check's watchdog fails it; no face can open the lock): its first unlock screen, shown, or 0.
    pid_t lockWithoutFace() {
        model = tray.installUser();
        tray.declareCamera("rate=15 sizes=320x240 fail=silent");
        tray.start();
        const pid_t screen = tray.waitForScreen(0, 30000);
        EXPECT_NE(screen, 0) << tray.trayLog();
        if (screen && !x.waitForWindowOf(screen, 10000)) {
            ADD_FAILURE() << "no window of the unlock screen\n" << tray.unlockLog();
            return 0;
        }
        return screen;
    }
    // Whether that tray's unlock screen takes keys: it shows, holds the keyboard, and its loop runs
    // (a Shift until it says so).
    bool takesKeys(RealTray& which, pid_t screen) {
        if (!x.waitForWindowOf(screen, 10000)) return false;
        const int before = occurrences(which.unlockLog(), "Event: KeyDown");
        bool taken = false;
        for (int i = 0; i < 50 && !taken; ++i) {
            x.press(XKeysymToKeycode(x.display, XK_Shift_L));
            taken = which.waitForLog("Tarvelo_unlock.log", "Event: KeyDown", before + 1, 200);
        }
        return taken;
    }
    void waitForKeys(pid_t screen) { ASSERT_TRUE(takesKeys(tray, screen)) << tray.unlockLog(); }
    // Types the password into that unlock screen once it takes keys.
    void typePassword(pid_t screen, const std::string& password = "s3cret") {
        waitForKeys(screen);
        if (!testing::Test::HasFatalFailure()) x.type(password);
    }
    // The same for another tray's screen; false when it never took keys.
    bool typePassword(RealTray& which, pid_t screen, const std::string& password) {
        if (!takesKeys(which, screen)) return false;
        x.type(password);
        return true;
    }
    // A folder of one grey 320x240 frame, where no face can open the lock; its path.
    std::string greyFrames() {
        const std::string frames = tray.work + "/frames";
        EXPECT_EQ(::mkdir(frames.c_str(), 0700), 0);
        std::ofstream(frames + "/f000.pgm", std::ios::binary) << "P5\n320 240\n255\n" << std::string(320 * 240, '\x60');
        return frames;
    }
    // Types the password into that screen as the user would; the lock ends by password.
    void openWithPassword(pid_t screen) {
        typePassword(screen);
        ASSERT_FALSE(testing::Test::HasFatalFailure());
        ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
        EXPECT_NE(tray.unlockLog().find("The password is valid"), std::string::npos);
        EXPECT_NE(tray.trayLog().find("The unlock screen ended with the status 86"), std::string::npos);
    }
    RealTray tray;
    XClient x;
    std::string model;  // the user model's path
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
    EXPECT_EQ(readFile(tray.model), tray.goodModel);
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
    if (!usePassword()) GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
    tray.installUser();
    tray.declareCamera("rate=15 sizes=320x240 fail=silent");  // no face can open it
    tray.start();
    const pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "Creation of the Unlock dialog...", 1, 5000));
    openWithPassword(screen);
    EXPECT_EQ(tray.trayLog().find(kRestarted), std::string::npos);
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "Starting the idle timer with a delay of 1000ms...", 2, 5000));
}

// The tray's end (a kill, a crash, a termination) leaves the lock to its keeper: the cover stays on
// top, a killed unlock screen is back within 2 s, a tray started again waits for the lock instead
// of starting one, and the password ends the lock for it, the near miss adapted as after any
// password unlock.
class TrayEndTest : public LockGuaranteeTest, public testing::WithParamInterface<int> {};

TEST_P(TrayEndTest, TheLockOutlivesItsTray) {
    if (!usePassword()) GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
    pid_t screen = lockWithoutFace();
    ASSERT_NE(screen, 0);
    const std::vector<pid_t> keepers = tray.keepers();
    ASSERT_EQ(keepers.size(), 1u);

    // To the tray's whole group, as a session's end or a terminal's close sends it.
    kill(-tray.tray, GetParam());
    ASSERT_EQ(waitpid(tray.tray, nullptr, 0), tray.tray);
    tray.tray = 0;
    EXPECT_TRUE(x.coverOnTop({screen})) << "tray ended";
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});

    kill(screen, SIGKILL);
    const pid_t old = screen;
    screen = tray.waitForScreen(old, 2000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    EXPECT_TRUE(x.coverOnTop({old, screen})) << "unlock screen killed";
    EXPECT_EQ(tray.keepers(), keepers);

    // A new tray finds the lock and waits for it.
    const int waited = occurrences(tray.trayLog(), "A lock is in progress, waiting for its end...");
    tray.start();
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "A lock is in progress, waiting for its end...", waited + 1, 10000));
    EXPECT_EQ(tray.keepers(), keepers);
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});

    // A near miss of this screen (planted once it showed, past its start-up's clean-up), which only
    // a password unlock adapts.
    ASSERT_NE(x.waitForWindowOf(screen, 10000), 0u) << tray.unlockLog();
    const std::string images = fs::path(model).parent_path().parent_path().string() + "/images";
    fs::create_directories(images);
    std::ofstream(images + "/lastface.raw.pgm", std::ios::binary) << "P5\n2 2\n255\n" << std::string(4, '\x80');
    typePassword(screen);
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
    const std::string log = tray.trayLog();
    EXPECT_NE(log.find("The lock in progress ended with the status 86"), std::string::npos);
    EXPECT_NE(log.find("Must perform an adaptation of the user model!"), std::string::npos);
    EXPECT_FALSE(x.coverMapped());
    EXPECT_TRUE(tray.keepers().empty());
    EXPECT_TRUE(tray.screens().empty());
    EXPECT_TRUE(tray.trayAlive());
}

INSTANTIATE_TEST_SUITE_P(Signals, TrayEndTest, testing::Values(SIGKILL, SIGTERM, SIGSEGV),
                         [](const testing::TestParamInfo<int>& info) { return std::string(sigabbrev_np(info.param)); });

// The keeper killed under a tray that waits for its lock: no status, so that tray locks again with
// a keeper of its own; the dead keeper's screen ends, and the password opens the new lock.
TEST_F(LockGuaranteeTest, AKilledKeeperLeavesTheSessionLocked) {
    if (!usePassword()) GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
    const pid_t first = lockWithoutFace();
    ASSERT_NE(first, 0);
    kill(tray.tray, SIGKILL);
    ASSERT_EQ(waitpid(tray.tray, nullptr, 0), tray.tray);
    tray.start();
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "A lock is in progress, waiting for its end...", 1, 10000));

    const std::vector<pid_t> killed = tray.keepers();
    ASSERT_EQ(killed.size(), 1u);
    kill(killed[0], SIGKILL);
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "The lock in progress ended with the status 1", 1, 5000))
        << tray.trayLog();
    const pid_t screen = tray.waitForScreen(first, 10000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    const std::vector<pid_t> keeper = tray.keepers();
    ASSERT_EQ(keeper.size(), 1u);
    EXPECT_NE(keeper, killed);
    EXPECT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "ERROR: The lock keeper is gone, ending the unlock screen...", 1,
                                3000));
    ASSERT_NE(x.waitForWindowOf(screen, 10000), 0u) << tray.unlockLog();
    EXPECT_TRUE(x.coverOnTop({screen}));
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});
    typePassword(screen);
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
    EXPECT_NE(tray.trayLog().find("The lock keeper ended with the status 86"), std::string::npos);
    EXPECT_FALSE(x.coverMapped());
}

// A stopped unlock screen (as one whose GUI thread is stuck) stops beating: its keeper ends it and
// starts another, the cover held meanwhile, and the password works in the new one.
TEST_F(LockGuaranteeTest, AStoppedUnlockScreenIsReplaced) {
    if (!usePassword()) GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
    const pid_t stopped = lockWithoutFace();
    ASSERT_NE(stopped, 0);
    waitForKeys(stopped);  // past its start-up, which has a longer limit
    ASSERT_FALSE(HasFatalFailure());

    kill(stopped, SIGSTOP);
    // Ended 5 s after its last beat (a second before the stop at most); the wait allows for a
    // loaded machine.
    const pid_t screen = tray.waitForScreen(stopped, 15000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    EXPECT_TRUE(tray.waitForLog("Tarvelo.log", "ERROR: The unlock screen does not answer, ending it...", 1, 1000));
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});
    EXPECT_TRUE(x.coverOnTop({stopped, screen}));
    typePassword(screen);
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
    EXPECT_NE(tray.trayLog().find("The lock keeper ended with the status 86"), std::string::npos);
    EXPECT_FALSE(x.coverMapped());
}

// The shipped world model gone: nothing of the user's is deleted or changed, the tray and the
// unlock screen say what is missing, the user's face (in front of the camera) cannot open the lock,
// and the password does.
TEST_F(LockGuaranteeTest, AMissingWorldModelKeepsTheUsersFilesAndThePasswordOpensTheLock) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    ASSERT_TRUE(tray.usePasswordCheck("s3cret"));
    tray.installUser();
    tray.removeShippedWorldModel();
    const std::map<std::string, std::string> before = tray.userFiles();
    ASSERT_GE(before.size(), 4u) << "model, face list, crops, identity";
    tray.declareCamera("rate=15 sizes=320x240");
    tray.start();
    const pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    const std::string started = tray.trayLog();
    EXPECT_NE(started.find("WARNING: The face verificator world model file don't exist anymore, the user model is kept "
                           "and faces are not checked"),
              std::string::npos)
        << started;
    EXPECT_EQ(started.find("Clear the user model..."), std::string::npos);
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "is missing, faces are not checked", 1, 5000)) << tray.unlockLog();
    EXPECT_EQ(tray.unlockLog().find("Creation of the detection logic..."), std::string::npos) << "no face check runs";
    sleepMs(1000);
    guitest::screenshotScreen("lock_unlock_screen_world_model_missing");
    typePassword(screen, "s3cret");
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
    EXPECT_NE(tray.unlockLog().find("The password is valid"), std::string::npos);
    EXPECT_EQ(tray.userFiles(), before) << "nothing of the user's was deleted or written";
#endif
}

// A model file cut short: the unlock screen says the face cannot open this lock (no face check
// shown as if it ran), the password opens it, and the file stays as it was.
TEST_F(LockGuaranteeTest, ATruncatedModelIsSaidSoAndThePasswordOpensTheLock) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    ASSERT_TRUE(tray.usePasswordCheck("s3cret"));
    tray.installUser();
    tray.truncateModel();
    const std::string truncated = readFile(tray.model);
    tray.declareCamera("rate=15 sizes=320x240");
    tray.start();
    const pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    const std::string unreadable = "ERROR: The user model '" + tray.model + "' cannot be read, faces are not checked";
    EXPECT_NE(tray.trayLog().find(unreadable), std::string::npos) << tray.trayLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", unreadable, 1, 5000)) << tray.unlockLog();
    EXPECT_EQ(tray.unlockLog().find("Creation of the detection logic..."), std::string::npos) << "no face check runs";
    sleepMs(1000);
    guitest::screenshotScreen("lock_unlock_screen_truncated_model");
    typePassword(screen, "s3cret");
    ASSERT_TRUE(tray.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << tray.unlockLog();
    EXPECT_EQ(readFile(tray.model), truncated) << "neither deleted nor adapted";
    EXPECT_FALSE(fs::exists(tray.model + ".bad")) << "kept aside only when a new model is written";
#endif
}

// A camera whose frames declare 65500x65500 (the frame that once ended the program: decoded as
// declared it needs 12.9 GB) while the presence check and then the unlock screen run: each run of
// them is dropped with one line, neither process ends (the screen is never started again), and
// the account's password opens the lock. The replay camera plays JPEG frames through the decoding
// of a webcam's MJPEG stream; one grey frame among them gives the camera its 320x240 size.
TEST_F(LockGuaranteeTest, FramesDeclaringAHugeSizeLeaveTheScreenRunningAndThePasswordOpensTheLock) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    ASSERT_TRUE(tray.usePasswordCheck("s3cret"));
    tray.installUser();
    const std::string frames = greyFrames();
    const std::vector<uint8_t> huge = testutil::hugeDeclaredJpegFrame();
    for (int i = 1; i < 30; ++i)
        std::ofstream(frames + "/f" + std::to_string(100 + i) + ".jpg", std::ios::binary)
            << std::string(huge.begin(), huge.end());
    tray.declareCamera("rate=15", frames);
    tray.start();
    const pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "Creation of the Unlock dialog...", 1, 5000));
    // Two runs of the bad frames go by the screen's camera (the loop lasts 2 s).
    const std::string dropped =
        "camera '" + guitest::replayCameraName() +
        "': dropping damaged frames: the frame declares 65500x65500, the stream is 320x240";
    const int before = occurrences(readFile(tray.work + "/stderr.txt"), dropped);
    EXPECT_TRUE(tray.waitForLog("stderr.txt", dropped, before + 2, 15000)) << readFile(tray.work + "/stderr.txt");
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});
    openWithPassword(screen);
    EXPECT_EQ(tray.trayLog().find(kRestarted), std::string::npos);
    EXPECT_TRUE(tray.trayAlive());
#endif
}

// A camera that goes away while the unlock screen runs (its stream aborts, as an unplugged webcam's
// does): the screen says so and runs on, and the account's password opens the lock.
TEST_F(LockGuaranteeTest, ACameraLostDuringTheLockIsShownAndThePasswordOpensTheLock) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    ASSERT_TRUE(tray.usePasswordCheck("s3cret"));
    tray.installUser();
    // Two seconds of a grey picture, then the camera goes away: the presence check gets no
    // verdict and the session locks; the unlock screen's camera goes the same way.
    tray.declareCamera("rate=15 fail=lost", greyFrames());
    tray.start();
    const pid_t screen = tray.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << tray.trayLog();
    ASSERT_TRUE(tray.waitForLog("Tarvelo_unlock.log", "ERROR: The camera stopped streaming (0X", 1, 20000))
        << tray.unlockLog();
    sleepMs(500);
    guitest::screenshotScreen("lock_unlock_screen_camera_lost");
    EXPECT_EQ(tray.screens(), std::vector<pid_t>{screen});
    openWithPassword(screen);
    EXPECT_EQ(tray.trayLog().find(kRestarted), std::string::npos);
    EXPECT_TRUE(tray.trayAlive());
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
        ASSERT_TRUE(real.usePasswordCheck("s3cret"));
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

TEST_F(LockGuaranteeTest, AltLLocksWithTheCameraGoneAndThePasswordOpens) {
#ifndef TARVELO_PAM_WRAPPER_LIBRARY
    GTEST_SKIP() << "PAM's test wrapper (Debian: libpam-wrapper) is not installed";
#else
    // Alt+L used to refuse to lock once the chosen camera was gone: the user walked away from an
    // open session. The idle delay is long, so that only the hotkey can lock here.
    RealTray real;
    ASSERT_TRUE(real.usePasswordCheck("s3cret"));
    real.installUser(600000);
    real.declareCamera("rate=15 sizes=320x240");
    real.start();
    ASSERT_TRUE(real.waitForLog("Tarvelo.log", "Starting the idle timer with a delay of", 1, 30000)) << real.trayLog();
    // The camera unplugged: no longer among the devices.
    std::ofstream(real.work + "/cameras.new") << "";
    fs::rename(real.work + "/cameras.new", real.work + "/cameras.txt");
    x.pressAltL();
    ASSERT_TRUE(real.waitForLog("Tarvelo.log", "WARNING: The camera isn't available anymore", 1, 10000)) << real.trayLog();
    const pid_t screen = real.waitForScreen(0, 30000);
    ASSERT_NE(screen, 0) << real.trayLog();
    EXPECT_TRUE(x.screenCovered());
    ASSERT_TRUE(real.waitForLog("Tarvelo_unlock.log", "The face cannot open the lock now, password only", 1, 30000))
        << real.unlockLog();
    ASSERT_TRUE(typePassword(real, screen, "s3cret")) << real.unlockLog();
    EXPECT_TRUE(real.waitForLog("Tarvelo.log", "Event: Session unlocked", 1, 10000)) << real.unlockLog();
    EXPECT_TRUE(real.trayAlive());
#endif
}

}  // namespace
