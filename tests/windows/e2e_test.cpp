// The whole program under Wine, driven from outside as the shell and the user would drive it:
// messages to its hidden window, the tray callback, its windows' texts, and the registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/win_support.h"
#include "tests/support/test_support.h"

namespace {

const char kKey[] = "Software\\Quorvane\\Pollwick";
constexpr UINT kTrayNotify = WM_USER;
constexpr WPARAM kTrayId = 5000;

std::string WindowText(HWND window)
{
    static char text[81920];
    text[0] = '\0';
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    return text;
}

template <typename Condition>
bool WaitFor(Condition condition, int ms)
{
    for (int waited = 0; waited < ms; waited += 50) {
        if (condition())
            return true;
        Sleep(50);
    }
    return condition();
}

HWND FindDialog(const char *caption) { return FindWindowA("#32770", caption); }

HWND WaitDialog(const char *caption, int ms = 10000)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(caption)) != nullptr; }, ms);
    return found;
}

struct CountSearch {
    const char *className, *title;
    int count;
};

BOOL CALLBACK CountOne(HWND window, LPARAM data)
{
    auto *s = reinterpret_cast<CountSearch *>(data);
    char name[64], caption[64];
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, caption, sizeof caption);
    if (strcmp(name, s->className) == 0 && strcmp(caption, s->title) == 0)
        s->count++;
    return TRUE;
}

int CountWindows(const char *className, const char *title)
{
    CountSearch search = {className, title, 0};
    EnumWindows(CountOne, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

size_t Occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        marker_ = "Z:" + Environment("POLLWICK_ARTIFACTS", "/tmp") + "/mailer-ran.txt";
        for (char &c : marker_)
            if (c == '/')
                c = '\\';
        DeleteFileA(marker_.c_str());
    }
    void TearDown() override
    {
        for (PROCESS_INFORMATION &process : processes_) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        DeleteFileA(marker_.c_str());
    }

    // A complete account on the tests' Dovecot; no check at start-up unless asked.
    void StoreAccount(int messages, bool checkAtStart)
    {
        SetMailboxCount("wine", messages);
        PutText("POP3", "127.0.0.1");
        PutText("USER", "wine");
        PutText("PASS", "w1ne-pass");
        PutNumber("PORT", static_cast<DWORD>(DovecotPort()));
        PutNumber("TIME", 5);
        PutNumber("STCH", checkAtStart ? 1 : 0);
        // A harmless mail program whose run leaves a mark.
        PutText("EXEC", "C:\\windows\\system32\\cmd.exe");
        PutText("PARA", "/c echo ran> " + marker_);
    }

    // Starts pollwick.exe and waits for its hidden main window. Returns the window.
    HWND Launch()
    {
        STARTUPINFOA startup = {sizeof startup};
        PROCESS_INFORMATION process;
        std::string command = ProgramCommandLine();
        int before = CountWindows("Pollwick", "Pollwick");
        EXPECT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        processes_.push_back(process);
        WaitFor([&] { return CountWindows("Pollwick", "Pollwick") > before; }, 10000);
        return FindProgramWindow(process.dwProcessId);
    }

    // The text of the log window's edit box (the window belongs to the newest instance).
    std::string LogText()
    {
        HWND log = FindDialog("Pollwick ログ");
        return log == nullptr ? "" : WindowText(GetDlgItem(log, 3010));
    }

    bool WaitForLog(const std::string &part, int ms = 15000)
    {
        return WaitFor([&] { return LogText().find(part) != std::string::npos; }, ms);
    }

    bool Exit(HWND window)
    {
        PostMessageA(window, WM_COMMAND, 201, 0);
        return WaitForSingleObject(processes_.back().hProcess, 10000) == WAIT_OBJECT_0;
    }

    bool MarkerExists() { return GetFileAttributesA(marker_.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::string ConnectLine() { return "[system] 127.0.0.1:" + std::to_string(DovecotPort()) + " に接続します\r\n"; }

    std::vector<PROCESS_INFORMATION> processes_;
    std::string marker_;
};

TEST_F(EndToEnd, FirstStartAsksForTheAccountBeforeAnythingElse)
{
    HWND window = Launch();
    ASSERT_NE(window, nullptr);
    HWND box = WaitDialog("メッセージ");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), "POP3の設定を行ってください。");
    EXPECT_EQ(FindDialog("Pollwick ログ"), nullptr);  // the log window comes after the prompt
    EXPECT_EQ(ShownPictureSettled(2001), 2001);
    SaveScreenshot("first-start-prompt.bmp");
    PostMessageA(box, WM_COMMAND, IDOK, 0);

    HWND sheet = WaitDialog("Pollwick 設定");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(FindDialog("Pollwick ログ"), nullptr);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(WaitFor([] { return FindDialog("Pollwick ログ") != nullptr; }, 10000));
    EXPECT_FALSE(IsWindowVisible(FindDialog("Pollwick ログ")));

    ASSERT_TRUE(Exit(window));
    // Every value is written at exit, texts at their full width even when empty.
    EXPECT_EQ(StoredLength("POP3"), 256);
    EXPECT_EQ(StoredLength("EXEC"), 260);
    EXPECT_EQ(StoredLength("NTPS"), 256);
    for (const char *name : {"USER", "PASS"})
        EXPECT_EQ(StoredLength(name), 64) << name;
    for (const char *name : {"PARA"})
        EXPECT_EQ(StoredLength(name), 256) << name;
    for (const char *name : {"PORT", "TIME", "APOP", "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "TLSM"})
        EXPECT_EQ(StoredLength(name), 4) << name;
    EXPECT_EQ(StoredNumber("PORT"), 110);
    EXPECT_EQ(StoredNumber("TIME"), 5);
    EXPECT_EQ(StoredNumber("DCHK"), 1);
}

TEST_F(EndToEnd, CheckAtStartWhenAskedAndTheIconSurvivesARestart)
{
    StoreAccount(3, true);
    HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForLog("[system]  5 分後に再接続します...\r\n"));
    std::string log = LogText();
    EXPECT_NE(log.find(ConnectLine()), std::string::npos);
    EXPECT_NE(log.find("[recv] +OK 3 "), std::string::npos);
    EXPECT_NE(log.find("[send] PASS *********\r\n"), std::string::npos);
    EXPECT_EQ(ShownPictureSettled(2002), 2002);
    SaveScreenshot("new-mail.bmp");
    ASSERT_TRUE(Exit(window));
    EXPECT_EQ(StoredNumber("ALLM"), 3);
    EXPECT_EQ(StoredNumber("OLDM"), 0);

    // Without the start-up check nothing is checked before the interval, and the stored counts
    // bring back the same picture. An interval the timer cannot hold is brought into range.
    PutNumber("STCH", 0);
    PutNumber("TIME", 99999);
    window = Launch();
    EXPECT_EQ(ShownPictureSettled(2002), 2002);
    Sleep(2500);
    EXPECT_EQ(LogText().find(ConnectLine()), std::string::npos);
    ASSERT_TRUE(Exit(window));
    EXPECT_EQ(StoredNumber("TIME"), 35791);

    PutNumber("TIME", 0);
    PutNumber("STCH", 1);
    window = Launch();
    ASSERT_TRUE(WaitForLog("[system]  1 分後に再接続します...\r\n"));
    ASSERT_TRUE(Exit(window));
}

TEST_F(EndToEnd, ClicksAcknowledgeAndDoubleClicksCheckOrStartTheMailer)
{
    StoreAccount(3, false);
    PutNumber("ALLM", 3);
    HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ShownPictureSettled(2002), 2002);
    PostMessageA(window, kTrayNotify, kTrayId, WM_LBUTTONDOWN);
    EXPECT_EQ(ShownPictureSettled(2004), 2004);
    PostMessageA(window, kTrayNotify, kTrayId + 1, WM_LBUTTONDBLCLK);  // another icon: ignored
    PostMessageA(window, kTrayNotify, kTrayId, WM_LBUTTONDBLCLK);      // DCHK is set by default
    ASSERT_TRUE(WaitForLog("分後に再接続します"));
    EXPECT_EQ(Occurrences(LogText(), ConnectLine()), 1u);
    EXPECT_EQ(ShownPictureSettled(2004), 2004);  // same three, all acknowledged
    ASSERT_TRUE(Exit(window));
    EXPECT_EQ(StoredNumber("OLDM"), 3);
    EXPECT_FALSE(MarkerExists());

    PutNumber("DCHK", 0);
    PutNumber("DMAL", 1);
    window = Launch();
    PostMessageA(window, kTrayNotify, kTrayId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitFor([&] { return MarkerExists(); }, 10000)) << "the mail program did not run";
    Sleep(500);
    EXPECT_EQ(LogText().find(ConnectLine()), std::string::npos);
    ASSERT_TRUE(Exit(window));

    DeleteFileA(marker_.c_str());
    PutNumber("DMAL", 0);
    window = Launch();
    PostMessageA(window, kTrayNotify, kTrayId, WM_LBUTTONDBLCLK);
    Sleep(2000);
    EXPECT_FALSE(MarkerExists());
    EXPECT_EQ(LogText().find(ConnectLine()), std::string::npos);
    ASSERT_TRUE(Exit(window));
}

// The mouse itself on the icon in the notification area, as the user would use it.
TEST_F(EndToEnd, RealClicksOnTheIcon)
{
    StoreAccount(3, false);
    PutNumber("ALLM", 3);
    HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(ShownPictureSettled(2002), 2002);
    POINT icon;
    ASSERT_EQ(ShownPicture(&icon), 2002);
    auto click = [&](int times) {
        SetCursorPos(icon.x, icon.y);
        Sleep(200);
        for (int i = 0; i < times; i++) {
            INPUT press[2] = {{INPUT_MOUSE, {}}, {INPUT_MOUSE, {}}};
            press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            SendInput(2, press, sizeof press[0]);
            Sleep(60);
        }
    };
    click(1);
    EXPECT_EQ(ShownPictureSettled(2004), 2004);  // acknowledged
    Sleep(1000);                                  // not part of a double click
    click(2);
    EXPECT_TRUE(WaitForLog("分後に再接続します"));  // the double click checked at once
    EXPECT_EQ(Occurrences(LogText(), ConnectLine()), 1u);
    ASSERT_TRUE(Exit(window));
}

TEST_F(EndToEnd, MenuCommandsAndTheirGuardsWhileTheSheetIsOpen)
{
    StoreAccount(2, false);
    HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([] { return FindDialog("Pollwick ログ") != nullptr; }, 10000));

    PostMessageA(window, WM_COMMAND, 204, 0);  // ログ表示
    EXPECT_TRUE(WaitFor([] { return IsWindowVisible(FindDialog("Pollwick ログ")) != FALSE; }, 5000));
    PostMessageA(window, WM_COMMAND, 200, 0);  // メーラの起動
    EXPECT_TRUE(WaitFor([&] { return MarkerExists(); }, 10000));
    PostMessageA(window, WM_COMMAND, 202, 0);  // 手動チェック
    ASSERT_TRUE(WaitForLog("分後に再接続します"));
    EXPECT_NE(LogText().find("[recv] +OK 2 "), std::string::npos);

    PostMessageA(window, WM_COMMAND, 205, 0);  // ﾊﾞｰｼﾞｮﾝ情報
    HWND version = WaitDialog("Pollwick のﾊﾞｰｼﾞｮﾝ情報");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(version, 0xFFFF)).substr(0, 22), "Pollwick Version 1.02\n");
    PostMessageA(version, WM_COMMAND, IDOK, 0);
    WaitFor([] { return FindDialog("Pollwick のﾊﾞｰｼﾞｮﾝ情報") == nullptr; }, 5000);

    PostMessageA(window, WM_COMMAND, 203, 0);  // 設定...
    HWND sheet = WaitDialog("Pollwick 設定");
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(WaitForLog("[system] 設定開始：自動接続を中断します...\r\n"));
    // While the sheet is open: no check, no second sheet, a double click does nothing.
    size_t checks = Occurrences(LogText(), ConnectLine());
    PostMessageA(window, WM_COMMAND, 202, 0);
    PostMessageA(window, WM_COMMAND, 203, 0);
    PostMessageA(window, kTrayNotify, kTrayId, WM_LBUTTONDBLCLK);
    Sleep(2000);
    EXPECT_EQ(Occurrences(LogText(), ConnectLine()), checks);
    EXPECT_EQ(CountWindows("#32770", "Pollwick 設定"), 1);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(WaitForLog("[system] 設定終了： 5 分後に再接続します...\r\n"));

    // The right button opens the menu; the keyboard picks its fourth entry, ログ表示.
    ShowWindow(FindDialog("Pollwick ログ"), SW_HIDE);
    PostMessageA(FindDialog("Pollwick ログ"), WM_COMMAND, IDOK, 0);
    WaitFor([] { return IsWindowVisible(FindDialog("Pollwick ログ")) == FALSE; }, 5000);
    PostMessageA(window, kTrayNotify, kTrayId, WM_RBUTTONUP);
    ASSERT_TRUE(WaitFor([] { return FindWindowA("#32768", nullptr) != nullptr; }, 5000));
    Sleep(300);
    for (int i = 0; i < 4; i++)
        PostMessageA(window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitFor([] { return IsWindowVisible(FindDialog("Pollwick ログ")) != FALSE; }, 5000));

    ASSERT_TRUE(Exit(window));  // 終了
}

TEST_F(EndToEnd, TheIconComesBackWithANewShellAndResumeChecksAtOnce)
{
    StoreAccount(3, false);
    PutNumber("ALLM", 3);
    HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(ShownPictureSettled(2002), 2002);

    // A shell that starts anew knows no icons: take ours away as a crash of the shell would,
    // then announce the new shell. The icon returns with the picture it had, not the first one.
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = kTrayId;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
    EXPECT_TRUE(WaitFor([] { return ShownPicture() == 0; }, 5000));
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    EXPECT_EQ(ShownPictureSettled(2002), 2002);

    // Going to sleep does nothing; waking up checks at once and arms the interval again.
    SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    Sleep(1500);
    EXPECT_EQ(LogText().find(ConnectLine()), std::string::npos);
    SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    ASSERT_TRUE(WaitForLog("[system]  5 分後に再接続します...\r\n"));
    EXPECT_EQ(Occurrences(LogText(), ConnectLine()), 1u);

    // Not while the settings sheet is open.
    PostMessageA(window, WM_COMMAND, 203, 0);
    HWND sheet = WaitDialog("Pollwick 設定");
    ASSERT_NE(sheet, nullptr);
    SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    Sleep(2000);
    EXPECT_EQ(Occurrences(LogText(), ConnectLine()), 1u);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(WaitForLog("[system] 設定終了： 5 分後に再接続します...\r\n"));
    EXPECT_EQ(Occurrences(LogText(), ConnectLine()), 1u);
    ASSERT_TRUE(Exit(window));

    // STLS asked of a server without it: the check fails before the login, with the error picture.
    PutNumber("TLSM", 1);
    window = Launch();
    PostMessageA(window, WM_COMMAND, 202, 0);
    ASSERT_TRUE(WaitForLog("[system] Error: このサーバーはSTLSに対応していません\r\n"));
    EXPECT_EQ(LogText().find("[send] USER"), std::string::npos);
    EXPECT_EQ(ShownPictureSettled(2009), 2009);
    ASSERT_TRUE(Exit(window));
}

TEST_F(EndToEnd, EndOfSessionSavesAndTwoInstancesRunSideBySide)
{
    StoreAccount(0, false);
    PutNumber("ALLM", 7);
    PutNumber("OLDM", 2);
    HWND first = Launch();
    HWND second = Launch();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(CountWindows("Pollwick", "Pollwick"), 2);

    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);  // the first to end writes everything back
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(first, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer);
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    EXPECT_EQ(WaitForSingleObject(processes_[0].hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(StoredNumber("ALLM"), 7);
    EXPECT_EQ(StoredNumber("OLDM"), 2);
    EXPECT_EQ(StoredLength("PASS"), 64);

    EXPECT_EQ(CountWindows("Pollwick", "Pollwick"), 1);
    ASSERT_TRUE(Exit(second));
}

}  // namespace
