// Tray icon glue: carries out what the tray rules decide.
#include "shell/tray.h"

#include <mmsystem.h>

#include "mail/pop3.h"
#include "settings/settings.h"
#include "base/text.h"
#include "shell/tray_rules.h"
#include "resources/resource.h"

NOTIFYICONDATAA TrayIcon;
int TrayIconId;

HICON LoadSmallIcon(HINSTANCE module, int iconId)
{
    // 16 pixels at 100 %, 20, 24 or 32 on a scaled screen (the program is DPI aware): each size is
    // drawn for itself, so nothing is stretched.
    return static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(iconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

namespace {

HICON LoadTrayPicture(HWND window, int iconId)
{
    return LoadSmallIcon(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)), iconId);
}

void FillRecord(HWND window, NOTIFYICONDATAA *icon, HICON picture)
{
    icon->cbSize = NOTIFYICONDATAA_V2_SIZE;
    icon->hIcon = picture;
    icon->hWnd = window;
    icon->uCallbackMessage = WM_TRAYNOTIFY;
    icon->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon->uID = ID_TRAYICON;
    char tip[80];
    FormatTooltip(tip, sizeof tip, Settings.ALLM, Settings.OLDM);
    CopyText(icon->szTip, 64, tip);  // the first version of the record has 64 bytes of tooltip
}

// A balloon from the icon (a toast on Windows 10 and 11), silent: the sound has just played.
void ShowNewMailNotification(NOTIFYICONDATAA *icon, int32_t allm, int32_t oldm)
{
    NOTIFYICONDATAA note = *icon;
    note.uFlags = NIF_INFO;
    CopyText(note.szInfoTitle, sizeof note.szInfoTitle, "Pollwick");
    FormatText(note.szInfo, sizeof note.szInfo, "新着メールが %d 件あります (全 %d 件)", static_cast<int>(allm - oldm),
               static_cast<int>(allm));
    note.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
    Shell_NotifyIconA(NIM_MODIFY, &note);
}

}  // namespace

void AddTrayIcon(HWND window, NOTIFYICONDATAA *icon)
{
    FillRecord(window, icon, LoadTrayPicture(window, IDI_NO_MAIL));
    TrayIconId = IDI_NO_MAIL;
    Shell_NotifyIconA(NIM_ADD, icon);
}

void SetTrayIcon(HWND window, NOTIFYICONDATAA *icon, int iconId)
{
    HICON previous = icon->hIcon;
    FillRecord(window, icon, LoadTrayPicture(window, iconId));
    TrayIconId = iconId;
    Shell_NotifyIconA(NIM_MODIFY, icon);
    // Only the picture on show is held: the shell keeps its own copy.
    if (previous != nullptr)
        DestroyIcon(previous);
}

int ShowTrayMenu(HWND window)
{
    auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    HMENU menu = LoadMenuA(module, "RTRAYMENU");
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor;
    GetCursorPos(&cursor);
    // The window must be in the foreground, or the menu does not close when the user clicks
    // elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    DestroyMenu(menu);
    return 0;
}

void RunCheckCycle(HWND window, NOTIFYICONDATAA *icon)
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
        PlaySoundA("mailbeep", nullptr, SND_ALIAS);
        if (Settings.NTFY != 0)
            ShowNewMailNotification(icon, outcome.allm, outcome.oldm);
    }
}
