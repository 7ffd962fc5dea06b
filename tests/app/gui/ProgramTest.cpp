// The program itself, started as a person starts it: the single-instance rule, the log file's size
// limit and the unlock-screen instance that refuses to start on a system that is not ready.
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <csignal>
#include <pwd.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include "platform/kernel.h"
#include "private_display.h"
#include "read_file.h"

using testutil::readFile;

namespace {

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tarvelo-program-XXXXXX";
        ASSERT_TRUE(mkdtemp(folder));
        work = folder;
        const std::string bin = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath().ToStdString();
        program = bin + "/Tarvelo";
        std::ofstream(work + "/Tarvelo.cfg.backup") << readFile(bin + "/Tarvelo.cfg.backup");
    }
    void TearDown() override { (void)std::system(("rm -rf '" + work + "'").c_str()); }

    // Runs the program in the working folder with its own home; returns its exit status.
    int run(const std::vector<std::string>& args) {
        const pid_t child = start(args);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Starts the unlock screen, which does not end by itself, and ends it once its log shows that
    // it came up (the line `until`, on a loaded machine it may come late); returns that log. Its
    // standard error goes to errors, when given.
    std::string runUnlockScreen(const std::string& errors = "",
                                const std::string& until = "Creation of the Unlock dialog...") {
        const pid_t child = start({"--lock"}, errors);
        std::string log;
        for (int i = 0; i < 200 && log.find(until) == std::string::npos; ++i) {
            usleep(50000);
            log = readFile(work + "/Tarvelo_unlock.log");
        }
        usleep(300000);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the unlock screen ended by itself";
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return readFile(work + "/Tarvelo_unlock.log");
    }
    pid_t start(const std::vector<std::string>& args, const std::string& errors = "") {
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(work.c_str()) != 0) _exit(126);
            if (!errors.empty()) {
                const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (fd >= 0) dup2(fd, 2);
            }
            setenv("HOME", work.c_str(), 1);
            setenv("TARVELO_REPLAY_CAMERAS", "/nonexistent", 1);  // no camera at all
            setenv("TARVELO_V4L2_DEVICES", "", 1);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        return child;
    }
    std::string work;
    std::string program;
};

TEST_F(ProgramTest, UnlockScreenOfAnUnreadySystemTakesThePasswordAfterTheConfigurationBootstrap) {
    const std::string log = runUnlockScreen("", "No webcam selected or found");
    EXPECT_NE(log.find(std::string(68, '*') + "\n"), std::string::npos);
    EXPECT_NE(log.find("Tarvelo v1.3.0"), std::string::npos);
    EXPECT_NE(log.find("Copying the configuration file shipped with the installer into the user folder..."),
              std::string::npos);
    EXPECT_NE(log.find("WARNING: The system isn't ready to authenticate faces, password only..."), std::string::npos);
    EXPECT_NE(log.find("No webcam selected or found"), std::string::npos);
    EXPECT_EQ(log.find("Closing the Unlock dialog..."), std::string::npos);
    struct stat st;
    EXPECT_EQ(::stat((work + "/.Tarvelo/Tarvelo.cfg").c_str(), &st), 0);  // the reference was copied
    EXPECT_NE(::stat((work + "/Tarvelo.log").c_str(), &st), 0);           // the tray log is untouched
}

TEST_F(ProgramTest, LogFileIsAppendedUpToOneMebibyteAndEmptiedAbove) {
    for (const long size : {1048576L, 1048577L}) {
        {
            std::ofstream old(work + "/Tarvelo_unlock.log", std::ios::binary | std::ios::trunc);
            old << std::string(static_cast<size_t>(size), 'x');
        }
        const std::string log = runUnlockScreen();
        if (size == 1048576L) {
            EXPECT_GT(log.size(), 1048576u);
            EXPECT_EQ(log.compare(0, 10, "xxxxxxxxxx"), 0);
        } else {
            EXPECT_LT(log.size(), 100000u);
            EXPECT_EQ(log.compare(0, 68, std::string(68, '*')), 0);
        }
    }
}

TEST_F(ProgramTest, SecondTrayInstanceEndsWithoutALogLineButAnUnlockScreenShowsAnyway) {
    HANDLE held = CreateMutexA(nullptr, TRUE, "Global\\Tarvelo_RunOnce");
    ASSERT_TRUE(held);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(held);
        GTEST_SKIP() << "a tray instance runs on this machine";
    }
    EXPECT_NE(run({}), 0);
    struct stat st;
    EXPECT_NE(::stat((work + "/Tarvelo.log").c_str(), &st), 0);
    ReleaseMutex(held);
    CloseHandle(held);

    // The unlock screen's name held by someone else must not leave a lock without a screen.
    held = CreateMutexA(nullptr, TRUE, "Global\\Tarvelo_RunOnceUnlock");
    ASSERT_TRUE(held);
    const std::string log = runUnlockScreen();
    EXPECT_NE(log.find("WARNING: Another unlock screen holds the single-instance name, showing this one anyway"),
              std::string::npos);
    EXPECT_NE(log.find("Creation of the Unlock dialog..."), std::string::npos);
    ReleaseMutex(held);
    CloseHandle(held);
}

TEST_F(ProgramTest, TrayInstanceWithoutReferenceOrCameraStartsOnTheDefaultsAndOpensTheParameters) {
    std::remove((work + "/Tarvelo.cfg.backup").c_str());
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(work.c_str()) != 0) _exit(126);
        setenv("HOME", work.c_str(), 1);
        setenv("TARVELO_REPLAY_CAMERAS", "/nonexistent", 1);
        setenv("TARVELO_V4L2_DEVICES", "", 1);
        execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    // The settings dialog runs modally inside start-up: wait for it, then end the program.
    std::string log;
    for (int i = 0; i < 200 && log.find("Creating the 'Parameters' panel...") == std::string::npos; ++i) {
        usleep(50000);
        log = readFile(work + "/Tarvelo.log");
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_NE(log.find("Copying the configuration file shipped with the installer into the user folder..."),
              std::string::npos);
    EXPECT_NE(log.find("Creating the Systray icon..."), std::string::npos);
    EXPECT_NE(log.find("WARNING: No camera selected"), std::string::npos);
    EXPECT_NE(log.find("Selecting the default camera..."), std::string::npos);
    EXPECT_EQ(log.find("Default camera selected"), std::string::npos);
    EXPECT_NE(log.find("Displaying 'Settings' dialog..."), std::string::npos);
    // The enrollment page started first (no camera name), then the parameters page was chosen.
    EXPECT_NE(log.find("No webcam selected or found"), std::string::npos);
    EXPECT_NE(log.find("Creating the 'Parameters' panel..."), std::string::npos);
    // The identity record and its twin were created for the account.
    std::string user = getpwuid(getuid())->pw_name;
    for (char& c : user)
        if (c == ' ') c = '_';
    struct stat st;
    EXPECT_EQ(::stat((work + "/.Tarvelo/" + user + ".userinfo.txt").c_str(), &st), 0);
    EXPECT_EQ(::stat((work + "/.Tarvelo/access-" + user + ".userinfo.txt").c_str(), &st), 0);
}

TEST_F(ProgramTest, UnknownSwitchIsRefusedByTheParser) {
    EXPECT_NE(run({"--no-such-switch"}), 0);
    struct stat st;
    EXPECT_NE(::stat((work + "/Tarvelo.log").c_str(), &st), 0);
}

// A user who has used the program before: settings, identity record and face model in place.
class ReturningUser : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        const std::string bin = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath().ToStdString();
        ASSERT_EQ(symlink((bin + "/models").c_str(), (work + "/models").c_str()), 0);
        data = work + "/.Tarvelo";
        ::mkdir(data.c_str(), 0700);
        user = getpwuid(getuid())->pw_name;
        for (char& c : user)
            if (c == ' ') c = '_';
        std::ofstream(data + "/" + user + ".userinfo.txt")
            << "USERID 5000\nMAXSTRINGSIZE 20\nUSERNAME " << user << "\nFIRSTNAME None\nLASTNAME None\nBYEAR 2000\nGENDER M\n";
        userFolder = data + "/" + user + "_5000";
        ::mkdir(userFolder.c_str(), 0700);
        ::mkdir((userFolder + "/models").c_str(), 0700);
        model = userFolder + "/models/" + user + ".face.model";
        std::ofstream(model) << "the user's model";
    }
    void writeConfig(const std::string& version, const std::string& detectorType) {
        std::ofstream(data + "/Tarvelo.cfg")
            << "[Application]\nVersion=" << version << "\nIdleDelay=123\nNextUserID=5001\n[Verification]\n"
            << "WorldModel=models/world6-64x80-dctmod2-gmm.model\n[Camera]\nName=Old Camera\n"
            << "[FaceDetector]\nType=" << detectorType << "\nModel=models/mct4.cascade\n";
    }
    // A script that notes each run in the working folder.
    void writeRegisterBatch() { std::ofstream(work + "/register.bat") << "echo ran >> register.runs\n"; }
    std::string data, user, userFolder, model;
};

TEST_F(ReturningUser, StartUpAfterAnUpgradeKeepsTheSettingsAndRunsTheScriptOnce) {
    writeConfig("1.2", "Frontal");
    writeRegisterBatch();
    const std::string log = runUnlockScreen();
    EXPECT_NE(log.find("Upgrading from version 1.2 to 1.3..."), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR: Failed to save the upgraded configuration file of the user"), std::string::npos);
    const std::string config = readFile(data + "/Tarvelo.cfg");
    EXPECT_NE(config.find("Version=1.3"), std::string::npos) << config;
    EXPECT_NE(config.find("IdleDelay=123"), std::string::npos) << "the user's settings stay";
    EXPECT_NE(config.find("Name=Old Camera"), std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat((data + "/Tarvelo.cfg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(::stat(userFolder.c_str(), &st), 0) << "an upgrade clears the user model";
    EXPECT_EQ(readFile(work + "/register.runs"), "ran\n");
    // The next start finds nothing to upgrade.
    runUnlockScreen();
    EXPECT_EQ(readFile(work + "/register.runs"), "ran\n");
}

TEST_F(ReturningUser, CopiedReferenceIsPrivateAndAMissingScriptIsNotRun) {
    ::rmdir(data.c_str());  // nothing of the user's yet
    (void)std::system(("rm -rf '" + data + "'").c_str());
    runUnlockScreen(work + "/errors.txt");
    struct stat st;
    ASSERT_EQ(::stat((data + "/Tarvelo.cfg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the shipped file's mode is not the user's file's";
    EXPECT_EQ(readFile(work + "/errors.txt").find("register.bat"), std::string::npos) << readFile(work + "/errors.txt");
}

TEST_F(ReturningUser, AnUnreadableConfigurationIsMovedAsideAndTheModelKept) {
    writeConfig("1.3", "frontal");  // a detector type the program does not know
    const std::string damaged = readFile(data + "/Tarvelo.cfg");
    // A camera is there, so that start-up chooses one in place of the one it could not read.
    const std::string frames = work + "/frames";
    ::mkdir(frames.c_str(), 0700);
    std::ofstream(frames + "/f0.pgm", std::ios::binary) << "P5\n320 240\n255\n" << std::string(320 * 240, 'x');
    std::ofstream(work + "/cameras.txt") << "Desk Camera | " << frames << " | rate=15\n";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(work.c_str()) != 0) _exit(126);
        setenv("HOME", work.c_str(), 1);
        setenv("TARVELO_REPLAY_CAMERAS", (work + "/cameras.txt").c_str(), 1);
        setenv("TARVELO_V4L2_DEVICES", "", 1);
        execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    std::string log;
    for (int i = 0; i < 200 && log.find("Displaying 'Settings' dialog...") == std::string::npos; ++i) {
        usleep(50000);
        log = readFile(work + "/Tarvelo.log");
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    EXPECT_NE(log.find("ERROR: Failed to load the configuration file of the user, moved it to " + data +
                       "/Tarvelo.cfg.bad"),
              std::string::npos)
        << log;
    EXPECT_EQ(readFile(data + "/Tarvelo.cfg.bad"), damaged);
    const std::string config = readFile(data + "/Tarvelo.cfg");
    EXPECT_NE(config.find("Type=Frontal"), std::string::npos) << "the reference copy is used";
    EXPECT_NE(log.find("Default camera selected"), std::string::npos) << log;
    EXPECT_EQ(readFile(model), "the user's model") << "the face model stays";
    // The user is told, in a balloon once the tray icon exists.
    const size_t tray = log.find("Creating the Systray icon...");
    ASSERT_NE(tray, std::string::npos);
    EXPECT_TRUE(log.find("Showing a balloon on the systray icon...", tray) != std::string::npos ||
                log.find("ERROR: Failed to show a balloon on the systray icon", tray) != std::string::npos)
        << log;
}

// An X server resets when its last client leaves; a connection that the program opened and closed
// before the toolkit's made the toolkit's refused now and then ("Unable to initialize GTK+").
TEST_F(ProgramTest, StartsOnAServerThatHasNoOtherClient) {
    std::string own;
    const pid_t server = testdisplay::startResettingServer(own);
    if (!server) GTEST_SKIP() << "Xvfb is not installed or did not start";
    const std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    setenv("DISPLAY", own.c_str(), 1);
    int refused = 0, shown = 0;
    const int starts = 10;
    for (int i = 0; i < starts; ++i) {
        const pid_t child = start({"--lock"}, work + "/errors.txt");
        // Up until the unlock screen shows, or the program ends without it.
        bool ended = false;
        for (int wait = 0; wait < 200; ++wait) {
            usleep(50000);
            if (waitpid(child, nullptr, WNOHANG) == child) {
                ended = true;
                break;
            }
            const std::string log = readFile(work + "/Tarvelo_unlock.log");
            size_t count = 0;
            for (size_t at = log.find("Creation of the Unlock dialog..."); at != std::string::npos;
                 at = log.find("Creation of the Unlock dialog...", at + 1))
                ++count;
            if (count > static_cast<size_t>(shown)) {
                ++shown;
                break;
            }
        }
        if (!ended) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (readFile(work + "/errors.txt").find("Unable to initialize GTK") != std::string::npos) ++refused;
    }
    setenv("DISPLAY", display.c_str(), 1);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    EXPECT_EQ(refused, 0) << "of " << starts << " starts";
    EXPECT_EQ(shown, starts);
}

}  // namespace
