// The log window: a modeless dialog that shows the joined activity log.
#pragma once

#include <windows.h>

extern HWND LogWindow;  // null until the main window has created it

INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
