// Entry of the GUI tests: an X server of its own (Xvfb) when none is named by DISPLAY, the toolkit
// started once for all tests, and the screenshots folder.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include "gui_harness.h"
#include "private_display.h"

// Last: its macros (None, Bool, ...) would clash with the headers above.
#include <X11/Xlib.h>

// GTK's own start, which the toolkit calls again later as a no-op (no development headers needed).
extern "C" int gtk_init_check(int* argc, char*** argv);
extern "C" void gtk_disable_setlocale(void);

extern "C" const char* __lsan_default_suppressions();

namespace {
pid_t g_xvfb = 0;

// The program's own instances that the tests start (tray, unlock screen) keep the toolkit's caches
// as well: they get the same leak suppressions, or the leak checker's exit status (23) would stand
// in for theirs, and an authenticated unlock screen would read as one that ended without.
std::string inheritLeakSuppressions() {
#if defined(__SANITIZE_ADDRESS__)
    char path[] = "/tmp/tarvelo-lsan-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "";
    const std::string text = __lsan_default_suppressions();
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    if (!written) return "";
    const char* options = getenv("LSAN_OPTIONS");
    const std::string before = options && *options ? std::string(options) + ":" : "";
    setenv("LSAN_OPTIONS", (before + "suppressions=" + path).c_str(), 1);
    return path;
#else
    return "";
#endif
}

// Its own Xvfb; the server picks a free display number, so parallel test programs never race for one.
bool startXvfb() {
    std::string display;
    g_xvfb = testdisplay::startXvfb({"-screen", "0", "1280x1024x24"}, display, false);
    if (!g_xvfb) return false;
    setenv("DISPLAY", display.c_str(), 1);
    return true;
}

void stopXvfb() {
    if (g_xvfb > 0) {
        kill(g_xvfb, SIGTERM);
        waitpid(g_xvfb, nullptr, 0);
        g_xvfb = 0;
    }
}

bool listingOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) return true;
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    const bool listing = listingOnly(argc, argv);  // before the flags leave argv
    testing::InitGoogleTest(&argc, argv);
    if (listing) return RUN_ALL_TESTS();
    const std::string suppressions = inheritLeakSuppressions();
    const char* display = getenv("DISPLAY");
    if (!display || !*display) {
        // The X server that ctest's fixture started for all GUI tests.
        if (const char* file = getenv("TARVELO_TEST_DISPLAY_FILE")) {
            std::FILE* f = std::fopen(file, "r");
            char number[32] = {0};
            if (f && std::fgets(number, sizeof(number), f)) {
                std::string n(number);
                while (!n.empty() && (n.back() == '\n' || n.back() == ' ')) n.pop_back();
                if (!n.empty()) setenv("DISPLAY", (":" + n).c_str(), 1);
            }
            if (f) std::fclose(f);
        }
        display = getenv("DISPLAY");
    }
    if (!display || !*display) {
        if (!startXvfb()) {
            std::fprintf(stderr, "GUI tests need Xvfb (package xvfb) or a DISPLAY\n");
            return 1;
        }
    }
    guitest::installTestApp();
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    // A server that has just said its number may still be setting up its sockets: try again a few
    // times before giving up.
    // GTK is set up here, where a failure can be retried; the toolkit then finds it ready.
    bool started = false;
    gtk_disable_setlocale();  // as the toolkit does: the locale stays the C one
    for (int attempt = 0; attempt < 30 && !started; ++attempt) {
        if (attempt) usleep(100000);
        Display* probe = XOpenDisplay(nullptr);
        if (!probe) continue;
        XCloseDisplay(probe);
        int gtkArgc = 1;
        char** gtkArgv = wxArgv;
        started = gtk_init_check(&gtkArgc, &gtkArgv);
    }
    if (!started || !wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "the toolkit could not start on DISPLAY=%s\n", getenv("DISPLAY"));
        stopXvfb();
        return 1;
    }
    wxTheApp->CallOnInit();
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    stopXvfb();
    if (!suppressions.empty()) std::remove(suppressions.c_str());
    return result;
}

// The toolkit's libraries keep caches for the life of the process (types, fonts, the X connection)
// that the leak checker would report; leaks in the program's own code are still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\nleak:libgtk-3.so\n"
           "leak:libgdk-3.so\nleak:libfontconfig.so\nleak:libpango-1.0.so\nleak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\nleak:libcairo.so\nleak:libX11.so\nleak:libxkbcommon.so\n"
           "leak:libatk-1.0.so\nleak:libatk-bridge-2.0.so\nleak:libatspi.so\nleak:libdbus-1.so\n"
           "leak:libharfbuzz.so\nleak:libfreetype.so\nleak:libgdk_pixbuf-2.0.so\nleak:libepoxy.so\n";
}
