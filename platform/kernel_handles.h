// Inside the platform: the objects behind kernel handles, and small helpers the services share.
#pragma once

#include <string>

#include "platform/windows_types.h"

namespace tarvelo_platform {

struct KernelObject {
    enum Kind { Any, Mutex, Process, Token };
    Kind kind;
    explicit KernelObject(Kind k) : kind(k) {}
    virtual ~KernelObject() = default;
};

// Hands out a handle for an object; CloseHandle deletes it.
HANDLE registerHandle(KernelObject* object);
// The object behind a live handle of that kind, or null with ERROR_INVALID_HANDLE.
KernelObject* lookupHandle(HANDLE handle, KernelObject::Kind kind);
DWORD errorFromErrno(int e);
// Back-slashes become slashes.
std::string posixPath(const char* path);

// Processes started on a desktop other than "Default" (their STARTUPINFOA named it), so that the lock
// desktop's cover can tell their windows from everyone else's. A reaped process leaves the list.
void noteDesktopProcess(const std::string& desktop, int pid);
void forgetDesktopProcess(int pid);
bool isDesktopProcess(const std::string& desktop, int pid);

}  // namespace tarvelo_platform
