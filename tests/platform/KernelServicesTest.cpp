// Named mutexes, files, processes, the account name, the password check and the registry store.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include <shadow.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/kernel.h"
#include "read_file.h"

using testutil::readFile;

namespace {

std::string tempDir() {
    char tmpl[] = "/tmp/tarvelo-kernel-XXXXXX";
    return mkdtemp(tmpl);
}

TEST(NamedMutex, SecondCreationReportsExistingUntilLastHandleCloses) {
    std::string name = "Global\\TarveloTest_" + std::to_string(getpid());
    HANDLE first = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    HANDLE second = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(second)) << "a handle to an existing mutex is not its owner";
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_TRUE(CloseHandle(second));

    // Another process sees the name too.
    pid_t child = fork();
    if (child == 0) {
        HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
        _exit(h && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = CreateMutexA(nullptr, TRUE, name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the name goes with its last handle";
    CloseHandle(again);
    EXPECT_FALSE(CloseHandle(again));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Another account cannot hold this account's names (it has names of its own), and a holder that is
// killed leaves nothing behind.
TEST(NamedMutex, NamesBelongToTheAccountAndGoWithAKilledHolder) {
    const std::string name = "Global\\TarveloTest_Owner_" + std::to_string(getpid());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    auto holder = [&](bool otherAccount) {
        pid_t child = fork();
        if (child == 0) {
            if (otherAccount && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
            HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
            char c = h && GetLastError() == ERROR_SUCCESS ? 'y' : 'n';
            (void)!write(ready[1], &c, 1);
            pause();
            _exit(0);
        }
        char c = 0;
        EXPECT_EQ(read(ready[0], &c, 1), 1);
        EXPECT_EQ(c, 'y') << "the holder got the name";
        return child;
    };
    auto stop = [](pid_t child) {
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    };

    pid_t same = holder(false);
    HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(h);
    stop(same);
    h = CreateMutexA(nullptr, TRUE, name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a killed holder leaves no name";
    CloseHandle(h);

    if (geteuid() == 0) {
        pid_t other = holder(true);
        h = CreateMutexA(nullptr, TRUE, name.c_str());
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "another account's mutex of the same name is not ours";
        CloseHandle(h);
        stop(other);
    }
    close(ready[0]);
    close(ready[1]);
    (void)std::system("rm -rf /tmp/tarvelo-mutex-65534");
}

// The names' folder must be the account's own and closed to others; one that is not is passed over.
TEST(NamedMutex, FolderOpenToOthersIsNotUsed) {
    const char* saved = getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    const std::string name = "TarveloTest_Folder_" + std::to_string(getpid());
    for (mode_t mode : {0700, 0777}) {
        std::string run = tempDir();
        chmod(run.c_str(), mode);
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
        ASSERT_NE(h, nullptr);
        struct stat st;
        bool inRun = stat((run + "/tarvelo-mutex/Local." + name).c_str(), &st) == 0;
        EXPECT_EQ(inRun, mode == 0700) << std::oct << mode;
        if (inRun) {
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
        CloseHandle(h);
        (void)std::system(("rm -rf '" + run + "'").c_str());
    }
    if (saved) {
        setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}

TEST(Files, CopyDeleteAttributesAndFolders) {
    std::string dir = tempDir();
    std::string a = dir + "/a.txt", b = dir + "\\b.txt";
    std::ofstream(a) << "hello";
    EXPECT_EQ(GetFileAttributesA(a.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(GetFileAttributesA(dir.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesA((dir + "/missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    ASSERT_TRUE(CopyFileA(a.c_str(), b.c_str(), FALSE));
    EXPECT_EQ(readFile(dir + "/b.txt"), "hello");
    std::ofstream(a) << "second";
    EXPECT_FALSE(CopyFileA(a.c_str(), b.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(readFile(dir + "/b.txt"), "hello");
    EXPECT_TRUE(CopyFileA(a.c_str(), b.c_str(), FALSE)) << "overwrites";
    EXPECT_EQ(readFile(dir + "/b.txt"), "second");
    EXPECT_FALSE(CopyFileA((dir + "/none").c_str(), b.c_str(), FALSE));

    std::string sub = dir + "\\sub";
    EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA((dir + "/x/y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA((dir + "/sub").c_str())) << "a folder is no file";

    EXPECT_TRUE(DeleteFileA(a.c_str()));
    EXPECT_FALSE(DeleteFileA(a.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::string cmd = "rm -rf " + dir;
    ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST(Processes, StartWaitTerminateAndExitCodes) {
    std::string dir = tempDir();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    char desktop[] = "TarveloDesktop";
    si.lpDesktop = desktop;
    PROCESS_INFORMATION pi{};
    std::string out = dir + "/env";
    std::string line = "sh -c \"echo $TARVELO_DESKTOP > " + out + "; exit 3\" ";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(readFile(out), "TarveloDesktop\n") << "the desktop name reaches the child";
    EXPECT_FALSE(TerminateProcess(pi.hProcess, 0)) << "an ended process cannot be terminated";
    EXPECT_EQ(WaitForInputIdle(pi.hProcess, INFINITE), 0u);
    EXPECT_TRUE(CloseHandle(pi.hThread));
    EXPECT_TRUE(CloseHandle(pi.hProcess));

    si.lpDesktop = nullptr;
    std::string sleeper = "sleep 30";
    ASSERT_TRUE(CreateProcessA(nullptr, &sleeper[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 50), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForInputIdle(pi.hProcess, INFINITE), WAIT_FAILED) << "input idleness cannot be seen here";
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(TerminateProcess(pi.hProcess, 7));
    EXPECT_EQ(WaitForSingleObject(pi.hThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::string missing = "no-such-program-tarvelo.exe --lock ";
    EXPECT_FALSE(CreateProcessA(nullptr, &missing[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // "X.exe" finds the program "X" beside it, and a trailing blank adds no argument.
    std::string script = dir + "/probe";
    std::ofstream(script) << "#!/bin/sh\necho \"$#:$1\" > " << dir << "/args\n";
    chmod(script.c_str(), 0755);
    std::string exe = script + ".exe --lock ";
    ASSERT_TRUE(CreateProcessA(nullptr, &exe[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(readFile(dir + "/args"), "1:--lock\n");
    std::string cmd = "rm -rf " + dir;
    ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST(Accounts, SamCompatibleNameAndRefusedPassword) {
    ULONG size = 0;
    EXPECT_FALSE(GetUserNameExA(NameSamCompatible, nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    ASSERT_GT(size, 2u);
    std::string name(size, '\0');
    ASSERT_TRUE(GetUserNameExA(NameSamCompatible, &name[0], &size));
    name.resize(size);
    size_t slash = name.find('\\');
    ASSERT_NE(slash, std::string::npos) << name;
    EXPECT_GT(name.size(), slash + 1);
    EXPECT_FALSE(GetUserNameExA(NameDisplay, &name[0], &size));

    HANDLE token = reinterpret_cast<HANDLE>(1);
    std::string user = name.substr(slash + 1);
    // Through the system's own PAM. An account whose local entry can hold no password (root's of a
    // container, "*"; or locked, "!") says so where the entry can be read; any other a wrong password.
    DWORD expected = ERROR_LOGON_FAILURE;
    if (const spwd* entry = getspnam(user.c_str()); entry && entry->sp_pwdp) {
        if (entry->sp_pwdp[0] == '!') expected = ERROR_ACCOUNT_LOCKED_OUT;
        if (entry->sp_pwdp[0] == '*') expected = ERROR_ACCOUNT_DISABLED;
    }
    EXPECT_FALSE(LogonUserA(user.c_str(), ".", "certainly-not-the-password", LOGON32_LOGON_INTERACTIVE,
                            LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(GetLastError(), expected) << user;
    EXPECT_EQ(token, nullptr);
    EXPECT_FALSE(LogonUserA(nullptr, nullptr, "x", 2, 0, &token));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

class RegistryStore : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        dir = tempDir();
        setenv("TARVELO_REGISTRY_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TARVELO_REGISTRY_DIR");
        std::string cmd = "rm -rf " + dir;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
};

TEST_F(RegistryStore, KeysAndValuesPersistAcrossHandles) {
    const char* policy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, policy, &key), LONG(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, policy, &key), LONG(ERROR_SUCCESS));
    DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key, "DisableTaskMgr", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              LONG(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(key), LONG(ERROR_SUCCESS));

    HKEY reopened = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "software\\microsoft\\windows\\currentversion\\policies\\system",
                          &reopened),
              LONG(ERROR_SUCCESS))
        << "key names compare without letter case";
    DWORD value = 0, type = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(reopened, "disabletaskmgr", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              LONG(ERROR_SUCCESS));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(RegDeleteValueA(reopened, "DisableTaskMgr"), LONG(ERROR_SUCCESS));
    EXPECT_EQ(RegDeleteValueA(reopened, "DisableTaskMgr"), LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegQueryValueExA(reopened, "DisableTaskMgr", nullptr, &type, nullptr, &size),
              LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegCloseKey(reopened), LONG(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(reopened), LONG(ERROR_INVALID_HANDLE));

    struct stat st;
    ASSERT_EQ(stat((dir + "/HKEY_CURRENT_USER.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 2),
              LONG(ERROR_INVALID_PARAMETER));
}

// A hive that is not a regular file, or is larger than any the program writes, makes every call
// fail with ERROR_BADDB at once (a FIFO would hang them), and nothing is written over it.
TEST_F(RegistryStore, AHiveThatIsNoRegularFileOrTooLargeFailsEveryCallAndIsKeptAndShortDwordsAreDropped) {
    const std::string hive = dir + "/HKEY_CURRENT_USER.reg";
    const std::string big = "K\tControl Panel\n" + std::string(1 << 20, '#');
    for (const char* kind : {"fifo", "large"}) {
        std::remove(hive.c_str());
        if (std::string(kind) == "fifo") {
            ASSERT_EQ(mkfifo(hive.c_str(), 0600), 0);
        } else {
            std::ofstream(hive, std::ios::binary) << big;
        }
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key), 1009) << kind;
        EXPECT_EQ(key, nullptr) << kind;
        EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel", &key), 1009) << kind;
        struct stat st;
        ASSERT_EQ(stat(hive.c_str(), &st), 0) << kind;
        EXPECT_EQ(S_ISFIFO(st.st_mode), std::string(kind) == "fifo");
        if (std::string(kind) == "large") {
            EXPECT_EQ(st.st_size, static_cast<off_t>(big.size()));
        }
    }
    // A DWORD of 2 bytes would leave half of a 4-byte reader's value unwritten: it is dropped.
    std::remove(hive.c_str());
    std::ofstream(hive, std::ios::binary) << "K\tControl Panel\nV\tControl Panel\tShort\t4\t0100\n"
                                          << "V\tControl Panel\tFull\t4\t02000000\n";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel", &key), LONG(ERROR_SUCCESS));
    DWORD value = 0, type = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Short", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegQueryValueExA(key, "Full", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              LONG(ERROR_SUCCESS));
    EXPECT_EQ(value, 2u);
    RegCloseKey(key);
}

}  // namespace
