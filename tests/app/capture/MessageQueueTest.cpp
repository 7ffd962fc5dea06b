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

TEST(PostedMessages, AFullQueueDropsTheOldestReplacedScoreNeverAVerdict) {
    // A window whose thread stopped draining once let its queue grow without bound.
    int a = 0;
    HWND window = &a;
    const UINT score = WM_APP + 0x100, verdict = WM_APP + 0x101;
    tarvelo::user::createMessageQueue(window, nullptr, {score});
    ASSERT_TRUE(PostMessageA(window, verdict, 1, 0));
    for (size_t i = 1; i < POSTED_MESSAGE_LIMIT; ++i) ASSERT_TRUE(PostMessageA(window, score, i, 0)) << i;
    // Full: each new post pushes out the oldest score that a newer one replaces.
    EXPECT_TRUE(PostMessageA(window, verdict, 2, 0));
    EXPECT_TRUE(PostMessageA(window, score, 777777, 0));

    MSG msg{};
    std::vector<MSG> taken;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) taken.push_back(msg);
    ASSERT_EQ(POSTED_MESSAGE_LIMIT, taken.size());
    EXPECT_EQ(verdict, taken.front().message);
    EXPECT_EQ(1u, taken.front().wParam);
    EXPECT_EQ(3u, taken[1].wParam) << "the two oldest scores made room";
    EXPECT_EQ(verdict, taken[taken.size() - 2].message);
    EXPECT_EQ(777777u, taken.back().wParam);

    // A queue full of what may not be dropped refuses the post and keeps what it holds.
    for (size_t i = 0; i < POSTED_MESSAGE_LIMIT; ++i) ASSERT_TRUE(PostMessageA(window, verdict, i, 0));
    EXPECT_FALSE(PostMessageA(window, score, 1, 0));
    EXPECT_EQ(ERROR_NOT_ENOUGH_QUOTA, GetLastError());
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
    tarvelo::user::destroyMessageQueue(window);
}
