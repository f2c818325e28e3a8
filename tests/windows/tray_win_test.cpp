// The tray icon in Wine's notification area, driven through a sequence of real checks.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "mail/net.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "shell/text.h"
#include "shell/tray.h"
#include "shell/tray_rules.h"
#include "tests/support/fault_server.h"
#include "tests/support/win_support.h"
#include "tests/support/test_support.h"

namespace {

HWND owner;
std::vector<int> commands;  // WM_COMMAND ids the owner received

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        commands.push_back(LOWORD(wParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

class TrayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = OwnerProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PollwickTrayTest";
        RegisterClassA(&windowClass);
        owner = CreateWindowExA(WS_EX_TOOLWINDOW, "PollwickTrayTest", "PollwickTrayTest", WS_POPUP, 0, 0, 0, 0,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ResetSettings();
        AddTrayIcon(owner, &TrayIcon);
    }
    static void TearDownTestSuite()
    {
        Shell_NotifyIconA(NIM_DELETE, &TrayIcon);
        DestroyWindow(owner);
    }
};

TEST_F(TrayTest, IconAppearsWithItsRecord)
{
    EXPECT_NE(FindWindowA("Shell_TrayWnd", nullptr), nullptr) << "no taskbar on the desktop";
    EXPECT_EQ(TrayIcon.cbSize, 88u);
    EXPECT_EQ(TrayIcon.uID, 5000u);
    EXPECT_EQ(TrayIcon.uFlags, 7u);
    EXPECT_EQ(TrayIcon.uCallbackMessage, 1024u);
    EXPECT_STREQ(TrayIcon.szTip, "新着 0 件/全 0 件");
    EXPECT_EQ(ShownPictureSettled(2001), 2001);
}

TEST_F(TrayTest, ScriptedChecksAgainstDovecot)
{
    ASSERT_GT(DovecotPort(), 0);
    UseAccount("127.0.0.1", DovecotPort(), "wine", "w1ne-pass");
    SetTrayIcon(owner, &TrayIcon, kIconResult);

    struct Step {
        const char *what;
        int count;        // messages in the mailbox, -1: the server is down
        bool acknowledge; // a left click before the check
        int32_t allm, oldm;
        int picture;
        int beeps;
        const char *tip;
    } steps[] = {
        {"three new", 3, false, 3, 0, 2002, 1, "新着 3 件/全 3 件"},
        {"still three", 3, false, 3, 0, 2002, 0, "新着 3 件/全 3 件"},
        {"acknowledged, two more", 5, true, 5, 3, 2003, 1, "新着 2 件/全 5 件"},
        {"three removed", 2, false, 2, 2, 2004, 0, "新着 0 件/全 2 件"},
        {"emptied", 0, false, 0, 0, 2001, 0, "新着 0 件/全 0 件"},
        {"server down", -1, false, 0, 0, 2009, 0, "エラーが起きました"},
        {"back with four", 4, false, 4, 0, 2002, 1, "新着 4 件/全 4 件"},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        if (step.acknowledge)
            SetTrayIcon(owner, &TrayIcon, AcknowledgeMail(&Settings.ALLM, &Settings.OLDM));
        Settings.PORT = DovecotPort();
        if (step.count >= 0)
            SetMailboxCount("wine", step.count);
        else
            Settings.PORT = 9;  // nothing listens there
        int beepsBefore = MailBeepCount;
        RunCheckCycle(owner, &TrayIcon);
        EXPECT_EQ(Settings.ALLM, step.allm);
        EXPECT_EQ(Settings.OLDM, step.oldm);
        EXPECT_EQ(TrayIconId, step.picture);
        EXPECT_EQ(MailBeepCount - beepsBefore, step.beeps);
        EXPECT_STREQ(TrayIcon.szTip, step.tip);
        EXPECT_EQ(ShownPictureSettled(step.picture), step.picture);
        if (step.picture == 2003)
            SaveScreenshot("tray-new-beside-old.bmp");
        if (step.picture == 2009)
            SaveScreenshot("tray-error.bmp");
    }
    // A left click after the error-free check acknowledges everything.
    SetTrayIcon(owner, &TrayIcon, AcknowledgeMail(&Settings.ALLM, &Settings.OLDM));
    EXPECT_EQ(ShownPictureSettled(2004), 2004);
}

TEST_F(TrayTest, QuestionMarkWhileTheCheckRuns)
{
    Settings.ALLM = 5;
    Settings.OLDM = 3;
    SetTrayIcon(owner, &TrayIcon, kIconResult + 2);
    // A server that waits before it greets keeps the check running long enough to look.
    FaultServer server({Pause(2500), Send("+OK\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("+OK\r\n"),
                        ReadLine(), Send("+OK 5 50\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine()});
    CopyText(Settings.POP3, sizeof Settings.POP3, "127.0.0.1");
    Settings.PORT = server.Port();
    std::atomic<int> seen{0};
    std::thread watcher([&] {
        for (int i = 0; i < 40 && seen != 2007; i++) {
            Sleep(50);
            seen = ShownPicture();
        }
    });
    RunCheckCycle(owner, &TrayIcon);
    watcher.join();
    EXPECT_EQ(seen, 2007);  // question mark, both slots lit
    EXPECT_EQ(TrayIconId, 2003);
}

TEST_F(TrayTest, OnlyThePictureOnShowIsHeld)
{
    std::vector<HICON> handles;
    for (int i = 0; i < 200; i++) {
        SetTrayIcon(owner, &TrayIcon, 2001 + i % 9);
        handles.push_back(TrayIcon.hIcon);
    }
    int alive = 0;
    for (HICON handle : handles) {
        ICONINFO info;
        if (GetIconInfo(handle, &info)) {
            alive++;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
    }
    EXPECT_EQ(alive, 1);
    ICONINFO info;
    EXPECT_TRUE(GetIconInfo(TrayIcon.hIcon, &info));
}

TEST_F(TrayTest, MenuShowsItsEightEntriesAndSendsTheChosenCommand)
{
    struct Item {
        UINT id;
        std::string text;
    };
    std::vector<Item> items;
    std::thread driver([&] {
        HWND menu = nullptr;
        for (int i = 0; i < 100 && menu == nullptr; i++) {
            Sleep(50);
            menu = FindWindowA("#32768", nullptr);
        }
        if (menu == nullptr)
            return;
        Sleep(300);
        SaveScreenshot("tray-menu.bmp");
        HMENU handle = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
        for (int i = 0; i < GetMenuItemCount(handle); i++) {
            char text[64] = "";
            GetMenuStringA(handle, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            items.push_back({GetMenuItemID(handle, i), text});
        }
        // Keys reach the menu through its owner: the first entry, chosen with Enter.
        PostMessageA(owner, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(owner, WM_KEYDOWN, VK_RETURN, 0);
    });
    commands.clear();
    EXPECT_EQ(ShowTrayMenu(owner), 0);
    driver.join();
    Pump(200);
    std::vector<std::pair<UINT, std::string>> got;
    for (const Item &item : items)
        got.emplace_back(item.id, item.text);
    std::vector<std::pair<UINT, std::string>> expected = {
        {202, "手動チェック"}, {200, "メーラの起動"}, {0, ""}, {203, "設定..."},
        {204, "ログ表示"}, {0, ""}, {205, "ﾊﾞｰｼﾞｮﾝ情報"}, {201, "終了"}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(commands, std::vector<int>{202});
}

}  // namespace
