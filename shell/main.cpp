// Start-up, the hidden main window that owns the check timer and carries out every command, and
// the message loop.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "clock/sntp.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "settings/sheet.h"
#include "settings/sheet_rules.h"
#include "settings/sign_in.h"
#include "mail/pop3.h"
#include "base/log.h"
#include "shell/log_window.h"
#include "base/text.h"
#include "base/wide.h"
#include "shell/tray.h"
#include "shell/tray_rules.h"

namespace {

HWND MainWindow;

// Sent to every top-level window when the shell (and its notification area) starts anew.
UINT TaskbarCreatedMessage;

// A shell not ready for the icon (at sign-in) is asked again every 2 s for a minute; after that,
// every check asks again.
constexpr UINT kIconRetryMs = 2000;
constexpr int kIconRetries = 30;
int iconRetries;

// The check right after waking from sleep may come before the network: one that fails on it is
// tried once more a little later.
constexpr int kResumeRetrySeconds = 25;
bool checkAfterResume;
HPOWERNOTIFY resumeNotification;

// While a check changes the icon, the thread waits on the shell and takes the messages sent to it
// meanwhile (waking from sleep, say). A check asked for then comes right after this one; arming
// the timer there would be undone by the interval this one arms when it ends.
bool checking;
bool checkAgainSoon;

const wchar_t kClassName[] = L"" MAIN_WINDOW_CLASS;

bool AccountComplete()
{
    return Settings.POP3[0] != '\0' && Settings.USER[0] != '\0' && Settings.PASS[0] != '\0';
}

UINT_PTR ArmCheckTimer(HWND window, UINT delayMs)
{
    return SetTimer(window, ID_CHECKTIMER, delayMs, nullptr);
}

// TIME is kept within 1..35791 (brought into range at start-up, bounded by the sheet), so the
// product fits the timer.
UINT IntervalMs() { return static_cast<UINT>(Settings.TIME) * 60000u; }

// Asks the shell for the icon every 2 s, for a minute.
void RetryTrayIcon(HWND window)
{
    iconRetries = 0;
    SetTimer(window, ID_ICONTIMER, kIconRetryMs, nullptr);
}

void CheckSoon(HWND window)
{
    if (checking) {
        checkAgainSoon = true;
        return;
    }
    KillTimer(window, ID_CHECKTIMER);
    ArmCheckTimer(window, 0);
}

// Why the shell could not start a program, by its result (32 or less).
const char *MailerFailure(INT_PTR result)
{
    switch (result) {
    case 0:
    case SE_ERR_OOM: return "メモリやリソースが足りません";
    case SE_ERR_FNF: return "ファイルが見つかりません";
    case SE_ERR_PNF: return "フォルダが見つかりません";
    case SE_ERR_ACCESSDENIED: return "アクセスが拒否されました";
    case ERROR_BAD_FORMAT: return "実行できるファイルではありません";
    case SE_ERR_NOASSOC: return "このファイルに関連付けられたプログラムがありません";
    default: return "予期しないエラーです";
    }
}

void StartMailer()
{
    if (Settings.EXEC[0] == '\0')
        return;
    wchar_t exec[sizeof Settings.EXEC], para[sizeof Settings.PARA];
    ToWide(Settings.EXEC, exec, sizeof Settings.EXEC);
    ToWide(Settings.PARA, para, sizeof Settings.PARA);
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", exec, para, nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        char line[kFormatLimit];
        FormatText(line, sizeof line, "Error: メールソフト %s を起動できません：%s（%d）\r\n", Settings.EXEC,
                   MailerFailure(result), static_cast<int>(result));
        AppendLog(kSystem, line);
    }
}

void OpenSettings(HWND window)
{
    char text[80];
    Settings.SheetOpen = 1;
    if (KillTimer(window, ID_CHECKTIMER))
        AppendLog(kSystem, "設定開始：自動接続を中断します...\r\n");
    ShowSettingsSheet(window);
    if (ArmCheckTimer(window, IntervalMs())) {
        FormatText(text, sizeof text, "設定終了： %d 分後に再接続します...\r\n", Settings.TIME);
        AppendLog(kSystem, text);
    }
    Settings.SheetOpen = 0;
}

// The program's own message boxes are owned by no window: the main window, which could own them,
// is never shown.
void ShowVersion()
{
    ShowMessage(nullptr, "Pollwick Version " POLLWICK_VERSION "\n" POLLWICK_COPYRIGHT, VERSION_BOX_CAPTION, MB_OK);
}

void OnCreate(HWND window)
{
    InitCommonControls();
    InitLogRing();
    LoadSettings();
    // A value from the registry the timer cannot hold would check every 49 days or never.
    Settings.TIME = ClampInterval(Settings.TIME);
    KeepSignInCurrent();
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    // Run as administrator, the program would not hear of a new shell from the user's own.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    AddTrayIcon(window, &TrayIcon);
    SetTrayIcon(window, &TrayIcon, IDI_NO_MAIL + CountOffset(Settings.ALLM, Settings.OLDM));
    if (!TrayIconShown)
        RetryTrayIcon(window);
    // Laptops with Modern Standby wake without the old resume broadcast: asked for, they send it
    // to this window too (Windows 8 and later).
    using Register = HPOWERNOTIFY(WINAPI *)(HANDLE, DWORD);
    if (auto enroll = reinterpret_cast<Register>(
            reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "RegisterSuspendResumeNotification"))))
        resumeNotification = enroll(window, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!AccountComplete()) {
        ShowMessage(nullptr, "POP3の設定を行ってください。", PROMPT_BOX_CAPTION, MB_OK);
        Settings.SheetOpen = 1;
        ShowSettingsSheet(window);
        Settings.SheetOpen = 0;
    }
    ArmCheckTimer(window, Settings.STCH != 0 && AccountComplete() ? 0 : IntervalMs());
}

void OnCheckTimer(HWND window)
{
    // Stopped first, so that no tick queues up behind a long check.
    KillTimer(window, ID_CHECKTIMER);
    bool afterResume = checkAfterResume;
    checkAfterResume = false;
    checking = true;
    int32_t result = RunCheckCycle(window, &TrayIcon);
    checking = false;
    if (checkAgainSoon) {
        checkAgainSoon = false;
        ArmCheckTimer(window, 0);
        return;
    }
    if (result < 0 && afterResume && LastCheckFailedOnNetwork() && ArmCheckTimer(window, kResumeRetrySeconds * 1000u)) {
        char text[80];
        FormatText(text, sizeof text, "スリープからの復帰直後のため、%d 秒後に再接続します...\r\n",
                   kResumeRetrySeconds);
        AppendLog(kSystem, text);
        return;
    }
    if (ArmCheckTimer(window, IntervalMs())) {
        char text[80];
        FormatText(text, sizeof text, " %d 分後に再接続します...\r\n", Settings.TIME);
        AppendLog(kSystem, text);
    }
}

void OnCommand(HWND window, int id)
{
    switch (id) {
    case IDM_MAILER: StartMailer(); break;
    case IDM_EXIT: SendMessageW(window, WM_CLOSE, 0, 0); break;
    case IDM_CHECK:
        if (Settings.SheetOpen != 1)
            CheckSoon(window);
        break;
    case IDM_SETTINGS:
        if (Settings.SheetOpen != 1)
            OpenSettings(window);
        else
            BringSettingsSheetForward();
        break;
    case IDM_SHOWLOG:
        // Shown, or brought forward when it is already.
        if (LogWindow != nullptr) {
            ShowWindow(LogWindow, SW_SHOW);
            SetForegroundWindow(LogWindow);
        }
        break;
    case IDM_VERSION: ShowVersion(); break;
    default: break;
    }
}

void OnTrayNotify(HWND window, UINT mouseMessage)
{
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        SetTrayIcon(window, &TrayIcon, AcknowledgeMail(&Settings.ALLM, &Settings.OLDM));
        break;
    case WM_LBUTTONDBLCLK:
    case NIN_BALLOONUSERCLICK:  // a click on the new-mail notification does the same
        if (Settings.SheetOpen == 1)
            break;
        switch (DoubleClickAction(Settings.DCHK, Settings.DMAL, Settings.EXEC)) {
        case DoubleClick::Check: CheckSoon(window); break;
        case DoubleClick::StartMailer: StartMailer(); break;
        case DoubleClick::Nothing: break;
        }
        break;
    case WM_RBUTTONUP: ShowTrayMenu(window); break;
    default: break;
    }
}

// After sleep the interval may have passed long ago, and the mail with it: check at once, unless
// the user is in the settings sheet (closing it arms the timer anyway).
void OnPowerBroadcast(HWND window, WPARAM event)
{
    if (event == PBT_APMRESUMEAUTOMATIC && Settings.SheetOpen != 1) {
        checkAfterResume = true;
        CheckSoon(window);
    }
}

void CloseProgram(HWND window)
{
    KillTimer(window, ID_CHECKTIMER);
    DestroyWindow(LogWindow);
    LogWindow = nullptr;
    DestroyWindow(window);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        MainWindow = window;
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        if (resumeNotification != nullptr) {
            using Unregister = BOOL(WINAPI *)(HPOWERNOTIFY);
            if (auto leave = reinterpret_cast<Unregister>(reinterpret_cast<void (*)()>(
                    GetProcAddress(GetModuleHandleW(L"user32.dll"), "UnregisterSuspendResumeNotification"))))
                leave(resumeNotification);
        }
        Shell_NotifyIconW(NIM_DELETE, &TrayIcon);
        SaveAllSettings();
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        CloseProgram(window);
        return 0;
    case WM_QUERYENDSESSION:
        // The session may end, or the user may cancel it: save everything now, and go only when
        // it really ends.
        SaveAllSettings();
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE)
            CloseProgram(window);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == ID_ICONTIMER) {
            if (EnsureTrayIcon(&TrayIcon) || ++iconRetries >= kIconRetries)
                KillTimer(window, ID_ICONTIMER);
        } else {
            OnCheckTimer(window);
        }
        return 0;
    case WM_TRAYNOTIFY:
        if (wParam == ID_TRAYICON)
            OnTrayNotify(window, static_cast<UINT>(lParam));
        return 0;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(window, wParam);
        return TRUE;
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
        // The small-icon size may have changed with the screen or its scaling.
        if (TrayIconId != 0)
            ReloadTrayPicture(window, &TrayIcon);
        return DefWindowProcW(window, message, wParam, lParam);
    default:
        // A new shell has an empty notification area: the record still holds the picture and
        // tooltip on show.
        if (message == TaskbarCreatedMessage && message != 0) {
            // One that is not ready for it yet is asked again, as at sign-in.
            if (!EnsureTrayIcon(&TrayIcon))
                RetryTrayIcon(window);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

ATOM RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {sizeof windowClass};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIconSm = LoadSmallIcon(instance, IDI_PROGRAM);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass);
}

int CreateMainWindows(HINSTANCE instance)
{
    MainWindow = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, kClassName, WS_POPUP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (MainWindow == nullptr)
        return 0;
    HWND log = CreateDialogParamW(instance, L"MYLOGDLG", MainWindow, LogDialogProc, 0);
    if (log == nullptr)
        return 0;
    LogWindow = log;
    ShowWindow(LogWindow, SW_HIDE);
    UpdateWindow(LogWindow);
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // A DLL dropped beside the program (in a downloads folder, say) is never loaded in place of
    // the system's (Windows 8, and Windows 7 with its 2011 update).
    using SetDirectories = BOOL(WINAPI *)(DWORD);
    if (auto searchOnly = reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"))))
        searchOnly(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Started with consent to set the clock: that, and nothing else.
    char commandLine[kFormatLimit], server[sizeof Settings.NTPS];
    if (ToCodePage(GetCommandLineW(), commandLine, sizeof commandLine) == Narrowed::Whole &&
        ParseClockSwitch(commandLine, server, sizeof server))
        return static_cast<int>(RunClockHelper(server));
    // The shell starts a mail program that is a shortcut through COM, on this thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    MSG message = {};
    if (RegisterMainWindowClass(instance) != 0 && CreateMainWindows(instance) != 0)
        while (GetMessageW(&message, nullptr, 0, 0))
            DispatchAppMessage(&message);
    CoUninitialize();
    return static_cast<int>(message.wParam);
}
