// Resource and control ids, shared by the .rc files, the code and the tests.
#pragma once

// The tray menu's commands.
#define IDM_MAILER 200
#define IDM_EXIT 201
#define IDM_CHECK 202
#define IDM_SETTINGS 203
#define IDM_SHOWLOG 204
#define IDM_VERSION 205

// Icons: the program's own, then the tray pictures. The results and the checks under
// way come in the order of the count offset (no mail, all new, new beside old, only old).
#define IDI_PROGRAM 2000
#define IDI_NO_MAIL 2001
#define IDI_NEW_MAIL 2002
#define IDI_NEW_AND_OLD_MAIL 2003
#define IDI_OLD_MAIL 2004
#define IDI_CHECKING_NO_MAIL 2005
#define IDI_CHECKING_NEW_MAIL 2006
#define IDI_CHECKING_NEW_AND_OLD_MAIL 2007
#define IDI_CHECKING_OLD_MAIL 2008
#define IDI_CHECK_FAILED 2009

// The log window's text.
#define IDC_LOGTEXT 3010

// Window messages of our own.
#define WM_TRAYNOTIFY 1024  // WM_USER: the tray icon's callback
#define WM_LOGUPDATED 1025  // WM_USER + 1: lines were added to the activity log (posted, once)

// Timer and tray icon ids: the check, and the retries of adding the icon while the shell has no
// room for it yet.
#define ID_CHECKTIMER 1000
#define ID_ICONTIMER 1001
#define ID_TRAYICON 5000

// The settings sheet: edits from 3001, check boxes and radio buttons from 3101, labels and group
// boxes from 4000, push buttons from 6000.
#define IDC_POP3 3001
#define IDC_USER 3002
#define IDC_PASS 3003
#define IDC_TIME 3004
#define IDC_PORT 3005
#define IDC_MAILER 3006
#define IDC_NTPS 3007
#define IDC_SYNCREPORT 3008
#define IDC_APOP 3101
#define IDC_STCH 3102
#define IDC_DCHK 3103
#define IDC_DMAL 3104
#define IDC_NTFY 3109
#define IDC_SIGNIN 3110
#define IDC_POP3_LABEL 4000
#define IDC_USER_LABEL 4001
#define IDC_PASS_LABEL 4002
#define IDC_TIME_LABEL 4003
#define IDC_MINUTES_LABEL 4004
#define IDC_DETAIL_GROUP 4005
#define IDC_PORT_LABEL 4006
#define IDC_DOUBLECLICK_GROUP 4007
#define IDC_MAILER_GROUP 4008
#define IDC_NTP_GROUP 4009
#define IDC_NTPS_LABEL 4010
#define IDC_CHOOSE_MAILER 6000
#define IDC_SYNC 6001

// Page 2's encryption group (the choice of TLS), and below it whether the password is stored protected.
#define IDC_TLS_NONE 3105
#define IDC_TLS_STLS 3106
#define IDC_TLS_IMPLICIT 3107
#define IDC_PENC 3108
#define IDC_TLS_GROUP 4011
