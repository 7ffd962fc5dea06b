// The program itself, started as a person starts it: the single-instance rule, the log file's size
// limit and the unlock-screen instance that refuses to start on a system that is not ready.
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <csignal>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include "platform/kernel.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tarvelo-program-XXXXXX";
        ASSERT_TRUE(mkdtemp(folder));
        work = folder;
        const std::string bin = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath().ToStdString();
        program = bin + "/Tarvelo";
        std::ofstream(work + "/Tarvelo.cfg.backup") << slurp(bin + "/Tarvelo.cfg.backup");
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
    // it came up; returns that log.
    std::string runUnlockScreen() {
        const pid_t child = start({"--lock"});
        std::string log;
        for (int i = 0; i < 200 && log.find("Creation of the Unlock dialog...") == std::string::npos; ++i) {
            usleep(50000);
            log = slurp(work + "/Tarvelo_unlock.log");
        }
        usleep(300000);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the unlock screen ended by itself";
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return slurp(work + "/Tarvelo_unlock.log");
    }
    pid_t start(const std::vector<std::string>& args) {
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(work.c_str()) != 0) _exit(126);
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
    const std::string log = runUnlockScreen();
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
        log = slurp(work + "/Tarvelo.log");
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

}  // namespace
