#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/messages.h"

TEST(PostedMessages, QueuedPerWindowInOrderAndTakenByRange) {
    int a = 0, b = 0;
    HWND first = &a, second = &b;
    EXPECT_FALSE(PostMessageA(first, WM_APP, 1, 0));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());

    std::atomic<int> wakes{0};
    tarvelo::user::createMessageQueue(first, [&] { ++wakes; });
    tarvelo::user::createMessageQueue(second);
    std::thread poster([&] {
        EXPECT_TRUE(PostMessageA(first, WM_APP + 0x100, 10, 0));
        EXPECT_TRUE(PostMessageA(first, WM_APP + 0x102, 0x80000000u, 0));
        EXPECT_TRUE(PostMessageA(second, WM_APP + 0x101, 20, 0));
    });
    poster.join();
    EXPECT_EQ(2, wakes.load());

    MSG msg{};
    EXPECT_TRUE(PeekMessageA(&msg, first, WM_APP + 0x102, WM_APP + 0x102, PM_NOREMOVE));
    EXPECT_EQ(0x80000000u, msg.wParam);
    EXPECT_TRUE(PeekMessageA(&msg, first, 0, 0, PM_REMOVE));
    EXPECT_EQ(first, msg.hwnd);
    EXPECT_EQ(WM_APP + 0x100, msg.message);
    EXPECT_EQ(10u, msg.wParam);
    EXPECT_TRUE(PeekMessageA(&msg, first, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_APP + 0x102, msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, first, 0, 0, PM_REMOVE));

    tarvelo::user::destroyMessageQueue(second);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PostMessageA(second, WM_APP, 0, 0));
    tarvelo::user::destroyMessageQueue(first);
}
