// The settings sheet: three pages that edit the settings record and save it group by group on OK.
#pragma once

#include <windows.h>

// Runs the modal sheet over owner, whose module holds the page templates, and
// returns when it has closed. On OK each page that was opened saves its own group; Cancel saves
// nothing. The sheet has a button on the taskbar and opens in front of other programs' windows.
void ShowSettingsSheet(HWND owner);
// While the sheet is open: brings it in front again (asked for a second time from the tray).
void BringSettingsSheetForward();

// Page 1: server, user name, password and interval; it also centres the sheet on the work area.
INT_PTR CALLBACK BasicPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Page 2: port, login method, start-up check, double-click action, mail program.
INT_PTR CALLBACK DetailPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Page 3: the NTP server and its "同期！" button.
INT_PTR CALLBACK NtpPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The open-file dialog for the mail program: 1 when a file was picked and EXEC now holds its full
// path (at once, whatever becomes of the sheet), 0 when it was cancelled or failed, or the path
// cannot be kept whole (the user is told why).
int ChooseMailer(HWND owner);
