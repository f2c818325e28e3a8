// Start-up, the hidden main window and the message loop.
#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"
#include "settings/settings.h"
#include "shell/log.h"
#include "shell/log_window.h"

HWND MainWindow;

namespace {

const char kClassName[] = "Pollwick";

void CloseProgram(HWND window)
{
    KillTimer(window, ID_CHECKTIMER);
    DestroyWindow(LogWindow);
    LogWindow = nullptr;
    DestroyWindow(window);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        InitCommonControls();
        InitLogRing();
        LoadSettings();
        return 0;
    case WM_DESTROY:
        SaveAllSettings();
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        CloseProgram(window);
        return 0;
    case WM_QUERYENDSESSION:
        CloseProgram(window);
        return TRUE;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

ATOM RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {sizeof windowClass};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_POSTBOX), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    return RegisterClassExA(&windowClass);
}

int CreateMainWindows(HINSTANCE instance)
{
    MainWindow = CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, kClassName, WS_POPUP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (MainWindow == nullptr)
        return 0;
    HWND log = CreateDialogParamA(instance, "MYLOGDLG", MainWindow, LogDialogProc, 0);
    if (log == nullptr)
        return 0;
    LogWindow = log;
    ShowWindow(LogWindow, SW_HIDE);
    UpdateWindow(LogWindow);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (RegisterMainWindowClass(instance) == 0)
        return 0;
    if (CreateMainWindows(instance) == 0)
        return 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0))
        DispatchAppMessage(&message);
    return static_cast<int>(message.wParam);
}
