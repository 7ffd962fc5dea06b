// The tray icon's menu, double-click, balloon and window procedure.
#include <gtest/gtest.h>

#include "app/gui/TrayIcon.h"
#include "gui_harness.h"
#include "test_app.h"

namespace {

class TrayIconTest : public testing::Test {
protected:
    void SetUp() override {
        app().reset();
        app().config.cameraName.clear();  // not ready to authenticate
        tray = new TrayIcon(app());
        app().trayIcon = tray;
    }
    void TearDown() override {
        app().trayIcon = nullptr;
        tray->RemoveIcon();
        delete tray;
        app().reset();
    }
    TestApp& app() { return testApp(); }
    TrayIcon* tray = nullptr;
};

TEST_F(TrayIconTest, MenuFollowsTheStateAndIsAbsentWhileDisabled) {
    app().model = false;
    wxMenu* menu = tray->CreatePopupMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->GetMenuItemCount(), 7u);
    EXPECT_EQ(menu->GetLabelText(TrayIcon::ID_LOCK), "Lock (Alt+L)");
    EXPECT_FALSE(menu->IsEnabled(TrayIcon::ID_LOCK));  // no model: greyed out
    EXPECT_EQ(menu->GetLabelText(TrayIcon::ID_ENABLE), "Disable");
    EXPECT_EQ(menu->GetHelpString(TrayIcon::ID_ENABLE), "Disable the Tarvelo application");
    EXPECT_EQ(menu->GetLabelText(TrayIcon::ID_SETTINGS), "Settings");
    EXPECT_EQ(menu->GetLabelText(TrayIcon::ID_EXIT), "Exit");
    delete menu;

    app().session.toggleEnabled();  // disabled
    menu = tray->CreatePopupMenu();
    EXPECT_EQ(menu->GetLabelText(TrayIcon::ID_ENABLE), "Enable");
    delete menu;

    tray->disable();
    EXPECT_EQ(tray->CreatePopupMenu(), nullptr);
    EXPECT_TRUE(app().lines.has("Unregistering the Alt+L hotkey..."));
    wxTaskBarIconEvent click(wxEVT_TASKBAR_LEFT_DCLICK, tray);
    tray->onLeftDoubleClick(click);
    EXPECT_TRUE(app().settingsPages.empty());
    tray->enable();
    tray->onLeftDoubleClick(click);
    EXPECT_EQ(app().settingsPages, std::vector<int>{0});
    EXPECT_TRUE(tray->isEnabled());
}

TEST_F(TrayIconTest, WindowProcedureDispatchesPowerAndSessionMessages) {
    app().startIdleTimer(0);
    EXPECT_EQ(TrayIcon::trayWindowProc(tray->windowHandle(), WM_POWERBROADCAST, 4, 0), 1);
    EXPECT_TRUE(app().lines.has("Event: WM_POWERBROADCAST, Suspend"));
    EXPECT_FALSE(app().idleTimer->IsRunning());
    EXPECT_EQ(TrayIcon::trayWindowProc(tray->windowHandle(), WM_WTSSESSION_CHANGE, 8, 0), 1);
    EXPECT_TRUE(app().lines.has("Event: WM_WTSSESSION_CHANGE, Logon or Unlock"));
    EXPECT_TRUE(app().idleTimer->IsRunning());
    // A battery notice goes to the default procedure.
    app().lines.clear();
    EXPECT_EQ(TrayIcon::trayWindowProc(tray->windowHandle(), WM_POWERBROADCAST, 10, 0), 0);
    EXPECT_TRUE(app().lines.plain().empty());
    // Alt+L without a model: ignored without a line.
    app().model = false;
    EXPECT_EQ(TrayIcon::trayWindowProc(tray->windowHandle(), WM_HOTKEY, HOTKEY_ID_LOCK, 0), 1);
    EXPECT_FALSE(app().lines.has("Event: Hotkey Alt+L received"));
    EXPECT_EQ(app().unlockStarted, 0);
    // With one it locks.
    app().model = true;
    wxMenu* menu = tray->CreatePopupMenu();
    EXPECT_TRUE(menu->IsEnabled(TrayIcon::ID_LOCK));
    delete menu;
    EXPECT_EQ(TrayIcon::trayWindowProc(tray->windowHandle(), WM_HOTKEY, HOTKEY_ID_LOCK, 0), 1);
    EXPECT_TRUE(app().lines.has("Event: Hotkey Alt+L received"));
    EXPECT_EQ(app().unlockStarted, 1);
}

TEST_F(TrayIconTest, BalloonIsCutToTheRecordAndSilent) {
    tray->setIconResource("systray", "Tarvelo");
    EXPECT_EQ(tray->iconResource(), "systray");
    if (!tray->IsIconInstalled()) GTEST_SKIP() << "no notification area on this display";
    tray->showBalloon("Tarvelo", std::string(300, 'x'), 10000, NIIF_INFO);
    EXPECT_EQ(tray->lastBalloon().text.size(), 255u);
    EXPECT_EQ(tray->lastBalloon().flags, NIIF_INFO | NIIF_NOSOUND);
}

}  // namespace
