// The real tray instance hears logind: a mock logind on a bus of the test stands in for the system
// bus. While the settings dialog runs (modally, at the first start without a camera) the session
// notifications are unregistered and only the power broadcasts reach the tray's window procedure.
#include <fstream>
#include <string>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include "mock_logind.h"
#include "read_file.h"

using testutil::readFile;

namespace {

size_t count(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(line, at)) != std::string::npos; ++at) ++n;
    return n;
}

TEST(SessionEvents, PowerBroadcastsReachTheTrayDuringTheSettingsAndSessionChangesDoNot) {
    if (!mocklogind::available()) GTEST_SKIP() << "python3-dbusmock is not installed";
    mocklogind::PrivateBus bus(true);
    ASSERT_TRUE(bus.ready) << "the mock logind did not start";
    mocklogind::MockLogind logind(bus.address);

    char folder[] = "/tmp/tarvelo-session-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string work = folder;
    const std::string bin = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath().ToStdString();
    const std::string program = bin + "/Tarvelo";
    std::ofstream(work + "/Tarvelo.cfg.backup") << readFile(bin + "/Tarvelo.cfg.backup");
    const pid_t tray = fork();
    if (tray == 0) {
        if (chdir(work.c_str()) != 0) _exit(126);
        setenv("HOME", work.c_str(), 1);
        setenv("TARVELO_REPLAY_CAMERAS", "/nonexistent", 1);  // no camera: the settings open at start-up
        setenv("TARVELO_V4L2_DEVICES", "", 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.c_str(), 1);
        setenv("XDG_SESSION_ID", "c7", 1);
        execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    const std::string logPath = work + "/Tarvelo.log";
    auto waitFor = [&](const std::string& line, size_t times) {
        for (int i = 0; i < 200; ++i) {
            if (count(readFile(logPath), line) >= times) return true;
            usleep(50000);
        }
        return false;
    };
    ASSERT_TRUE(waitFor("Creating the 'Parameters' panel...", 1)) << readFile(logPath);
    EXPECT_TRUE(waitFor("Registering to session notifications...", 1));

    ASSERT_TRUE(logind.prepareForSleep(true));
    EXPECT_TRUE(waitFor("Event: WM_POWERBROADCAST, Suspend", 1)) << "suspend";
    ASSERT_TRUE(logind.prepareForSleep(false));
    EXPECT_TRUE(waitFor("Event: WM_POWERBROADCAST, Resuming", 1)) << "resume";
    // A lock from the desktop, then a suspend: the suspend arrives, the lock (sent first) does not.
    ASSERT_TRUE(logind.session("Lock"));
    ASSERT_TRUE(logind.prepareForSleep(true));
    EXPECT_TRUE(waitFor("Event: WM_POWERBROADCAST, Suspend", 2));
    const std::string log = readFile(logPath);
    EXPECT_EQ(log.find("Event: WM_WTSSESSION_CHANGE"), std::string::npos) << log;

    int status = 0;
    EXPECT_EQ(waitpid(tray, &status, WNOHANG), 0) << "the tray is still running";
    kill(tray, SIGTERM);
    waitpid(tray, &status, 0);
    (void)std::system(("rm -rf '" + work + "'").c_str());
}

}  // namespace
