#include "app/core/SessionLockdown.h"

#include <atomic>

#include "platform/kernel.h"

HHOOK lowLevelKeyboardHook = nullptr;

namespace {
const char* const kPolicyKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
// The hook procedure may run on another thread than the one that installed it.
std::atomic<HHOOK> g_hook{nullptr};
}  // namespace

LRESULT lowLevelKeyboardProc(int code, WPARAM message, LPARAM event) {
    if (code == HC_ACTION && event) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(event);
        if (message == WM_KEYDOWN) {
            if (key->vkCode == DWORD(VK_LWIN) || key->vkCode == DWORD(VK_RWIN)) return 1;
            if (key->vkCode == DWORD(VK_ESCAPE) && (GetAsyncKeyState(VK_CONTROL) & 0x8000)) return 1;
        } else if (message == WM_SYSKEYDOWN && (key->flags & LLKHF_ALTDOWN)) {
            if (key->vkCode == DWORD(VK_TAB) || key->vkCode == DWORD(VK_ESCAPE) || key->vkCode == DWORD(VK_F4))
                return 1;
        }
    }
    return CallNextHookEx(g_hook.load(), code, message, event);
}

bool setTaskSwitching(bool enable) {
    if (!enable) {
        if (!lowLevelKeyboardHook) {
            lowLevelKeyboardHook = SetWindowsHookExA(WH_KEYBOARD_LL, lowLevelKeyboardProc, GetModuleHandleA(nullptr), 0);
            g_hook = lowLevelKeyboardHook;
            if (!lowLevelKeyboardHook) return false;
        }
        return true;
    }
    if (lowLevelKeyboardHook) UnhookWindowsHookEx(lowLevelKeyboardHook);
    lowLevelKeyboardHook = nullptr;
    g_hook = nullptr;
    return true;
}

bool setTaskManager(bool enable) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kPolicyKey, &key) != LONG(ERROR_SUCCESS) &&
        RegCreateKeyA(HKEY_CURRENT_USER, kPolicyKey, &key) != LONG(ERROR_SUCCESS))
        return false;
    LONG result;
    if (!enable) {
        DWORD one = 1;
        result = RegSetValueExA(key, "DisableTaskMgr", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    } else {
        result = RegDeleteValueA(key, "DisableTaskMgr");
    }
    RegCloseKey(key);
    return result == LONG(ERROR_SUCCESS);
}
