// The settings sheet under Wine, worked from a second thread as a user would, with the registry
// read back through the API afterwards.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "settings/help_popup.h"
#include "settings/settings.h"
#include "settings/sheet.h"
#include "settings/store_win32.h"
#include "shell/text.h"
#include "tests/support/fault_udp_server.h"
#include "tests/support/test_support.h"

namespace {

const char kTestKey[] = "Software\\PollwickTests\\Sheet";
const char kChooserCaption[] = "メールソフトを登録";
constexpr int kChooserFileName = 0x47C;  // the open-file dialog's file name box
constexpr int kChooserFilter = 0x470;    // and its list of file types

HWND owner;
DWORD sheetThread;

bool WaitUntil(const std::function<bool()> &done, int ms = 5000)
{
    for (int waited = 0; !done(); waited += 20) {
        if (waited >= ms)
            return false;
        Sleep(20);
    }
    return true;
}

BOOL CALLBACK FindShownSheet(HWND window, LPARAM found)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    // It exists, still in the screen's corner, before its first page has placed it and shown it.
    if (strcmp(name, "#32770") == 0 && GetWindow(window, GW_OWNER) == owner && IsWindowVisible(window))
        *reinterpret_cast<HWND *>(found) = window;
    return TRUE;
}

HWND FindSheet()
{
    HWND found = nullptr;
    EnumThreadWindows(sheetThread, FindShownSheet, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindPopup() { return FindWindowA(kHelpPopupClass, nullptr); }
HWND FindChooser() { return FindWindowA("#32770", kChooserCaption); }

std::string Text(HWND window)
{
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string Read(HWND page, int id) { return Text(GetDlgItem(page, id)); }
void Type(HWND page, int id, const std::string &text)
{
    SendMessageA(GetDlgItem(page, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
void Click(HWND page, int id) { SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }
bool Checked(HWND page, int id) { return SendMessageA(GetDlgItem(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

HWND ShowPage(HWND sheet, int index)
{
    SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

void Press(HWND sheet, int button) { PostMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0); }

// A key from the keyboard, to the window of the foreground that has the focus.
void PressKey(WORD key)
{
    INPUT keys[2] = {};
    for (INPUT &input : keys) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof keys[0]);
}

// F1 on a control of the sheet, with the mouse at point.
void PressF1On(HWND sheet, HWND page, int id, POINT point)
{
    SendMessageA(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(page, id)), TRUE);
    SetForegroundWindow(sheet);
    SetCursorPos(point.x, point.y);
    PressKey(VK_F1);
}

// A help request as the caption's "?" button makes it, for controls that cannot take the focus.
void AskHelp(HWND page, int id)
{
    HELPINFO help = {sizeof help, HELPINFO_WINDOW, id, GetDlgItem(page, id), 0, {300, 200}};
    SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
}

// The screen under window as a 24-bit BMP in the artifacts directory, if there is one.
void SaveWindowShot(HWND window, const std::string &name)
{
    RECT r;
    GetWindowRect(window, &r);
    BITMAPINFOHEADER info = {sizeof info, r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<char> pixels(static_cast<size_t>((info.biWidth * 3 + 3) / 4 * 4 * info.biHeight));
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, info.biWidth, info.biHeight);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, info.biWidth, info.biHeight, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(info.biHeight), pixels.data(),
              reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER header = {0x4D42, 0, 0, 0, sizeof header + sizeof info};
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE *file = fopen(("Z:" + Environment("POLLWICK_ARTIFACTS") + "/" + name).c_str(), "wb");
    ASSERT_NE(file, nullptr) << name;
    fwrite(&header, sizeof header, 1, file);
    fwrite(&info, sizeof info, 1, file);
    fwrite(pixels.data(), pixels.size(), 1, file);
    fclose(file);
}

class SheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitCommonControls();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);  // the page templates are ours
        windowClass.lpszClassName = "PollwickSheetTest";
        RegisterClassA(&windowClass);
        owner = CreateWindowExA(WS_EX_TOOLWINDOW, "PollwickSheetTest", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
        sheetThread = GetCurrentThreadId();
    }
    static void TearDownTestSuite() { DestroyWindow(owner); }
    void SetUp() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
        SettingsKeyPath = kTestKey;
        ResetSettings();
    }
    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
        SettingsKeyPath = kSettingsKeyPath;
    }

    // Runs the sheet here while drive works it from another thread. A sheet that drive leaves
    // open is cancelled, so that a failing test cannot hang.
    static void RunSheet(const std::function<void(HWND sheet)> &drive)
    {
        std::thread driver([&] {
            HWND sheet = nullptr;
            if (!WaitUntil([&] { return (sheet = FindSheet()) != nullptr; }, 10000)) {
                ADD_FAILURE() << "the sheet did not open";
                return;
            }
            drive(sheet);
            if (!WaitUntil([&] { return !IsWindow(sheet); }, 3000)) {
                ADD_FAILURE() << "the sheet was left open";
                Press(sheet, PSBTN_CANCEL);
            }
        });
        ShowSettingsSheet(owner);
        driver.join();
    }

    // A stored value's bytes, or "absent"; texts up to their first zero byte, after a check
    // that they were stored at their field's full width.
    static std::string Stored(const char *name, DWORD width = 4)
    {
        HKEY key;
        char data[1024];
        DWORD type = 0, length = sizeof data;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "absent";
        LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data), &length);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return "absent";
        EXPECT_EQ(length, width) << name;
        if (type == REG_DWORD) {
            int32_t value;
            memcpy(&value, data, 4);
            return std::to_string(value);
        }
        return std::string(data, strnlen(data, length));
    }
    static bool KeyExists()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
};

TEST_F(SheetTest, OpensCentredWithThreeTabsAndCancelWritesNothing)
{
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\m.exe");
    SettingsRecord before = Settings;
    RunSheet([](HWND sheet) {
        EXPECT_EQ(Text(sheet), "Pollwick 設定");
        HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
        EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
        char label[32] = "";
        TCITEMA item = {TCIF_TEXT, 0, 0, label, sizeof label, 0, 0};
        SendMessageA(tabs, TCM_GETITEMA, 2, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(label, "おまけ");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(sheet, 0x3021)));  // no Apply button
        RECT area, window;
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(sheet, &window);
        EXPECT_EQ(window.left, (area.right - (window.right - window.left)) / 2);
        EXPECT_EQ(window.top, (area.bottom - (window.bottom - window.top)) / 2);

        HWND page = ShowPage(sheet, 0);
        Type(page, IDC_POP3, "pop.example.jp");
        page = ShowPage(sheet, 1);
        Type(page, IDC_PORT, "995");
        Click(page, IDC_APOP);
        Type(page, IDC_MAILER, "C:\\other.exe -y");
        page = ShowPage(sheet, 2);
        Type(page, IDC_NTPS, "ntp.example.jp");
        Press(sheet, PSBTN_CANCEL);
    });
    EXPECT_FALSE(KeyExists());
    EXPECT_EQ(memcmp(&before, &Settings, sizeof Settings), 0);

    // Wine's work area is the whole screen, whose centre would pass as well: other work areas
    // tell them apart. Only the work area's right and bottom edges place the sheet.
    RECT saved;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &saved, 0);
    for (RECT area : {RECT{0, 0, 800, 600}, RECT{100, 60, 900, 640}}) {
        EXPECT_TRUE(SystemParametersInfoA(SPI_SETWORKAREA, 0, &area, 0));
        RunSheet([&](HWND sheet) {
            RECT window;
            GetWindowRect(sheet, &window);
            EXPECT_EQ(window.left, (area.right - (window.right - window.left)) / 2) << area.right;
            EXPECT_EQ(window.top, (area.bottom - (window.bottom - window.top)) / 2) << area.bottom;
            Press(sheet, PSBTN_CANCEL);
        });
    }
    SystemParametersInfoA(SPI_SETWORKAREA, 0, &saved, 0);
}

TEST_F(SheetTest, OkWithOnlyPageOneOpenedWritesTheBasicGroupAlone)
{
    CopyText(Settings.USER, sizeof Settings.USER, "旧ユーザー");
    Settings.TIME = 7;
    RunSheet([](HWND sheet) {
        HWND page = ShowPage(sheet, 0);
        EXPECT_EQ(Read(page, IDC_USER), "旧ユーザー");
        EXPECT_EQ(Read(page, IDC_TIME), "7");
        Type(page, IDC_POP3, "pop.example.jp");
        Type(page, IDC_USER, "ユーザー");
        Type(page, IDC_PASS, "s3cret");
        Type(page, IDC_TIME, "0");
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(Stored("POP3", 256), "pop.example.jp");
    EXPECT_EQ(Stored("USER", 64), "ユーザー");
    EXPECT_EQ(Stored("PASS", 64), "s3cret");
    EXPECT_EQ(Stored("TIME"), "1");
    for (const char *name : {"EXEC", "PARA", "PORT", "APOP", "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "NTPS", "TLSM"})
        EXPECT_EQ(Stored(name), "absent") << name;

    RunSheet([](HWND sheet) {
        HWND page = ShowPage(sheet, 0);
        EXPECT_EQ(Read(page, IDC_TIME), "1");
        Type(page, IDC_TIME, "99999");  // beyond what the timer holds
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(Stored("TIME"), "35791");
}

TEST_F(SheetTest, PageTwoWritesItsGroupOnlyWhenTheMailProgramIsAccepted)
{
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\old\\mail.exe");
    CopyText(Settings.PARA, sizeof Settings.PARA, "-x");
    Settings.ALLM = 4;
    Settings.OLDM = 2;
    RunSheet([](HWND sheet) {
        HWND page = ShowPage(sheet, 1);
        EXPECT_EQ(Read(page, IDC_PORT), "110");
        EXPECT_EQ(Read(page, IDC_MAILER), "C:\\old\\mail.exe -x");
        EXPECT_TRUE(Checked(page, IDC_DCHK));
        EXPECT_TRUE(Checked(page, IDC_TLS_NONE));
        Click(page, IDC_TLS_IMPLICIT);
        Click(page, IDC_TLS_STLS);
        EXPECT_FALSE(Checked(page, IDC_TLS_IMPLICIT));  // one group of three, apart from the other two
        EXPECT_FALSE(Checked(page, IDC_TLS_NONE));
        Type(page, IDC_PORT, "995");
        Click(page, IDC_APOP);
        Click(page, IDC_STCH);
        Click(page, IDC_DMAL);
        EXPECT_FALSE(Checked(page, IDC_DCHK));  // the two radio buttons are one group
        Type(page, IDC_MAILER, "\"C:\\Program Files\\Mail\\MAILER.EXE\" /check");
        Press(sheet, PSBTN_OK);
    });
    const std::pair<const char *, std::string> stored[] = {
        {"PORT", "995"}, {"APOP", "1"}, {"STCH", "1"}, {"DCHK", "0"}, {"DMAL", "1"}, {"ALLM", "4"}, {"OLDM", "2"},
        {"TLSM", "1"}};
    for (const auto &[name, value] : stored)
        EXPECT_EQ(Stored(name), value) << name;
    EXPECT_EQ(Stored("EXEC", 260), "C:\\Program Files\\Mail\\MAILER.EXE");
    EXPECT_EQ(Stored("PARA", 256), "/check");
    EXPECT_EQ(Stored("NTPS"), "absent");

    // A text that names no program: page 2 writes nothing, and memory keeps what it took in.
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    RunSheet([](HWND sheet) {
        HWND page = ShowPage(sheet, 1);
        EXPECT_EQ(Read(page, IDC_MAILER), "C:\\Program Files\\Mail\\MAILER.EXE /check");
        EXPECT_TRUE(Checked(page, IDC_TLS_STLS));
        Type(page, IDC_PORT, "70000");
        Type(page, IDC_MAILER, "mailer -x");
        Press(sheet, PSBTN_OK);
    });
    for (const char *name : {"EXEC", "PARA", "PORT", "APOP", "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "TLSM"})
        EXPECT_EQ(Stored(name), "absent") << name;
    EXPECT_NE(Stored("TIME"), "absent");
    EXPECT_EQ(Settings.PORT, 70000);
    EXPECT_STREQ(Settings.EXEC, "");
}

TEST_F(SheetTest, SyncFillsTheReportAndTakesTheServerTextAtOnce)
{
    ASSERT_GT(ChronyPort(), 0) << "the chrony fixture did not run";
    const std::string server = "127.0.0.1:" + std::to_string(ChronyPort());
    RunSheet([&](HWND sheet) {
        HWND page = ShowPage(sheet, 2);
        EXPECT_EQ(Read(page, IDC_NTPS), "jp.pool.ntp.org");
        Type(page, IDC_NTPS, server);
        Click(page, IDC_SYNC);  // returns once the exchange is over
        std::vector<std::string> lines = ReportLines(Read(page, IDC_SYNCREPORT));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_NE(lines[1].find(" （NTPサーバ時刻）\r\n"), std::string::npos) << lines[1];
        EXPECT_EQ(lines[2], "NTPサーバの時刻に同期しました\r\n");
        Press(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(Settings.NTPS, server);  // in memory only
    EXPECT_FALSE(KeyExists());

    RunSheet([&](HWND sheet) {
        HWND page = ShowPage(sheet, 2);
        Type(page, IDC_NTPS, "127.0.0.1:9");  // nothing answers there
        Click(page, IDC_SYNC);
        EXPECT_EQ(Read(page, IDC_SYNCREPORT), "Error: タイムアウトしました\r\n");
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(Stored("NTPS", 256), "127.0.0.1:9");
}

TEST_F(SheetTest, F1ShowsTheControlsHelpAtTheMouseUntilAKeyAClickOrTheFocusMoves)
{
    RunSheet([](HWND sheet) {
        HWND page = ShowPage(sheet, 0);
        PressF1On(sheet, page, IDC_TIME, {400, 300});
        ASSERT_TRUE(WaitUntil([] { return FindPopup() != nullptr; })) << "no popup after F1";
        EXPECT_NE(GetModuleHandleA("hhctrl.ocx"), nullptr) << "the HTML Help control was not tried first";
        HWND popup = FindPopup();
        EXPECT_EQ(Text(popup), "自動的にメールチェックする間隔（分）を入力してください");
        RECT one;
        GetWindowRect(popup, &one);
        EXPECT_EQ(one.top, 300);  // its top centre at the mouse
        EXPECT_LE(std::abs((one.left + one.right) / 2 - 400), 1);
        PressKey(VK_SHIFT);
        EXPECT_TRUE(WaitUntil([] { return FindPopup() == nullptr; })) << "a key did not close it";

        page = ShowPage(sheet, 1);
        PressF1On(sheet, page, IDC_APOP, {400, 300});
        ASSERT_TRUE(WaitUntil([] { return FindPopup() != nullptr; }));
        popup = FindPopup();
        EXPECT_EQ(Text(popup), "パスワードを暗号化して送ります\r（サーバがAPOP認証に対応している場合のみ有効）");
        RECT two;
        GetWindowRect(popup, &two);
        EXPECT_GT(two.bottom - two.top, one.bottom - one.top + 8);  // "\r" broke the line
        // The pointer must have arrived over the popup before the button goes down: the X
        // server moves it asynchronously.
        POINT centre = {(two.left + two.right) / 2, (two.top + two.bottom) / 2};
        SetCursorPos(centre.x, centre.y);
        WaitUntil([&] {
            POINT at;
            GetCursorPos(&at);
            return at.x == centre.x && at.y == centre.y && WindowFromPoint(centre) == FindPopup();
        });
        Sleep(100);
        INPUT click[2] = {{INPUT_MOUSE, {}}, {INPUT_MOUSE, {}}};
        click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, click, sizeof click[0]);
        EXPECT_TRUE(WaitUntil([] { return FindPopup() == nullptr; })) << "a click did not close it";

        // Asked through the caption's button: the page 3 edit has its text; labels, group boxes,
        // the push buttons and the report box have none. A new popup replaces the old one.
        HWND pages[3] = {ShowPage(sheet, 0), page, ShowPage(sheet, 2)};
        AskHelp(pages[2], IDC_NTPS);
        EXPECT_EQ(Text(FindPopup()), "NTPサーバ名を入力してください");
        AskHelp(pages[1], IDC_MAILER);
        EXPECT_EQ(Text(FindPopup()), "外部メールソフトの実行ファイル名を入力してください\r（引数も有効です）");
        EXPECT_EQ(FindWindowExA(nullptr, FindPopup(), kHelpPopupClass, nullptr), nullptr);
        SetForegroundWindow(sheet);
        EXPECT_TRUE(WaitUntil([] { return FindPopup() == nullptr; })) << "losing the focus did not close it";
        const std::pair<int, int> silent[] = {{0, 4000}, {0, 4003}, {0, 4004}, {1, 4005}, {1, 4006}, {1, 4007},
                                              {1, 4008}, {1, 6000}, {2, 4009}, {2, 4010}, {2, 6001}, {2, 3008}};
        for (auto [index, id] : silent) {
            AskHelp(pages[index], id);  // a popup would be made while the request is handled
            EXPECT_EQ(FindPopup(), nullptr) << id;
        }
        Press(sheet, PSBTN_CANCEL);
    });
}

TEST_F(SheetTest, ChooserPutsThePathAloneInTheBoxAndOkKeepsItsCapitals)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "Pollwick Sheet Test", path = folder + "\\MAILER.EXE";
    CreateDirectoryA(folder.c_str(), nullptr);
    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\old\\mail.exe");
    CopyText(Settings.PARA, sizeof Settings.PARA, "-x");
    RunSheet([&](HWND sheet) {
        HWND page = ShowPage(sheet, 1);
        for (bool pick : {true, false}) {
            PostMessageA(GetDlgItem(page, IDC_CHOOSE_MAILER), BM_CLICK, 0, 0);  // the dialog is modal
            HWND chooser = nullptr;
            ASSERT_TRUE(WaitUntil([&] { return (chooser = FindChooser()) != nullptr; }));
            HWND name = GetDlgItem(chooser, kChooserFileName);
            if (pick) {
                char filter[32] = "";
                SendDlgItemMessageA(chooser, kChooserFilter, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(filter));
                EXPECT_STREQ(filter, "EXE files(*.exe)");
                SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
                PostMessageA(chooser, WM_COMMAND, IDOK, 0);
                EXPECT_TRUE(WaitUntil([&] { return Read(page, IDC_MAILER) == path; })) << Read(page, IDC_MAILER);
                EXPECT_EQ(Settings.EXEC, path);  // at once, before OK
            } else {
                // It opens on the last choice; a cancel leaves the box and EXEC alone.
                EXPECT_TRUE(WaitUntil([&] { return Text(name).find("MAILER.EXE") != std::string::npos; }))
                    << Text(name);
                PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
                EXPECT_TRUE(WaitUntil([] { return FindChooser() == nullptr; }));
                EXPECT_EQ(Read(page, IDC_MAILER), path);
            }
        }
        Press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(Stored("EXEC", 260), path);
    EXPECT_EQ(Stored("PARA", 256), "");
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

// Pictures of the three pages for the documentation.
TEST_F(SheetTest, Screenshots)
{
    if (Environment("POLLWICK_ARTIFACTS").empty())
        GTEST_SKIP() << "no POLLWICK_ARTIFACTS directory";
    CopyText(Settings.POP3, sizeof Settings.POP3, "pop.example.jp");
    CopyText(Settings.USER, sizeof Settings.USER, "taro");
    CopyText(Settings.PASS, sizeof Settings.PASS, "password");
    CopyText(Settings.EXEC, sizeof Settings.EXEC, "C:\\Program Files\\Mail\\mailer.exe");
    CopyText(Settings.PARA, sizeof Settings.PARA, "/check");
    Settings.APOP = 1;
    Settings.TLSM = 1;
    const std::string server = "127.0.0.1:" + std::to_string(ChronyPort());
    RunSheet([&](HWND sheet) {
        for (int i = 0; i < 3; i++) {
            HWND page = ShowPage(sheet, i);
            if (i == 2) {
                Type(page, IDC_NTPS, server);
                Click(page, IDC_SYNC);
            }
            Sleep(500);  // let it paint
            SaveWindowShot(sheet, "settings-page" + std::to_string(i + 1) + ".bmp");
        }
        Press(sheet, PSBTN_CANCEL);
    });
}

}  // namespace
