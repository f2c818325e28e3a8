// The program's version and maker, the names under which other programs find its windows, and its
// registry key: one home, read by the code, the resource scripts, the tests and the build scripts
// (cmake/windows.cmake and scripts/wine-env.sh take the lines they need from here).
#pragma once

#define POLLWICK_VERSION "1.02"
#define POLLWICK_VERSION_WORDS 1, 0, 2, 0  // the same, for the resources' version block
#define POLLWICK_MAKER "Quorvane"
#define POLLWICK_COPYRIGHT "Copyright (C) 2001-2026 " POLLWICK_MAKER

// Where the settings live, under the current user.
#define SETTINGS_KEY_PATH "Software\\Quorvane\\Pollwick"
// Starting with Windows: a value of this name, under the user's Run key, holds the program's path.
#define SIGN_IN_KEY_PATH "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
#define SIGN_IN_VALUE "Pollwick"
// Task Manager's "Disable" for it (Windows 8 and later): a binary value of the same name here,
// whose first byte is odd while it is disabled.
#define SIGN_IN_APPROVED_KEY_PATH "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run"

// The hidden main window's class, which is also its title.
#define MAIN_WINDOW_CLASS "Pollwick"
// Captions of the program's windows and message boxes.
#define LOG_WINDOW_CAPTION "Pollwick ログ"
#define SHEET_CAPTION "Pollwick 設定"
#define VERSION_BOX_CAPTION "Pollwick のﾊﾞｰｼﾞｮﾝ情報"
#define PROMPT_BOX_CAPTION "メッセージ"
#define STORE_FAILURE_CAPTION "エラー:RegCreateKeyEx"
#define MAILER_BOX_CAPTION "メールソフトの登録"
#define MAILER_CHOOSER_TITLE "メールソフトを登録"
