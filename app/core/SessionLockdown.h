#pragma once
// While the unlock screen is shown: a low-level keyboard hook that swallows the task-switching keys,
// and the per-user policy value that disables the Task Manager.
#include "platform/user.h"

// The installed hook, or null.
extern HHOOK lowLevelKeyboardHook;

// enable false installs the hook (once), true removes it. False when the installation fails.
bool setTaskSwitching(bool enable);
// enable false sets "DisableTaskMgr" to 1, true deletes it. False when the key cannot be opened or
// created, or the value cannot be set or deleted.
bool setTaskManager(bool enable);
// Swallows the Windows keys, Ctrl+Esc (with or without Shift), Alt+Tab, Alt+Esc and Alt+F4.
LRESULT lowLevelKeyboardProc(int code, WPARAM message, LPARAM event);
