// Handles, named mutexes, files and folders, and processes.
#include "platform/kernel.h"
#include "platform/kernel_handles.h"

#include <cerrno>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <csignal>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvelo_platform {

namespace {
std::mutex& handleLock() {
    static std::mutex* m = new std::mutex();
    return *m;
}
std::set<KernelObject*>& liveHandles() {
    static std::set<KernelObject*>* s = new std::set<KernelObject*>();
    return *s;
}
}  // namespace

HANDLE registerHandle(KernelObject* object) {
    std::lock_guard<std::mutex> lock(handleLock());
    liveHandles().insert(object);
    return object;
}

KernelObject* lookupHandle(HANDLE handle, KernelObject::Kind kind) {
    std::lock_guard<std::mutex> lock(handleLock());
    auto* object = static_cast<KernelObject*>(handle);
    if (!handle || !liveHandles().count(object) || (kind != KernelObject::Any && object->kind != kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

DWORD errorFromErrno(int e) {
    switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ENOTEMPTY: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
    }
}

namespace {
std::mutex& desktopProcessLock() {
    static std::mutex* m = new std::mutex();
    return *m;
}
std::map<int, std::string>& desktopProcesses() {
    static auto* m = new std::map<int, std::string>();
    return *m;
}
}  // namespace

void noteDesktopProcess(const std::string& desktop, int pid) {
    std::lock_guard<std::mutex> lock(desktopProcessLock());
    desktopProcesses()[pid] = desktop;
}

void forgetDesktopProcess(int pid) {
    std::lock_guard<std::mutex> lock(desktopProcessLock());
    desktopProcesses().erase(pid);
}

bool isDesktopProcess(const std::string& desktop, int pid) {
    std::lock_guard<std::mutex> lock(desktopProcessLock());
    auto it = desktopProcesses().find(pid);
    return it != desktopProcesses().end() && it->second == desktop;
}

std::string posixPath(const char* path) {
    std::string p = path ? path : "";
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

namespace {

struct MutexObject : KernelObject {
    int lockFd = -1;  // the held lock of the name; -1 for a handle to a name held elsewhere
    DWORD owner = 0;  // thread id, 0 when not owned
    MutexObject() : KernelObject(Mutex) {}
    ~MutexObject() override {
        if (lockFd >= 0) ::close(lockFd);
    }
};

// A folder of our own for the names: it must be ours and closed to everyone else, or another
// account could hold our names (an abstract socket name, even one carrying our uid, can be bound by
// anyone). Opened without following links; -1 when it is not usable.
int privateFolder(const std::string& path, bool create) {
    if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// $XDG_RUNTIME_DIR/tarvelo-mutex, else ~/.cache/tarvelo-mutex of the passwd entry (not $HOME, so
// every process of the account agrees), else /tmp/tarvelo-mutex-UID. Each is checked as above.
int namesFolder(std::string* path = nullptr) {
    std::vector<std::string> candidates;
    if (const char* run = getenv("XDG_RUNTIME_DIR"); run && *run) {
        int fd = privateFolder(run, false);
        if (fd >= 0) {
            ::close(fd);
            candidates.push_back(std::string(run) + "/tarvelo-mutex");
        }
    }
    std::vector<char> scratch(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(::geteuid(), &entry, scratch.data(), scratch.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir) {
        std::string cache = std::string(found->pw_dir) + "/.cache";
        struct stat st;
        if (::stat(found->pw_dir, &st) == 0 && st.st_uid == ::geteuid()) {
            if (::mkdir(cache.c_str(), 0700) == 0 || errno == EEXIST) candidates.push_back(cache + "/tarvelo-mutex");
        }
    }
    candidates.push_back("/tmp/tarvelo-mutex-" + std::to_string(::geteuid()));
    for (const std::string& c : candidates) {
        int fd = privateFolder(c, true);
        if (fd >= 0) {
            if (path) *path = c;
            return fd;
        }
    }
    return -1;
}

// "Global\X" (one per account on the machine) and "Local\X" or "X" (the same for a single
// session per account) are two file names in the folder; other characters than letters, digits,
// '_', '-' and '.' are escaped.
bool lockFileName(const char* name, std::string& file) {
    std::string n = name;
    std::string scope = "Local.";
    if (n.compare(0, 7, "Global\\") == 0) {
        scope = "Global.";
        n = n.substr(7);
    } else if (n.compare(0, 6, "Local\\") == 0) {
        n = n.substr(6);
    }
    file = scope;
    for (unsigned char c : n) {
        if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
            file += char(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            file += escaped;
        }
    }
    return file.size() <= 255;
}

}  // namespace

std::string privateRuntimeFolder() {
    std::string path;
    const int fd = namesFolder(&path);
    if (fd < 0) return "";
    ::close(fd);
    return path;
}

// ---- Processes ----

// The exit code of a child that someone else reaped (a SIGCHLD handler of a toolkit).
constexpr DWORD kLostExitCode = 0xFFFFFFFFu;

struct ProcessState {
    std::mutex lock;
    pid_t pid = 0;
    int pidfd = -1;
    bool reaped = false;
    bool terminated = false;
    DWORD exitCode = STILL_ACTIVE;
    DWORD terminateCode = 0;
    int handles = 0;

    // Reaps the child when it has ended; called with lock held.
    void poll(bool block) {
        if (reaped) return;
        int status = 0;
        pid_t r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r == pid) {
            reaped = true;
            forgetDesktopProcess(int(pid));
            if (terminated)
                exitCode = terminateCode;
            else if (WIFEXITED(status))
                exitCode = DWORD(WEXITSTATUS(status));
            else if (WIFSIGNALED(status))
                exitCode = DWORD(128 + WTERMSIG(status));
        } else if (r < 0 && errno == ECHILD) {
            // Someone else reaped it; the exit code is lost, and must never read as a success.
            reaped = true;
            forgetDesktopProcess(int(pid));
            exitCode = terminated ? terminateCode : kLostExitCode;
        }
    }
};

struct ProcessObject : KernelObject {
    std::shared_ptr<ProcessState> state;
    explicit ProcessObject(std::shared_ptr<ProcessState> s) : KernelObject(Process), state(std::move(s)) {
        std::lock_guard<std::mutex> lock(state->lock);
        ++state->handles;
    }
    ~ProcessObject() override {
        std::lock_guard<std::mutex> lock(state->lock);
        if (--state->handles == 0) {
            state->poll(false);
            if (state->pidfd >= 0) ::close(state->pidfd);
            state->pidfd = -1;
        }
    }
};

namespace {

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::string cur;
    bool inQuotes = false, have = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\') {
            size_t n = 0;
            while (i < line.size() && line[i] == '\\') {
                ++n;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                cur.append(n / 2, '\\');
                if (n % 2) {
                    cur += '"';
                } else {
                    inQuotes = !inQuotes;
                }
                have = true;
            } else {
                cur.append(n, '\\');
                --i;
                have = true;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
            have = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (have) args.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) args.push_back(cur);
    return args;
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string withoutExe(const std::string& name) {
    if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0)
        return name.substr(0, name.size() - 4);
    return "";
}

std::string findProgram(const std::string& name) {
    std::vector<std::string> names{name};
    std::string bare = withoutExe(name);
    if (!bare.empty()) names.push_back(bare);
    if (name.find('/') != std::string::npos) {
        for (auto& n : names)
            if (isExecutableFile(n)) return n;
        return "";
    }
    std::vector<std::string> dirs;
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string exe(self, size_t(n));
        dirs.push_back(exe.substr(0, exe.rfind('/')));
    }
    dirs.push_back(".");
    if (const char* path = getenv("PATH")) {
        std::string p = path;
        size_t start = 0;
        while (start <= p.size()) {
            size_t end = p.find(':', start);
            if (end == std::string::npos) end = p.size();
            dirs.push_back(end > start ? p.substr(start, end - start) : ".");
            start = end + 1;
        }
    }
    for (auto& d : dirs)
        for (auto& nm : names)
            if (isExecutableFile(d + "/" + nm)) return d + "/" + nm;
    return "";
}

}  // namespace

}  // namespace tarvelo_platform

using namespace tarvelo_platform;

extern "C" {

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    auto* mutex = new MutexObject();
    DWORD lastError = ERROR_SUCCESS;
    if (name && *name) {
        std::string file;
        if (!lockFileName(name, file)) {
            delete mutex;
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        int folder = namesFolder();
        if (folder < 0) {
            delete mutex;
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        int fd = ::openat(folder, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        int e = errno;
        ::close(folder);
        if (fd < 0) {
            delete mutex;
            SetLastError(errorFromErrno(e));
            return nullptr;
        }
        // The kernel drops the lock with the last descriptor, so a crashed holder leaves no name.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            mutex->lockFd = fd;
        } else {
            e = errno;
            ::close(fd);
            if (e != EWOULDBLOCK) {
                delete mutex;
                SetLastError(errorFromErrno(e));
                return nullptr;
            }
            // The name is held elsewhere: a handle to the existing mutex, never owned by us.
            lastError = ERROR_ALREADY_EXISTS;
            initialOwner = FALSE;
        }
    }
    if (initialOwner) mutex->owner = GetCurrentThreadId();
    HANDLE h = registerHandle(mutex);
    SetLastError(lastError);
    return h;
}

BOOL ReleaseMutex(HANDLE handle) {
    auto* mutex = static_cast<MutexObject*>(lookupHandle(handle, KernelObject::Mutex));
    if (!mutex) return FALSE;
    std::lock_guard<std::mutex> lock(handleLock());
    if (mutex->owner != GetCurrentThreadId()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    mutex->owner = 0;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    KernelObject* object;
    {
        std::lock_guard<std::mutex> lock(handleLock());
        object = static_cast<KernelObject*>(handle);
        if (!handle || !liveHandles().erase(object)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete object;
    return TRUE;
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
    if (!existing || !target) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string from = posixPath(existing), to = posixPath(target);
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (failIfExists && ::access(to.c_str(), F_OK) == 0) {
        ::close(in);
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    // Written beside the target and renamed over it, so a reader never sees half a copy.
    std::string tmp = to + ".copy.XXXXXX";
    int out = ::mkostemp(&tmp[0], O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    ::fchmod(out, st.st_mode & 0666);
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    int e = errno;
    ::close(in);
    ok = ::close(out) == 0 && ok;
    if (ok) {
        if (failIfExists) {
            // link fails when the target appeared meanwhile.
            ok = ::link(tmp.c_str(), to.c_str()) == 0;
            e = errno;
            ::unlink(tmp.c_str());
            if (!ok) {
                SetLastError(e == EEXIST ? ERROR_FILE_EXISTS : errorFromErrno(e));
                return FALSE;
            }
            return TRUE;
        }
        ok = ::rename(tmp.c_str(), to.c_str()) == 0;
        e = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        SetLastError(errorFromErrno(e));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string p = posixPath(path);
    struct stat st;
    if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(p.c_str()) != 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string p = posixPath(path);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
        SetLastError(errorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (::access(p.c_str(), W_OK) != 0 && !S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    if (base.size() > 1 && base[0] == '.' && base != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::mkdir(posixPath(path).c_str(), 0777) != 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                    DWORD, LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                    LPPROCESS_INFORMATION information) {
    if (!information || !startup || (!application && !commandLine)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string> args = splitCommandLine(commandLine ? commandLine : "");
    std::string program = application ? posixPath(application) : (args.empty() ? "" : args[0]);
    if (args.empty()) args.push_back(program);
    std::string resolved = program.empty() ? "" : findProgram(posixPath(program.c_str()));
    if (resolved.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    std::vector<std::string> env;
    if (environment) {
        for (const char* p = static_cast<const char*>(environment); *p; p += std::strlen(p) + 1) env.push_back(p);
    } else {
        for (char** e = environ; *e; ++e) env.push_back(*e);
    }
    if (startup->lpDesktop && *startup->lpDesktop) {
        for (auto it = env.begin(); it != env.end();)
            it = it->compare(0, 16, "TARVELO_DESKTOP=") == 0 ? env.erase(it) : it + 1;
        env.push_back(std::string("TARVELO_DESKTOP=") + startup->lpDesktop);
    }
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (currentDirectory && *currentDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, posixPath(currentDirectory).c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, resolved.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        SetLastError(errorFromErrno(rc));
        return FALSE;
    }
    if (startup->lpDesktop && *startup->lpDesktop && std::strcmp(startup->lpDesktop, "Default") != 0)
        noteDesktopProcess(startup->lpDesktop, int(pid));
    auto state = std::make_shared<ProcessState>();
    state->pid = pid;
    state->pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (state->pidfd >= 0) ::fcntl(state->pidfd, F_SETFD, FD_CLOEXEC);
    information->hProcess = registerHandle(new ProcessObject(state));
    information->hThread = registerHandle(new ProcessObject(state));
    information->dwProcessId = DWORD(pid);
    information->dwThreadId = DWORD(pid);
    return TRUE;
}

DWORD WaitForInputIdle(HANDLE handle, DWORD) {
    auto* process = static_cast<ProcessObject*>(lookupHandle(handle, KernelObject::Process));
    if (!process) return WAIT_FAILED;
    std::lock_guard<std::mutex> lock(process->state->lock);
    process->state->poll(false);
    if (process->state->reaped) return 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto* process = static_cast<ProcessObject*>(lookupHandle(handle, KernelObject::Process));
    if (!process) return WAIT_FAILED;
    std::shared_ptr<ProcessState> state = process->state;
    DWORD start = GetTickCount();
    for (;;) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(state->lock);
            state->poll(false);
            if (state->reaped) return WAIT_OBJECT_0;
            fd = state->pidfd;
        }
        DWORD waited = GetTickCount() - start;
        if (milliseconds != INFINITE && waited >= milliseconds) return WAIT_TIMEOUT;
        int slice = 20;  // without a process descriptor the child is polled
        if (fd >= 0) {
            slice = milliseconds == INFINITE ? 1000 : int(std::min<DWORD>(milliseconds - waited, 1000));
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, slice);
        } else {
            if (milliseconds != INFINITE) slice = int(std::min<DWORD>(DWORD(slice), milliseconds - waited));
            ::usleep(useconds_t(slice) * 1000);
        }
    }
}

BOOL TerminateProcess(HANDLE handle, UINT exitCode) {
    auto* process = static_cast<ProcessObject*>(lookupHandle(handle, KernelObject::Process));
    if (!process) return FALSE;
    ProcessState& s = *process->state;
    std::lock_guard<std::mutex> lock(s.lock);
    s.poll(false);
    if (s.reaped) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The child is not reaped yet, so its pid cannot have been reused.
    if (::kill(s.pid, SIGKILL) != 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    if (!s.terminated) {
        s.terminated = true;
        s.terminateCode = exitCode;
    }
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
    auto* process = static_cast<ProcessObject*>(lookupHandle(handle, KernelObject::Process));
    if (!process || !exitCode) {
        if (process) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(process->state->lock);
    process->state->poll(false);
    *exitCode = process->state->reaped ? process->state->exitCode : STILL_ACTIVE;
    return TRUE;
}

}  // extern "C"
