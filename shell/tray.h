// The notification-area icon: adding it, changing its picture and tooltip, its menu, the check cycle.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

// The icon record in its second form (the shells since Windows 2000 take it), for the new-mail
// notification; the tooltip keeps the 64 bytes of the first.
extern NOTIFYICONDATAW TrayIcon;

// The picture now shown (0 before the icon exists), to load afresh when the screen changes.
extern int TrayIconId;
// The shell has the icon. At sign-in the shell may not be ready to take it, and a new shell may
// never say that it has started: until it has the icon again, every change tries to add it anew.
extern bool TrayIconShown;

// A picture of the module at the size the shell gives small icons on this screen now.
HICON LoadSmallIcon(HINSTANCE module, int iconId);

void AddTrayIcon(HWND window, NOTIFYICONDATAW *icon);
// Shows the picture at the size the shell gives small icons on this screen now, and the tooltip
// for the counts.
void SetTrayIcon(HWND window, NOTIFYICONDATAW *icon, int iconId);
// After a change of display or scaling: the picture on show at the size the shell now wants (the
// pictures are loaded afresh when that size has changed); the tooltip stays the one that goes
// with it.
void ReloadTrayPicture(HWND window, NOTIFYICONDATAW *icon);
// Gives the shell the icon as it stands, unless it has it already (also the first time); true once
// the shell has it.
bool EnsureTrayIcon(NOTIFYICONDATAW *icon);
void ShowTrayMenu(HWND window);
// Shows the checking picture, runs one POP3 session, moves the counts and shows the result.
// Returns the session's result: the count, or -1.
int32_t RunCheckCycle(HWND window, NOTIFYICONDATAW *icon);
