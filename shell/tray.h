// The notification-area icon: adding it, changing its picture and tooltip, its menu, the check cycle.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The icon record in its first, 88-byte form, which every version of the shell accepts.
extern NOTIFYICONDATAA TrayIcon;

// Picture now shown, and how often the new-mail sound was played (for the curious and the tests).
extern int TrayIconId;
extern int MailBeepCount;

void AddTrayIcon(HWND window, NOTIFYICONDATAA *icon);
void SetTrayIcon(HWND window, NOTIFYICONDATAA *icon, int iconId);
int ShowTrayMenu(HWND window);
// Shows the checking picture, runs one POP3 session, moves the counts and shows the result.
void RunCheckCycle(HWND window, NOTIFYICONDATAA *icon);
