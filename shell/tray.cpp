// Tray icon glue: carries out what the tray rules decide.
#include "shell/tray.h"

#include <mmsystem.h>

#include "mail/pop3.h"
#include "settings/settings.h"
#include "base/text.h"
#include "base/wide.h"
#include "shell/tray_rules.h"
#include "resources/names.h"
#include "resources/resource.h"

NOTIFYICONDATAW TrayIcon;
int TrayIconId;
bool TrayIconShown;

HICON LoadSmallIcon(HINSTANCE module, int iconId)
{
    // 16 pixels at 100 %, 20, 24 or 32 on a scaled screen (the program is DPI aware): each size is
    // drawn for itself, so nothing is stretched.
    return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(iconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

namespace {

// The tray pictures at the size the shell gives small icons now, each loaded the first time it is
// shown and kept until that size changes: a check shows two of them and loads none. (Loaded
// afresh at every change, Wine never gave back about 90 bytes of each.)
HICON pictures[IDI_CHECK_FAILED - IDI_NO_MAIL + 1];
int picturesSize;

HICON TrayPicture(HWND window, int iconId)
{
    int size = GetSystemMetrics(SM_CXSMICON);
    if (size != picturesSize) {
        for (HICON &picture : pictures) {
            if (picture != nullptr)
                DestroyIcon(picture);  // the shell keeps its own copy of the one on show
            picture = nullptr;
        }
        picturesSize = size;
    }
    HICON &picture = pictures[iconId - IDI_NO_MAIL];
    if (picture == nullptr)
        picture = LoadSmallIcon(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), iconId);
    return picture;
}

void FillRecord(HWND window, NOTIFYICONDATAW *icon, HICON picture)
{
    icon->cbSize = NOTIFYICONDATAW_V2_SIZE;
    icon->hIcon = picture;
    icon->hWnd = window;
    icon->uCallbackMessage = WM_TRAYNOTIFY;
    icon->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon->uID = ID_TRAYICON;
    char tip[80];
    FormatTooltip(tip, sizeof tip, Settings.ALLM, Settings.OLDM);
    tip[Cp932CutLength(tip, 63)] = '\0';  // the first version of the record has 64 bytes of tooltip
    ToWide(tip, icon->szTip, 64);
}

// A balloon from the icon (a toast on Windows 10 and 11), silent: the sound has just played.
void ShowNewMailNotification(NOTIFYICONDATAW *icon, int32_t allm, int32_t oldm)
{
    NOTIFYICONDATAW note = *icon;
    note.uFlags = NIF_INFO;
    ToWide(MAIN_WINDOW_CLASS, note.szInfoTitle, 64);
    char text[256];
    FormatText(text, sizeof text, "新着メールが %d 件あります（全 %d 件）", static_cast<int>(allm - oldm),
               static_cast<int>(allm));
    ToWide(text, note.szInfo, 256);
    note.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
    Shell_NotifyIconW(NIM_MODIFY, &note);
}

}  // namespace

void AddTrayIcon(HWND window, NOTIFYICONDATAW *icon)
{
    FillRecord(window, icon, TrayPicture(window, IDI_NO_MAIL));
    TrayIconId = IDI_NO_MAIL;
    EnsureTrayIcon(icon);
}

bool EnsureTrayIcon(NOTIFYICONDATAW *icon)
{
    // Asked first whether it has the icon: a busy shell may add one while our NIM_ADD times out,
    // and from then on every NIM_ADD of it fails.
    TrayIconShown = Shell_NotifyIconW(NIM_MODIFY, icon) || Shell_NotifyIconW(NIM_ADD, icon);
    return TrayIconShown;
}

void SetTrayIcon(HWND window, NOTIFYICONDATAW *icon, int iconId)
{
    FillRecord(window, icon, TrayPicture(window, iconId));
    TrayIconId = iconId;
    EnsureTrayIcon(icon);  // a shell that lost the icon gets it anew
}

void ReloadTrayPicture(HWND window, NOTIFYICONDATAW *icon)
{
    icon->hIcon = TrayPicture(window, TrayIconId);
    EnsureTrayIcon(icon);  // a shell that lost the icon gets it anew
}

void ShowTrayMenu(HWND window)
{
    auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    HMENU menu = LoadMenuW(module, L"RTRAYMENU");
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor;
    GetCursorPos(&cursor);
    // The window must be in the foreground, or the menu does not close when the user clicks
    // elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    // And a message of its own right after, or the menu may not open at the next click.
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

int32_t RunCheckCycle(HWND window, NOTIFYICONDATAW *icon)
{
    SetTrayIcon(window, icon, IDI_CHECKING_NO_MAIL + CountOffset(Settings.ALLM, Settings.OLDM));
    int32_t result = CheckMail();
    CheckOutcome outcome = ApplyCheckResult(Settings.ALLM, Settings.OLDM, result);
    // The tooltip is built from the counts at the change of picture; -1 makes it tell of the error.
    Settings.ALLM = outcome.icon == IDI_CHECK_FAILED ? -1 : outcome.allm;
    Settings.OLDM = outcome.oldm;
    SetTrayIcon(window, icon, outcome.icon);
    Settings.ALLM = outcome.allm;
    if (outcome.mailBeep) {
        // Played while the window goes on (a long sound would hold it), and nothing in its place
        // when the user has set none.
        PlaySoundW(L"mailbeep", nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT);
        if (Settings.NTFY != 0)
            ShowNewMailNotification(icon, outcome.allm, outcome.oldm);
    }
    return result;
}
