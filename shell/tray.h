// The notification-area icon: adding it, changing its picture and tooltip, its menu, the check cycle.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The icon record in its second form (the shells since Windows 2000 take it), for the new-mail
// notification; the tooltip keeps the 64 bytes of the first.
extern NOTIFYICONDATAW TrayIcon;

// The picture now shown (0 before the icon exists), to load afresh when the screen changes.
extern int TrayIconId;

// A picture of the module at the size the shell gives small icons on this screen now.
HICON LoadSmallIcon(HINSTANCE module, int iconId);

void AddTrayIcon(HWND window, NOTIFYICONDATAW *icon);
// Shows the picture at the size the shell gives small icons on this screen now: called again
// after a change of display or scaling, it loads the one on show afresh.
void SetTrayIcon(HWND window, NOTIFYICONDATAW *icon, int iconId);
int ShowTrayMenu(HWND window);
// Shows the checking picture, runs one POP3 session, moves the counts and shows the result.
void RunCheckCycle(HWND window, NOTIFYICONDATAW *icon);
