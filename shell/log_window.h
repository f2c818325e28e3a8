// The log window: a modeless dialog that shows the joined activity log.
#pragma once

#include <windows.h>

extern HWND LogWindow;  // null until the main window has created it

INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Lets the log window's dialog manager see a message first, so that Esc, Enter and Tab work in
// the modeless window; then translates and dispatches it as usual.
void DispatchAppMessage(MSG *message);
