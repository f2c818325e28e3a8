// pollwick.exe under Wine, driven from outside as the shell and the user drive it: the mouse on
// its icon, its menu commands, the shell's and the system's messages, its windows and its key.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <prsht.h>

#include <atomic>
#include <string>
#include <thread>

#include "clock/sntp.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tests/support/harness.h"
#include "tests/support/win_harness.h"

namespace {

// The mouse itself, as the user uses it: the pointer there, then times clicks of the left button.
void Click(POINT at, int times = 1)
{
    SetCursorPos(at.x, at.y);
    Sleep(200);
    for (int i = 0; i < times; i++) {
        INPUT press[2] = {{INPUT_MOUSE, {}}, {INPUT_MOUSE, {}}};
        press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, press, sizeof press[0]);
        Sleep(60);
    }
}

// What is in front, for a failure's message: its class and caption.
std::string Front()
{
    HWND front = GetForegroundWindow();
    wchar_t name[64] = L"";
    GetClassNameW(front, name, 64);
    DWORD process = 0;
    GetWindowThreadProcessId(front, &process);
    char text[256];
    snprintf(text, sizeof text, "in front: %p %ls \"%s\" (process %lu)", (void *)front, name, WindowText(front).c_str(), process);
    return text;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearStore();
        marker_ = "Z:" + Environment("POLLWICK_FIXTURES") + "\\mailer-ran.txt";
        DeleteFileA(marker_.c_str());
    }
    void TearDown() override
    {
        ClearStore();
        DeleteFileA(marker_.c_str());
    }

    // A complete account on the tests' Dovecot, and a mail program whose run leaves a mark.
    void StoreAccount(int messages, bool checkAtStart, int minutes = 5)
    {
        SetMailboxCount(messages);
        PutStoredText("POP3", "127.0.0.1");
        PutStoredText("USER", TestMailbox().user);
        PutStoredText("PASS", TestMailbox().password);
        PutStoredNumber("PORT", DovecotPort());
        PutStoredNumber("TIME", minutes);
        PutStoredNumber("STCH", checkAtStart ? 1 : 0);
        PutStoredText("EXEC", Narrow((OwnFolder() + L"\\mailer.exe").c_str()));
        PutStoredText("PARA", marker_);
    }
    bool MailerRan() const { return GetFileAttributesA(marker_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    // Ends the program from its menu; its icon must go with it.
    static void Exit(Program &program)
    {
        ASSERT_TRUE(program.Exit());
        EXPECT_TRUE(WaitUntil([] { return ShownPicture() == 0; }, 3000)) << "the icon stayed behind";
    }
    std::string Connect() const { return "[system] 127.0.0.1:" + std::to_string(DovecotPort()) + " に接続します\r\n"; }

    std::string marker_;
};

// A first start, or a protected password that cannot be read here: the program asks for the
// account before anything else; the exit writes every value but that password, which stays as it
// was stored until the user sets one.
TEST_F(EndToEnd, AFirstStartAsksForTheAccountAndTheExitWritesEveryValue)
{
    PutStoredText("POP3", "127.0.0.1");
    PutStoredText("USER", "someone");
    PutStoredNumber("PENC", 1);
    PutStored("EPAS", "not sealed by this user");
    Program program;
    ASSERT_NE(WaitDialog(PROMPT_BOX_CAPTION), nullptr);
    EXPECT_EQ(FindDialog(LOG_WINDOW_CAPTION), nullptr);  // the log window comes after the sheet
    EXPECT_EQ(ShownPictureSettled(IDI_NO_MAIL), IDI_NO_MAIL);
    EXPECT_EQ(Answer(PROMPT_BOX_CAPTION), "POP3の設定を行ってください。");
    HWND sheet = WaitDialog(SHEET_CAPTION);
    ASSERT_NE(sheet, nullptr);
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(program.WaitForLog("[system] Error: 保存されたパスワードを復号できないため、"));
    EXPECT_FALSE(IsWindowVisible(FindDialog(LOG_WINDOW_CAPTION)));
    Exit(program);
    for (const SettingField &field : kSettingFields)
        EXPECT_EQ(ReadStored(field.name).present, std::string(field.name) != "PASS") << field.name;
    EXPECT_EQ(ReadStored("EPAS").bytes, "not sealed by this user");
    EXPECT_EQ(StoredNumber("PORT"), 110);
}

TEST_F(EndToEnd, TheTimerCountsMinutesFromStartAndAfterEachCheck)
{
    StoreAccount(3, true, 1);
    {
        Program program;
        ASSERT_TRUE(program.WaitForLog("[system]  1 分後に再接続します...\r\n"));
        EXPECT_EQ(ShownPictureSettled(IDI_NEW_MAIL), IDI_NEW_MAIL);
        Sleep(2500);  // a minute is not a second
        EXPECT_EQ(program.Count(Connect()), 1u);
        Exit(program);
    }
    EXPECT_EQ(StoredNumber("ALLM"), 3);
    EXPECT_EQ(StoredNumber("OLDM"), 0);
}

// Without the start-up check nothing runs before the interval (here one the timer cannot hold,
// brought into range); the stored counts bring back their picture.
TEST_F(EndToEnd, ClicksOnTheIconAcknowledgeAndCheckOrStartTheMailer)
{
    StoreAccount(3, false, 99999);
    PutStoredNumber("ALLM", 3);
    {
        Program program;
        POINT icon;
        ASSERT_EQ(ShownPictureSettled(IDI_NEW_MAIL), IDI_NEW_MAIL);
        ASSERT_EQ(ShownPicture(&icon), IDI_NEW_MAIL);
        Click(icon);
        EXPECT_EQ(ShownPictureSettled(IDI_OLD_MAIL), IDI_OLD_MAIL);
        Sleep(1000);  // not part of a double click
        Click(icon, 2);  // DCHK is set by default
        EXPECT_TRUE(program.WaitForLog("35791 分後に再接続します"));
        EXPECT_EQ(program.Count(Connect()), 1u);
        EXPECT_EQ(ShownPictureSettled(IDI_OLD_MAIL), IDI_OLD_MAIL);  // the same three, all seen
        // A click on the new-mail notification, as the shell tells of it, does the same.
        program.Tray(NIN_BALLOONUSERCLICK);
        EXPECT_TRUE(WaitUntil([&] { return program.Count(Connect()) == 2; }, 10000));
        Exit(program);
    }
    EXPECT_EQ(StoredNumber("OLDM"), 3);
    EXPECT_EQ(StoredNumber("TIME"), 35791);
    EXPECT_FALSE(MailerRan());

    PutStoredNumber("DCHK", 0);
    PutStoredNumber("DMAL", 1);
    {
        Program program;
        program.Tray(WM_LBUTTONDBLCLK);
        EXPECT_TRUE(WaitUntil([&] { return MailerRan(); }, 10000));
        EXPECT_EQ(program.Count(Connect()), 0u);
        Exit(program);
    }
    // A mail program that cannot be started says so in the log.
    PutStoredText("EXEC", "C:\\nowhere\\mail.exe");
    Program program;
    program.Command(IDM_MAILER);
    EXPECT_TRUE(program.WaitForLog("Error: メールソフト C:\\nowhere\\mail.exe を起動できません："));
    Exit(program);
}

TEST_F(EndToEnd, MenuCommandsAndWhatTheyDoWhileTheSheetIsOpen)
{
    StoreAccount(2, false);
    Program program;
    ASSERT_TRUE(WaitUntil([] { return FindDialog(LOG_WINDOW_CAPTION) != nullptr; }, 10000));
    program.Command(IDM_SHOWLOG);
    EXPECT_TRUE(WaitUntil([] { return IsWindowVisible(FindDialog(LOG_WINDOW_CAPTION)) != FALSE; }));
    program.Command(IDM_MAILER);
    EXPECT_TRUE(WaitUntil([&] { return MailerRan(); }, 10000));
    program.Command(IDM_CHECK);
    ASSERT_TRUE(program.WaitForLog("分後に再接続します"));
    EXPECT_NE(program.Log().find("[recv] +OK 2 "), std::string::npos);

    // The version box and the sheet open in front, each with a button on the taskbar (the box is
    // owned by no window, the sheet says so itself).
    program.Command(IDM_VERSION);
    HWND version = WaitDialog(VERSION_BOX_CAPTION);
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == version; })) << Front();
    EXPECT_EQ(GetWindow(version, GW_OWNER), nullptr);
    EXPECT_EQ(Answer(VERSION_BOX_CAPTION).substr(0, 17), "Pollwick Version ");

    program.Command(IDM_SETTINGS);
    HWND sheet = WaitDialog(SHEET_CAPTION);
    ASSERT_NE(sheet, nullptr);
    // Its first page sets the style and brings it forward; the sheet shows itself (and takes the
    // front again) only after that.
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(sheet) && GetForegroundWindow() == sheet; })) << Front();
    EXPECT_TRUE(WaitUntil([&] { return (GetWindowLongW(sheet, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0; }));
    EXPECT_TRUE(program.WaitForLog("[system] 設定開始：自動接続を中断します...\r\n"));
    // While it is open: no check, a double click does nothing, and 設定 brings the same sheet to
    // the front again.
    RECT log;
    GetWindowRect(FindDialog(LOG_WINDOW_CAPTION), &log);
    Click({(log.left + log.right) / 2, log.top + 8});  // on its caption
    EXPECT_TRUE(WaitUntil([] { return GetForegroundWindow() == FindDialog(LOG_WINDOW_CAPTION); }));
    program.Command(IDM_CHECK);
    program.Command(IDM_SETTINGS);
    program.Tray(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == sheet; }));
    Sleep(2000);
    EXPECT_EQ(program.Count(Connect()), 1u);
    EXPECT_EQ(FindWindowExW(nullptr, sheet, L"#32770", Wide(SHEET_CAPTION).c_str()), nullptr);
    // ログ表示 brings the log forward; 設定, what the sheet shows in front of itself: here the box
    // that refuses a user name of 64 bytes.
    program.Command(IDM_SHOWLOG);
    EXPECT_TRUE(WaitUntil([] { return GetForegroundWindow() == FindDialog(LOG_WINDOW_CAPTION); }));
    HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    SetDlgItemTextW(page, IDC_USER, std::wstring(64, L'u').c_str());
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    HWND box = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (box = GetLastActivePopup(sheet)) != sheet && GetForegroundWindow() == box; }));
    program.Command(IDM_SHOWLOG);
    EXPECT_TRUE(WaitUntil([] { return GetForegroundWindow() == FindDialog(LOG_WINDOW_CAPTION); }));
    program.Command(IDM_SETTINGS);
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == box; }));
    EXPECT_EQ(Answer(SHEET_CAPTION).substr(0, 16), "「POP3ユーザ名」");
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(program.WaitForLog("[system] 設定終了： 5 分後に再接続します...\r\n"));

    // The right button opens the menu; keys posted to its owner pick the fourth entry, ログ表示.
    ShowWindow(FindDialog(LOG_WINDOW_CAPTION), SW_HIDE);
    program.Tray(WM_RBUTTONUP);
    ASSERT_TRUE(WaitUntil([] { return FindWindowW(L"#32768", nullptr) != nullptr; }));
    Sleep(300);
    for (int i = 0; i < 4; i++)
        PostMessageW(program.Window(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(program.Window(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitUntil([] { return IsWindowVisible(FindDialog(LOG_WINDOW_CAPTION)) != FALSE; }));

    // With the key readable only, 終了 still ends the program: the save at exit says why it failed,
    // and by then the icon has gone (removed by the program, not left for the shell to find).
    DenyStoreWrites();
    program.Command(IDM_EXIT);
    ASSERT_NE(WaitDialog(STORE_FAILURE_CAPTION), nullptr);
    EXPECT_EQ(ShownPicture(), 0) << "the icon was still there while the settings were saved";
    EXPECT_EQ(Answer(STORE_FAILURE_CAPTION), "エラーコード:5");
    EXPECT_TRUE(program.Ended(10000));
}

TEST_F(EndToEnd, ANewShellGetsTheIconBackAndWakingUpChecksAtOnce)
{
    StoreAccount(3, false);
    PutStoredNumber("ALLM", 3);
    Program program;
    ASSERT_EQ(ShownPictureSettled(IDI_NEW_MAIL), IDI_NEW_MAIL);
    // A shell that starts anew knows no icons: take ours away as a crash of the shell would, then
    // announce the new shell. The icon returns with the picture it had.
    NOTIFYICONDATAA icon = {NOTIFYICONDATAA_V1_SIZE};
    icon.hWnd = program.Window();
    icon.uID = ID_TRAYICON;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
    EXPECT_TRUE(WaitUntil([] { return ShownPicture() == 0; }));
    program.Send(RegisterWindowMessageA("TaskbarCreated"), 0);
    EXPECT_EQ(ShownPictureSettled(IDI_NEW_MAIL), IDI_NEW_MAIL);
    // A new shell that never says so: the next change of picture finds the icon gone, and adds it.
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
    EXPECT_TRUE(WaitUntil([] { return ShownPicture() == 0; }));
    program.Tray(WM_LBUTTONDOWN);
    EXPECT_EQ(ShownPictureSettled(IDI_OLD_MAIL), IDI_OLD_MAIL);

    program.Send(WM_POWERBROADCAST, PBT_APMSUSPEND);  // going to sleep does nothing
    Sleep(1500);
    EXPECT_EQ(program.Count(Connect()), 0u);
    program.Send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    ASSERT_TRUE(program.WaitForLog("[system]  5 分後に再接続します...\r\n"));
    EXPECT_EQ(program.Count(Connect()), 1u);
    Exit(program);
}

// Whatever code page the system has for programs that are not Unicode: a name stored as Windows
// stores any text (UTF-16) goes to the server as the program's bytes, and the exit stores it back
// unchanged. (What the program shows is read back in every locale by the suite of its windows.)
TEST_F(EndToEnd, TextsOnTheWireOnScreenAndInTheKeyOnEveryCodePage)
{
    FaultServer server(Pop3Session("+OK ようこそ <1.2@x>\r\n", "+OK 2 20\r\n"));
    PutStoredText("POP3", "127.0.0.1");
    PutStoredText("USER", "山田ソ");
    PutStoredText("PASS", "パス");
    PutStoredNumber("PORT", server.Port());
    PutStoredNumber("STCH", 1);
    Program program;
    ASSERT_TRUE(program.WaitForLog("分後に再接続します"));
    EXPECT_EQ(server.Received(), "USER 山田ソ\r\nPASS パス\r\nSTAT\r\nQUIT\r\n");
    Exit(program);
    EXPECT_EQ(ReadStored("USER").bytes.c_str(), std::string("山田ソ"));
}

// A query only saves: the session may still be cancelled. Only its real end closes the program.
TEST_F(EndToEnd, TheEndOfTheSessionSavesAndClosesOnlyWhenItEnds)
{
    StoreAccount(0, false);
    PutStoredNumber("ALLM", 7);
    PutStoredNumber("OLDM", 2);
    Program program;
    ASSERT_NE(program.Window(), nullptr);
    EXPECT_EQ(ShownPictureSettled(IDI_NEW_AND_OLD_MAIL), IDI_NEW_AND_OLD_MAIL);
    ClearStore();
    EXPECT_EQ(program.Send(WM_QUERYENDSESSION, 0), TRUE);
    EXPECT_EQ(StoredNumber("ALLM"), 7);
    EXPECT_EQ(StoredNumber("OLDM"), 2);
    program.Send(WM_ENDSESSION, FALSE);  // cancelled: all as it was
    Sleep(500);
    EXPECT_TRUE(IsWindow(program.Window()));
    EXPECT_EQ(ShownPicture(), IDI_NEW_AND_OLD_MAIL);
    ClearStore();
    program.Send(WM_ENDSESSION, TRUE);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(program.Window()); }, 10000));
    EXPECT_TRUE(WaitUntil([] { return ShownPicture() == 0; }, 3000)) << "the icon stayed behind";
    EXPECT_EQ(StoredNumber("OLDM"), 2);
}

// A second start is a second program beside the first, on the same key: each checks and keeps its
// own icon, and the end of one leaves the other as it was.
TEST_F(EndToEnd, TwoProgramsSideBySideKeepTheirOwnIcons)
{
    StoreAccount(2, false);
    Program first, second;
    ASSERT_TRUE(first.Window() != nullptr && second.Window() != nullptr && first.Window() != second.Window());
    auto icons = [] {
        int count = 0;
        ShownPicture(nullptr, &count);
        return count;
    };
    EXPECT_TRUE(WaitUntil([&] { return icons() == 2; })) << icons() << " icons";
    for (Program *program : {&first, &second}) {
        program->Command(IDM_CHECK);
        EXPECT_TRUE(program->WaitForLog("[recv] +OK 2 "));
    }
    ASSERT_TRUE(first.Exit());
    EXPECT_TRUE(WaitUntil([&] { return icons() == 1; }, 3000)) << icons() << " icons";
    second.Command(IDM_CHECK);
    EXPECT_TRUE(WaitUntil([&] { return second.Count(Connect()) == 2; }, 10000));
    EXPECT_TRUE(second.Exit());
}

// The shell as it may be: at sign-in not taking icons yet, and never announcing itself when it
// does; or having ours already though our adding it timed out, when it takes changes and refuses
// to add it twice. A window of the notification area's class in front of the real one stands for
// it (Wine gives each call's NIM_ message as the data's kind).
// When wakeDuring holds a window, the stand-in sends it the resume broadcast from inside the next
// change of its icon, as the system may while that program waits on the shell.
std::atomic<int> trayCalls;
std::atomic<bool> trayHasOurs;
std::atomic<HWND> wakeDuring;
LRESULT CALLBACK StandInShell(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    trayCalls++;
    if (HWND program = wakeDuring.exchange(nullptr))
        SendMessageW(program, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    return trayHasOurs && reinterpret_cast<const COPYDATASTRUCT *>(lParam)->dwData == NIM_MODIFY;
}

// The stand-in shell on a thread of its own, found before the real one while it lives.
struct StandInTray {
    StandInTray()
    {
        thread = std::thread([this] {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = StandInShell;
            windowClass.lpszClassName = L"Shell_TrayWnd";
            RegisterClassW(&windowClass);
            window = CreateWindowExW(WS_EX_TOPMOST, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     nullptr, nullptr);
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0))
                DispatchMessageW(&message);
        });
        WaitUntil([&] { return window.load() != nullptr; });
    }
    ~StandInTray() { Close(); }
    void Close()
    {
        if (!thread.joinable())
            return;
        PostMessageW(window, WM_CLOSE, 0, 0);
        thread.join();
    }
    std::atomic<HWND> window{nullptr};
    std::thread thread;
};

TEST_F(EndToEnd, TheIconReachesAShellThatIsNotReadyAndIsNotAddedTwice)
{
    StoreAccount(0, false);
    trayHasOurs = true;
    StandInTray standIn;
    ASSERT_NE(standIn.window.load(), nullptr);
    ASSERT_EQ(FindWindowW(L"Shell_TrayWnd", nullptr), standIn.window.load()) << "the stand-in is not the one found";
    Program program;
    Sleep(1000);
    int calls = trayCalls;
    Sleep(4500);
    EXPECT_EQ(trayCalls, calls) << "asked again for an icon the shell has";
    // A new shell that takes no icon yet is asked again every 2 s; once the real one is back,
    // the icon is there soon after, with no word from the shell.
    trayHasOurs = false;
    trayCalls = 0;
    program.Send(RegisterWindowMessageW(L"TaskbarCreated"), 0);
    Sleep(4500);
    EXPECT_GE(trayCalls, 3) << "not asked again after a new shell refused";
    EXPECT_EQ(ShownPicture(), 0);
    standIn.Close();
    EXPECT_TRUE(WaitUntil([] { return ShownPicture() == IDI_NO_MAIL; }, 4000)) << "no icon without TaskbarCreated";
    Exit(program);
}

// Waking from sleep while a check is changing the icon: the check asked for comes right after
// that one, not an interval later.
TEST_F(EndToEnd, WakingWhileACheckChangesTheIconChecksRightAfterIt)
{
    StoreAccount(0, false);
    trayHasOurs = true;
    StandInTray standIn;
    ASSERT_EQ(FindWindowW(L"Shell_TrayWnd", nullptr), standIn.window.load()) << "the stand-in is not the one found";
    Program program;
    ASSERT_TRUE(WaitUntil([] { return FindDialog(LOG_WINDOW_CAPTION) != nullptr; }));  // it has started
    wakeDuring = program.Window();
    program.Command(IDM_CHECK);
    EXPECT_TRUE(WaitUntil([&] { return program.Count(Connect()) == 2; }, 10000)) << program.Count(Connect());
    EXPECT_EQ(wakeDuring.exchange(nullptr), nullptr) << "the shell heard nothing from the check";
    standIn.Close();
    Exit(program);
}

// Right after waking the network may not be back: a check that fails on it is tried once more
// after 25 s, and only then; a refusal by the server itself waits for the interval.
TEST_F(EndToEnd, ACheckAfterWakingThatFindsNoNetworkIsTriedOnceMore)
{
    FaultServer refusing({Send("-ERR not now\r\n"), ReadLine()});
    StoreAccount(1, false);
    for (int port : {refusing.Port(), 9}) {  // nothing listens on 9
        PutStoredNumber("PORT", port);
        Program program;
        ASSERT_TRUE(WaitUntil([] { return FindDialog(LOG_WINDOW_CAPTION) != nullptr; }));  // it has started
        program.Send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
        if (port != 9) {
            EXPECT_TRUE(program.WaitForLog("[system]  5 分後に再接続します...\r\n"));
        } else {
            EXPECT_TRUE(program.WaitForLog("[system] スリープからの復帰直後のため、25 秒後に再接続します...\r\n"));
            EXPECT_TRUE(program.WaitForLog("[system]  5 分後に再接続します...\r\n", 30000));
            EXPECT_EQ(program.Count("127.0.0.1:9 に接続します"), 2u);
        }
        Exit(program);
    }
}

// Started with Windows: the value under the Run key follows this program when it has moved (the
// program it names is gone), and stays with another copy that is still there.
TEST_F(EndToEnd, TheSignInValueFollowsTheProgramWhenItMovesAndStaysWithAnotherCopy)
{
    StoreAccount(0, false);
    const std::wstring ours = L"\"" + Program::Path() + L"\"";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L""}, {L"\"C:\\Old Place\\pollwick.exe\"", ours}, {L"\"C:\\windows\\notepad.exe\"", L"\"C:\\windows\\notepad.exe\""},
    };
    for (const auto &[before, after] : cases) {
        if (!before.empty())
            RegSetKeyValueW(HKEY_CURRENT_USER, L"" SIGN_IN_KEY_PATH, L"" SIGN_IN_VALUE, REG_SZ, before.c_str(),
                            static_cast<DWORD>((before.size() + 1) * 2));
        Program program;
        ASSERT_TRUE(WaitUntil([] { return FindDialog(LOG_WINDOW_CAPTION) != nullptr; }));  // started up
        EXPECT_EQ(Narrow(RunValue().c_str()), Narrow(after.c_str()));
        Exit(program);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"" SIGN_IN_KEY_PATH, L"" SIGN_IN_VALUE);
}

// The clock. Where the program may not set it, an elevated copy of itself does, started with
// "runas" (Windows asks the user; Wine just starts it). That copy takes only the switch and a
// server text, makes one exchange of its own, sets the clock and ends, showing nothing and writing
// no setting; any other command line starts the program as usual.
TEST_F(EndToEnd, AnElevatedCopySetsTheClockAndDoesNothingElse)
{
    Program copy(L"/synctime \"127.0.0.1:" + std::to_wstring(FixtureNumber("chrony/port")) + L"\"");
    ASSERT_TRUE(copy.Ended(10000));
    EXPECT_EQ(copy.Window(), nullptr);
    EXPECT_EQ(copy.ExitCode(), 0u);  // chrony's time, which Wine takes: the host's own
    EXPECT_FALSE(StoreExists());

    // An NTP server whose time Wine refuses to set, so that the program starts its copy, which asks
    // the server again, is refused alike, and ends with the system's error.
    intptr_t server = OpenTestSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0);
    std::atomic<int> requests = 0;
    std::atomic<bool> done = false;
    std::thread answering([&] {
        char request[48], reply[48] = {0x24, 2};  // a server, stratum 2
        const unsigned char time2001[4] = {0xBF, 0xAE, 0xA7, 0x80};  // 2001-11-28 00:00:00 UTC
        memcpy(reply + 40, time2001, 4);
        sockaddr_in client = {};
        int length = sizeof client;
        while (!done)
            if (WaitReadable(server, 50) &&
                recvfrom(server, request, 48, 0, reinterpret_cast<sockaddr *>(&client), &length) == 48) {
                requests++;
                memcpy(reply + 24, request + 40, 8);
                sendto(server, reply, 48, 0, reinterpret_cast<sockaddr *>(&client), sizeof client);
            }
    });
    StoreAccount(0, false);
    {
        Program program(L"/synctime");
        ASSERT_NE(program.Window(), nullptr);
        program.Command(IDM_SETTINGS);
        HWND sheet = WaitDialog(SHEET_CAPTION);
        ASSERT_NE(sheet, nullptr);
        SendMessageW(sheet, PSM_SETCURSEL, 2, 0);
        HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        SetDlgItemTextW(page, IDC_NTPS, Wide("127.0.0.1:" + std::to_string(LocalPort(server))).c_str());
        PostMessageW(GetDlgItem(page, IDC_SYNC), BM_CLICK, 0, 0);
        Lines report;
        EXPECT_TRUE(WaitUntil([&] { return (report = SplitLines(WindowText(GetDlgItem(page, IDC_SYNCREPORT)))).size() == 5; }));
        EXPECT_EQ(Lines(report.begin() + 3, report.end()),
                  (Lines{"Error: ローカル時刻の設定に失敗\r\n", "時刻を変更する権限がありません（エラー 1314）\r\n"}));
        EXPECT_EQ(requests, 2);
        PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        Exit(program);
    }
    done = true;
    answering.join();
    CloseTestSocket(server);
}

}  // namespace
