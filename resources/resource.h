// Resource and control ids, shared by the .rc files and the code. Each kind has its own range.
#pragma once

// Menu commands 200..205.
#define IDM_MAILER 200
#define IDM_EXIT 201
#define IDM_CHECK 202
#define IDM_SETTINGS 203
#define IDM_SHOWLOG 204
#define IDM_VERSION 205

// Icons 2000..2009.
#define IDI_POSTBOX 2000

// Edit controls 3001..3010.
#define IDC_LOGTEXT 3010

// Window messages of our own.
#define WM_TRAYNOTIFY 1024  // WM_USER: the tray icon's callback
#define WM_LOGUPDATED 1025  // WM_USER + 1: a line was added to the activity log

// Timer and tray icon ids.
#define ID_CHECKTIMER 1000
#define ID_TRAYICON 5000
