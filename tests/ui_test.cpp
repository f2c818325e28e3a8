// The windows of the program, in this process under Wine: the tray icon through real checks, the
// log window, and the settings sheet worked from a second thread as a user would. Every text is
// written and read back in UTF-16, so that the suite means the same on any system code page.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>

#include "base/log.h"
#include "base/text.h"
#include "mail/pop3.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "settings/help_popup.h"
#include "settings/settings.h"
#include "settings/sheet.h"
#include "shell/log_window.h"
#include "shell/tray.h"
#include "shell/tray_rules.h"
#include "tests/support/harness.h"
#include "tests/support/win_harness.h"

namespace {

HWND owner;

class Ui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitCommonControls();
        owner = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);  // the templates and pictures are ours
    }
    void SetUp() override
    {
        ClearStore();
        ResetSettings();
        InitLogRing();
    }
    void TearDown() override { ClearStore(); }
};

TEST_F(Ui, TrayPicturesTooltipsAndTheNotificationThroughRealChecks)
{
    ASSERT_NE(FindWindowW(L"Shell_TrayWnd", nullptr), nullptr) << "no taskbar on the desktop";
    AddTrayIcon(owner, &TrayIcon);
    EXPECT_EQ(ShownPictureSettled(IDI_NO_MAIL), IDI_NO_MAIL);
    Mailbox box = TestMailbox();
    UseAccount("127.0.0.1", DovecotPort(), box.user, box.password);
    const struct {
        int count;  // messages in the mailbox; -1: the server is down
        bool acknowledge;
        int picture;
        const char *tip;
        const char *note;    // the notification, "" for none (Wine shows one 2 s after it is asked for)
        int32_t notify = 1;  // NTFY
    } steps[] = {
        {3, false, IDI_NEW_MAIL, "新着 3 件/全 3 件", "新着メールが 3 件あります（全 3 件）"},
        {3, false, IDI_NEW_MAIL, "新着 3 件/全 3 件", ""},
        {5, true, IDI_NEW_AND_OLD_MAIL, "新着 2 件/全 5 件", "新着メールが 2 件あります（全 5 件）"},
        {0, false, IDI_NO_MAIL, "新着 0 件/全 0 件", nullptr},
        {-1, false, IDI_CHECK_FAILED, "エラーが起きました", nullptr},
        {4, false, IDI_NEW_MAIL, "新着 4 件/全 4 件", "", 0},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.tip);
        if (step.acknowledge)
            SetTrayIcon(owner, &TrayIcon, AcknowledgeMail(&Settings.ALLM, &Settings.OLDM));
        Settings.PORT = step.count >= 0 ? DovecotPort() : 9;  // nothing listens on 9
        if (step.count >= 0)
            SetMailboxCount(step.count);
        Settings.NTFY = step.notify;
        RunCheckCycle(owner, &TrayIcon);
        ReloadTrayPicture(owner, &TrayIcon);  // as a change of display or scaling does
        EXPECT_EQ(Narrow(TrayIcon.szTip), step.tip);
        EXPECT_EQ(ShownPictureSettled(step.picture), step.picture);
        std::string note;
        if (step.note != nullptr) {
            WaitUntil([&] { return !(note = BalloonText()).empty(); }, *step.note != '\0' ? 5000 : 2600);
            EXPECT_EQ(note, step.note);
            NOTIFYICONDATAW quiet = TrayIcon;  // and away with it before the next step
            quiet.uFlags = NIF_INFO;
            quiet.szInfo[0] = L'\0';
            Shell_NotifyIconW(NIM_MODIFY, &quiet);
            WaitUntil([] { return BalloonText().empty(); });
        }
    }

    // While a check runs, the question mark over the previous state: a server that waits to greet.
    Settings.OLDM = 2;
    SetTrayIcon(owner, &TrayIcon, IDI_NEW_AND_OLD_MAIL);
    FaultServer slow({Pause(2500), Send("+OK\r\n")});
    Settings.PORT = slow.Port();
    int seen = 0;
    std::thread watcher([&] { WaitUntil([&] { return (seen = ShownPicture()) == IDI_CHECKING_NEW_AND_OLD_MAIL; }, 2000); });
    RunCheckCycle(owner, &TrayIcon);
    watcher.join();
    EXPECT_EQ(seen, IDI_CHECKING_NEW_AND_OLD_MAIL);

    // Each picture is loaded once at the size in use: the changes of a check load none.
    SetTrayIcon(owner, &TrayIcon, IDI_CHECKING_NEW_AND_OLD_MAIL);
    HICON before = TrayIcon.hIcon;
    for (int i = 0; i < 9; i++)
        SetTrayIcon(owner, &TrayIcon, IDI_NO_MAIL + i);
    SetTrayIcon(owner, &TrayIcon, IDI_CHECKING_NEW_AND_OLD_MAIL);
    EXPECT_EQ(TrayIcon.hIcon, before);
    Shell_NotifyIconW(NIM_DELETE, &TrayIcon);
}

// This thread's message loop for about ms milliseconds, as the program's own runs it.
void Pump(int ms)
{
    MSG message;
    for (DWORD end = GetTickCount() + static_cast<DWORD>(ms); GetTickCount() < end; Sleep(10))
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchAppMessage(&message);
}

TEST_F(Ui, TheLogWindowShowsEveryLineAndOnlyHidesWhereItIs)
{
    LogWindow = CreateDialogParamW(GetModuleHandleW(nullptr), L"MYLOGDLG", nullptr, LogDialogProc, 0);
    HWND edit = GetDlgItem(LogWindow, IDC_LOGTEXT);
    RECT area, place, after;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(LogWindow, &place);
    EXPECT_EQ(std::make_pair(place.right, place.bottom), std::make_pair(area.right, area.bottom));
    SetWindowTextW(edit, L"typed by hand");  // replaced by what comes next, shown or not
    // The text catches up once this thread is back in its message loop: after a check, and
    // after 200 more lines.
    FaultServer server(Pop3Session("+OK ようこそ\r\n", "+OK 2 20\r\n"));
    UseAccount("127.0.0.1", server.Port(), "u", "p");
    EXPECT_EQ(CheckMail(), 2);
    Pump(50);
    Lines shown = SplitLines(WindowText(edit));
    ASSERT_EQ(shown.size(), 10u);
    EXPECT_EQ(shown[0].substr(20), "[system] 127.0.0.1:" + std::to_string(server.Port()) + " に接続します\r\n");
    EXPECT_EQ(shown[1].substr(20), "[recv] +OK ようこそ\r\n");
    for (int n = 1; n <= 200; n++)
        AppendLog("[system] ", ("line " + std::to_string(n) + "\r\n").c_str());
    Pump(50);
    shown = SplitLines(WindowText(edit));
    ASSERT_EQ(shown.size(), 64u);
    EXPECT_EQ(shown.front().substr(20), "[system] line 137\r\n");
    EXPECT_EQ(shown.back().substr(20), "[system] line 200\r\n");
    EXPECT_GT(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);  // moved down to the newest lines

    // OK, Esc and Enter (typed in the text) and the close box hide it in the same place.
    for (UINT how : {0u, UINT{VK_ESCAPE}, UINT{VK_RETURN}, 1u}) {
        ShowWindow(LogWindow, SW_SHOW);
        SetFocus(edit);
        if (how == 0)
            PostMessageW(GetDlgItem(LogWindow, IDOK), BM_CLICK, 0, 0);
        else if (how == 1)
            PostMessageW(LogWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            PostMessageW(edit, WM_KEYDOWN, how, 0x00010001);
        Pump(100);
        EXPECT_FALSE(IsWindowVisible(LogWindow)) << how;
    }
    GetWindowRect(LogWindow, &after);
    EXPECT_TRUE(EqualRect(&place, &after));
    DestroyWindow(LogWindow);
    LogWindow = nullptr;
}

// Run once more with the prefix at 144 dots per inch (tests/CMakeLists.txt), where small icons
// are 24 pixels: the picture on show is always drawn at that size, never stretched from another.
TEST_F(Ui, TheTrayPictureHasTheSizeOfTheScreensSmallIcons)
{
    AddTrayIcon(owner, &TrayIcon);
    for (int id : {IDI_NO_MAIL, IDI_CHECKING_OLD_MAIL, IDI_CHECK_FAILED}) {
        SetTrayIcon(owner, &TrayIcon, id);
        ICONINFO info;
        BITMAP bitmap = {};
        ASSERT_TRUE(GetIconInfo(TrayIcon.hIcon, &info));
        GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON)) << id;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    Shell_NotifyIconW(NIM_DELETE, &TrayIcon);
}

// The sheet runs here, modal, while drive works it from another thread; a sheet that drive
// leaves open is cancelled, so that a failing test cannot hang.
void RunSheet(const std::function<void(HWND sheet)> &drive)
{
    std::thread driver([&] {
        HWND sheet = nullptr;
        auto shown = [&] { return (sheet = FindDialog(SHEET_CAPTION)) != nullptr && IsWindowVisible(sheet); };
        if (!WaitUntil(shown, 10000)) {
            ADD_FAILURE() << "the sheet did not open";  // or not with its caption: close what did
            PostMessageW(FindWindowW(L"#32770", nullptr), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
            return;
        }
        drive(sheet);
        if (!WaitUntil([&] { return !IsWindow(sheet); }, 3000)) {
            ADD_FAILURE() << "the sheet was left open";
            PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }
    });
    ShowSettingsSheet(owner);
    driver.join();
}

HWND Page(HWND sheet, int index)
{
    SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}
std::string Read(HWND page, int id) { return WindowText(GetDlgItem(page, id)); }
void Type(HWND page, int id, const std::wstring &text) { SetDlgItemTextW(page, id, text.c_str()); }
void Type(HWND page, int id, const std::string &text) { Type(page, id, Wide(text)); }
void Click(HWND page, int id) { SendDlgItemMessageW(page, id, BM_CLICK, 0, 0); }
bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }
void Press(HWND sheet, int button) { PostMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0); }
std::string StoredText(const char *name) { return ReadStored(name).bytes.c_str(); }
TEST_F(Ui, TheSheetOpensCentredSyncsAndCancelWritesNothing)
{
    const std::string server = "127.0.0.1:" + std::to_string(FixtureNumber("chrony/port"));
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\m.exe");
    SettingsRecord before = Settings;
    CopyText(before.NTPS, sizeof before.NTPS, server.c_str());  // "同期！" takes it at once, in memory
    // Only the work area's right and bottom edges place it, as if it began at the screen's corner.
    RECT saved, area = {100, 60, 900, 640};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, 0);
    RunSheet([&](HWND sheet) {
        HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
        EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
        RECT window;
        GetWindowRect(sheet, &window);
        EXPECT_EQ(window.left, (area.right - (window.right - window.left)) / 2);
        EXPECT_EQ(window.top, (area.bottom - (window.bottom - window.top)) / 2);
        Type(Page(sheet, 0), IDC_POP3, "pop.example.jp");
        Type(Page(sheet, 1), IDC_PORT, "995");
        Click(Page(sheet, 1), IDC_APOP);
        HWND page = Page(sheet, 2);
        EXPECT_EQ(Read(page, IDC_NTPS), Settings.NTPS);
        Type(page, IDC_NTPS, server);
        Click(page, IDC_SYNC);  // returns once the exchange is over
        Lines lines = SplitLines(Read(page, IDC_SYNCREPORT));
        EXPECT_EQ(lines.size() == 3 ? lines[2] : "", "NTPサーバの時刻に同期しました\r\n");
        Type(page, IDC_NTPS, "ntp.example.jp");
        Press(sheet, PSBTN_CANCEL);
    });
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, 0);
    EXPECT_FALSE(StoreExists());
    EXPECT_EQ(memcmp(&before, &Settings, sizeof Settings), 0);
}

TEST_F(Ui, OkWritesTheGroupOfEachPageThatWasOpened)
{
    CopyText(Settings.USER, sizeof Settings.USER, "旧ユーザ");
    CopyText(Settings.PASS, sizeof Settings.PASS, "s3cret");
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\old\\mail.exe");
    CopyText(Settings.PARA, sizeof Settings.PARA, "-x");
    Settings.TIME = 7;
    Settings.ALLM = 4;
    RunSheet([](HWND sheet) {
        HWND page = Page(sheet, 0);
        EXPECT_EQ(Read(page, IDC_USER), "旧ユーザ");
        EXPECT_EQ(Read(page, IDC_TIME), "7");
        Type(page, IDC_USER, L"\u5C71\u7530\u30BD\u301C");  // 山田ソ〜, the wave dash as Unicode sources write it
        Type(page, IDC_TIME, "99999");  // beyond what the timer holds
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(StoredText("USER"), "山田ソ～");  // the wave dash of code page 932
    EXPECT_EQ(ReadStored("USER").bytes.size(), 64u);  // the whole field, as any version stored it
    EXPECT_EQ(StoredNumber("TIME"), 35791);
    EXPECT_FALSE(ReadStored("PORT").present);
    EXPECT_FALSE(ReadStored("NTPS").present);

    RunSheet([](HWND sheet) {
        HWND page = Page(sheet, 1);
        EXPECT_EQ(Read(page, IDC_MAILER), "C:\\old\\mail.exe -x");
        EXPECT_TRUE(Checked(page, IDC_DCHK) && Checked(page, IDC_TLS_NONE));
        Click(page, IDC_TLS_IMPLICIT);
        Click(page, IDC_TLS_STLS);
        Click(page, IDC_DMAL);
        EXPECT_FALSE(Checked(page, IDC_TLS_IMPLICIT) || Checked(page, IDC_DCHK));  // two radio groups
        Type(page, IDC_PORT, "995");
        Click(page, IDC_STCH);
        Click(page, IDC_PENC);  // Windows' own data protection, under Wine too
        Type(page, IDC_MAILER, "\"C:\\Program Files\\メール\\run.cmd\" /check");
        EXPECT_FALSE(Checked(page, IDC_SIGNIN));
        Click(page, IDC_SIGNIN);
        Press(sheet, PSBTN_OK);
    });
    const std::pair<const char *, int32_t> numbers[] = {{"PORT", 995}, {"APOP", 0}, {"STCH", 1}, {"DCHK", 0},
                                                        {"DMAL", 1},   {"ALLM", 4}, {"TLSM", 1}, {"PENC", 1}};
    for (auto [name, value] : numbers)
        EXPECT_EQ(StoredNumber(name), value) << name;
    EXPECT_EQ(StoredText("EXEC"), "C:\\Program Files\\メール\\run.cmd");
    EXPECT_EQ(StoredText("PARA"), "/check");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(RunValue(), L"\"" + std::wstring(self) + L"\"");  // started with Windows
    // Disabled in Task Manager, it shows as off, and OK leaves it so; checked, it starts again.
    const BYTE disabled[12] = {3};
    const wchar_t *approved = L"" SIGN_IN_APPROVED_KEY_PATH, *name = L"" SIGN_IN_VALUE;
    RegSetKeyValueW(HKEY_CURRENT_USER, approved, name, REG_BINARY, disabled, sizeof disabled);
    for (bool check : {false, true}) {
        RunSheet([&](HWND sheet) {
            HWND page = Page(sheet, 1);
            EXPECT_FALSE(Checked(page, IDC_SIGNIN));
            if (check)
                Click(page, IDC_SIGNIN);
            Press(sheet, PSBTN_OK);
        });
        EXPECT_EQ(RunValue(), L"\"" + std::wstring(self) + L"\"");  // left as it was, then written
    }
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, approved, name, RRF_RT_ANY, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    // The box shows the Run value's state; cleared, the value goes.
    RunSheet([](HWND sheet) {
        HWND page = Page(sheet, 1);
        EXPECT_TRUE(Checked(page, IDC_SIGNIN));
        Click(page, IDC_SIGNIN);
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(RunValue(), L"");
}

// What the program cannot keep whole and as typed keeps the sheet open on its page, says why and
// writes nothing: a character without a form in code page 932, a text longer than its field (a
// full-width character takes two bytes), a mail-program text that does not split.
TEST_F(Ui, AFieldTheProgramCannotKeepIsRefusedOnItsPage)
{
    const std::string exe = "C:\\" + std::string(252, 'm') + ".exe";  // 259 bytes, the most a path may have
    const struct {
        int page, id;
        std::wstring text;
        const char *caption, *message;
    } cases[] = {
        {0, IDC_PASS, L"caf\u00e9", SHEET_CAPTION, "「POP3パスワード」に使えない文字"},
        {0, IDC_USER, std::wstring(64, L'u'), SHEET_CAPTION, "「POP3ユーザ名」が長すぎます。\n63 バイトまで"},
        {0, IDC_PASS, std::wstring(32, L'\u3042'), SHEET_CAPTION, "「POP3パスワード」が長すぎます。\n63 バイトまで"},
        {1, IDC_MAILER, L"mailer -x", MAILER_BOX_CAPTION, "メールソフトの実行ファイルを特定できません"},
        {1, IDC_MAILER, Wide("\"" + exe + "\" " + std::string(256, 'a')), MAILER_BOX_CAPTION, "メールソフトのパスか引数が長すぎます"},
        {2, IDC_NTPS, std::wstring(256, L'n'), SHEET_CAPTION, "「NTPサーバ名」が長すぎます。\n255 バイトまで"},
    };
    for (const auto &c : cases)
        RunSheet([&](HWND sheet) {
            HWND page = Page(sheet, c.page);
            Type(page, c.id, c.text);
            Press(sheet, PSBTN_OK);
            EXPECT_EQ(Answer(c.caption).substr(0, strlen(c.message)), c.message);
            EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)), page);
            Press(sheet, PSBTN_CANCEL);
        });
    EXPECT_FALSE(StoreExists());
    // The longest that fits: a quoted path of 259 bytes and 255 bytes of arguments; any port.
    RunSheet([&](HWND sheet) {
        HWND page = Page(sheet, 1);
        Type(page, IDC_PORT, "70000");
        Type(page, IDC_MAILER, "\"" + exe + "\" " + std::string(255, 'a'));
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(StoredNumber("PORT"), 70000);
    EXPECT_EQ(StoredText("EXEC"), exe);
    EXPECT_EQ(StoredText("PARA"), std::string(255, 'a'));
}

// A key from the keyboard, to the window of the foreground that has the focus.
void PressKey(WORD key)
{
    INPUT keys[2] = {};
    for (INPUT &input : keys) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof keys[0]);
}

HWND Popup() { return FindWindowW(kHelpPopupClass, nullptr); }

TEST_F(Ui, HelpShowsAtTheMouseUntilAKeyOrTheFocusMoves)
{
    RunSheet([](HWND sheet) {
        // F1 on a control that has the focus.
        HWND page = Page(sheet, 1);
        SendMessageW(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(page, IDC_APOP)), TRUE);
        SetForegroundWindow(sheet);
        PressKey(VK_F1);
        ASSERT_TRUE(WaitUntil([] { return Popup() != nullptr; })) << "no popup after F1";
        EXPECT_NE(GetModuleHandleW(L"hhctrl.ocx"), nullptr) << "the HTML Help control was not tried first";
        EXPECT_EQ(WindowText(Popup()), "パスワードを暗号化して送ります\r（サーバがAPOP認証に対応している場合のみ有効）");
        PressKey(VK_SHIFT);
        EXPECT_TRUE(WaitUntil([] { return Popup() == nullptr; })) << "a key did not close it";

        // Asked with the mouse at (300, 200), as the caption's "?" button asks: its top centre at the
        // mouse; a new popup replaces the old one; a label has none.
        auto ask = [&](int index, int id) {
            HWND page = Page(sheet, index);
            HELPINFO help = {sizeof help, HELPINFO_WINDOW, id, GetDlgItem(page, id), 0, {300, 200}};
            SendMessageW(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
            return Popup() != nullptr ? WindowText(Popup()) : "(none)";
        };
        EXPECT_EQ(ask(2, IDC_NTPS), "NTPサーバ名を入力してください");
        RECT one;
        GetWindowRect(Popup(), &one);
        EXPECT_TRUE(one.top == 200 && std::abs((one.left + one.right) / 2 - 300) <= 1);
        EXPECT_EQ(ask(0, IDC_TIME), "自動的にメールチェックする間隔（分）を入力してください");
        EXPECT_EQ(FindWindowExW(nullptr, Popup(), kHelpPopupClass, nullptr), nullptr);
        SetForegroundWindow(sheet);
        EXPECT_TRUE(WaitUntil([] { return Popup() == nullptr; })) << "losing the focus did not close it";
        EXPECT_EQ(ask(0, IDC_POP3_LABEL), "(none)");
        Press(sheet, PSBTN_CANCEL);
    });
}

// The file picked goes into the box alone, quoted if it must be; the record takes it at OK, with
// the box's arguments, and Cancel leaves both as they were.
TEST_F(Ui, TheChooserPutsThePathAloneInTheBoxAndOnlyOkTakesIt)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::string folder = Narrow(temp) + "ポルウィック テスト", path = folder + "\\MAILER.EXE";
    CreateDirectoryW(Wide(folder).c_str(), nullptr);
    CloseHandle(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\old\\mail.exe");
    CopyText(Settings.PARA, sizeof Settings.PARA, "-x");
    for (int button : {PSBTN_CANCEL, PSBTN_OK})
        RunSheet([&](HWND sheet) {
            HWND page = Page(sheet, 1);
            PostMessageW(GetDlgItem(page, IDC_CHOOSE_MAILER), BM_CLICK, 0, 0);  // the dialog is modal
            HWND chooser = WaitDialog(MAILER_CHOOSER_TITLE);
            ASSERT_NE(chooser, nullptr);
            SetDlgItemTextW(chooser, 0x47C, Wide(path).c_str());  // its file name box
            PostMessageW(chooser, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitUntil([&] { return Read(page, IDC_MAILER) == path; })) << Read(page, IDC_MAILER);
            EXPECT_STREQ(Settings.EXEC, "C:\\old\\mail.exe");
            Press(sheet, button);
        });
    EXPECT_TRUE(Settings.EXEC == path && Settings.PARA == std::string());
    EXPECT_EQ(StoredText("EXEC"), path);
    EXPECT_EQ(StoredText("PARA"), "");
    DeleteFileW(Wide(path).c_str());
    RemoveDirectoryW(Wide(folder).c_str());
}

}  // namespace
