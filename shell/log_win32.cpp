// Platform side of the activity log on Windows: local time, and the log window.
#include "shell/log.h"
#include "shell/log_window.h"
#include "resources/resource.h"

HWND LogWindow;

void ReadLogTime(LogTime *time)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    *time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void NotifyLogWindow()
{
    if (LogWindow != nullptr)
        SendMessageA(LogWindow, WM_LOGUPDATED, 0, 0);
}

namespace {

// Bottom-right corner of the work area, keeping the window's size.
void PlaceAtWorkAreaCorner(HWND dialog)
{
    RECT area, window;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
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
        JoinLogRing(LogJoined, sizeof LogJoined);
        SetDlgItemTextA(dialog, IDC_LOGTEXT, LogJoined);
        SendDlgItemMessageA(dialog, IDC_LOGTEXT, EM_LINESCROLL, 0, kLogLines);
        return TRUE;
    default:
        return FALSE;
    }
}

void DispatchAppMessage(MSG *message)
{
    if (LogWindow != nullptr && IsDialogMessageA(LogWindow, message))
        return;
    TranslateMessage(message);
    DispatchMessageA(message);
}
