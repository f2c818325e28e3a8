// The log window: a modeless dialog that shows the activity log, kept up to date as lines come.
#include "shell/log_window.h"

#include "base/log.h"
#include "base/wide.h"
#include "resources/resource.h"

HWND LogWindow;

namespace {

// A refresh of the log window is on its way: more lines before it arrives need no other.
bool refreshPosted;

// The joined log as the window takes it: each character of it is one UTF-16 unit.
wchar_t wideLog[kLogJoinedSize];

void NotifyLogWindow()
{
    // Rebuilding the whole text costs milliseconds once the log is full, and a check logs a line
    // between each reply and the next command. The check runs on this thread, so nothing is
    // painted before it ends anyway: one posted refresh shows all its lines when it is over.
    if (LogWindow != nullptr && !refreshPosted)
        refreshPosted = PostMessageW(LogWindow, WM_LOGUPDATED, 0, 0) != 0;
}

// Bottom-right corner of the work area, keeping the window's size.
void PlaceAtWorkAreaCorner(HWND dialog)
{
    RECT area, window;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(dialog, &window);
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    MoveWindow(dialog, area.right - width, area.bottom - height, width, height, TRUE);
}

}  // namespace

INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        PlaceAtWorkAreaCorner(dialog);
        LogListener = NotifyLogWindow;
        // Lines written before the window existed (a password that could not be read, say) show
        // from the start.
        refreshPosted = PostMessageW(dialog, WM_LOGUPDATED, 0, 0) != 0;
        return FALSE;
    case WM_SHOWWINDOW:
        SetFocus(GetDlgItem(dialog, IDOK));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            // The window is only ever hidden; the program destroys it at exit.
            ShowWindow(dialog, SW_HIDE);
            return TRUE;
        }
        return FALSE;
    case WM_LOGUPDATED:
        refreshPosted = false;
        JoinLogRing(LogJoined, sizeof LogJoined);
        ToWide(LogJoined, wideLog, kLogJoinedSize);
        SetDlgItemTextW(dialog, IDC_LOGTEXT, wideLog);
        SendDlgItemMessageW(dialog, IDC_LOGTEXT, EM_LINESCROLL, 0, kLogLines);
        return TRUE;
    default:
        return FALSE;
    }
}

void DispatchAppMessage(MSG *message)
{
    if (LogWindow != nullptr && IsDialogMessageW(LogWindow, message))
        return;
    TranslateMessage(message);
    DispatchMessageW(message);
}
