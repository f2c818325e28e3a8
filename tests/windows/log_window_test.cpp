// The log window from its template, under a real window manager: place, text, hiding.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "resources/resource.h"
#include "shell/log.h"
#include "shell/log_window.h"

namespace {

void Pump()
{
    MSG message;
    for (int round = 0; round < 5; round++) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchAppMessage(&message);
        Sleep(20);
    }
}

std::string EditText()
{
    static char text[kLogJoinedSize];
    SendDlgItemMessageA(LogWindow, IDC_LOGTEXT, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

class LogWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitLogRing();
        LogWindow = CreateDialogParamA(GetModuleHandleA(nullptr), "MYLOGDLG", nullptr, LogDialogProc, 0);
        ASSERT_NE(LogWindow, nullptr);
        ShowWindow(LogWindow, SW_HIDE);
    }
    void TearDown() override
    {
        DestroyWindow(LogWindow);
        LogWindow = nullptr;
    }
};

TEST_F(LogWindowTest, TemplateAndPlaceAtTheWorkAreaCorner)
{
    char caption[64];
    GetWindowTextA(LogWindow, caption, sizeof caption);
    EXPECT_STREQ(caption, "Pollwick ログ");
    LONG style = GetWindowLongA(GetDlgItem(LogWindow, IDC_LOGTEXT), GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_FALSE(style & ES_READONLY);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_TRUE(style & WS_HSCROLL);
    EXPECT_NE(GetDlgItem(LogWindow, IDOK), nullptr);

    RECT area, window;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(LogWindow, &window);
    EXPECT_EQ(window.right, area.right);
    EXPECT_EQ(window.bottom, area.bottom);
    EXPECT_GT(window.right - window.left, 280);  // 280 dialog units are wider than 280 pixels
}

TEST_F(LogWindowTest, EveryLineUpdatesTheTextShownOrNot)
{
    EXPECT_EQ(EditText(), "");
    ShowWindow(LogWindow, SW_SHOW);
    Pump();
    EXPECT_EQ(EditText(), "");  // showing does not rebuild

    for (int n = 1; n <= 65; n++)
        AppendLog("[system] ", ("line " + std::to_string(n) + "\r\n").c_str());
    JoinLogRing(LogJoined, sizeof LogJoined);
    std::string text = EditText();
    EXPECT_EQ(text, LogJoined);
    EXPECT_EQ(text.find("line 1\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(20, 16), "[system] line 2\r");
    EXPECT_EQ(text.substr(text.size() - 18), "[system] line 65\r\n");
    // The view has moved down to the newest lines.
    EXPECT_GT(SendDlgItemMessageA(LogWindow, IDC_LOGTEXT, EM_GETFIRSTVISIBLELINE, 0, 0), 0);

    // What the user typed is replaced by the next line.
    SetDlgItemTextA(LogWindow, IDC_LOGTEXT, "typed by hand");
    ShowWindow(LogWindow, SW_HIDE);
    AppendLog("[recv] ", "+OK\r\n");
    EXPECT_EQ(EditText().find("typed by hand"), std::string::npos);
    EXPECT_EQ(EditText().substr(EditText().size() - 12), "[recv] +OK\r\n");
}

TEST_F(LogWindowTest, OkAndEscapeHideTheWindowAtTheSamePlace)
{
    RECT before, after;
    GetWindowRect(LogWindow, &before);

    ShowWindow(LogWindow, SW_SHOW);
    Pump();
    ASSERT_TRUE(IsWindowVisible(LogWindow));
    EXPECT_EQ(GetFocus(), GetDlgItem(LogWindow, IDOK));
    SendDlgItemMessageA(LogWindow, IDOK, BM_CLICK, 0, 0);
    Pump();
    EXPECT_FALSE(IsWindowVisible(LogWindow));

    // Esc and Enter, typed wherever the focus is.
    for (UINT key : {VK_ESCAPE, VK_RETURN}) {
        for (int control : {IDOK, IDC_LOGTEXT}) {
            ShowWindow(LogWindow, SW_SHOW);
            Pump();
            ASSERT_TRUE(IsWindowVisible(LogWindow));
            HWND focus = GetDlgItem(LogWindow, control);
            SetFocus(focus);
            PostMessageA(focus, WM_KEYDOWN, key, 0x00010001);
            PostMessageA(focus, WM_KEYUP, key, 0xC0010001);
            Pump();
            EXPECT_FALSE(IsWindowVisible(LogWindow)) << "key " << key << " on control " << control;
        }
    }

    // The close box sends the same command as Esc.
    ShowWindow(LogWindow, SW_SHOW);
    Pump();
    SendMessageA(LogWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_FALSE(IsWindowVisible(LogWindow));
    EXPECT_TRUE(IsWindow(LogWindow));

    GetWindowRect(LogWindow, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
}

}  // namespace
