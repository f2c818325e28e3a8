// The settings sheet: three pages that edit the settings record and save it group by group on OK.
#pragma once

#include <windows.h>

// Runs the modal sheet over owner, whose module holds the page templates, and returns when it has
// closed. On OK each page that was opened saves its own group; Cancel saves nothing and changes
// nothing. A page keeps the sheet open on it, saying why, while one of its texts cannot be kept
// whole and as typed. The sheet has a button on the taskbar and opens in front of other windows.
void ShowSettingsSheet(HWND owner);
// While the sheet is open: brings it in front again, or the message box or file dialog it shows
// (asked for a second time from the tray).
void BringSettingsSheetForward();
