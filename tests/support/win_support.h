// Helpers of the Windows tests: the screen (captures, the tray picture on show, screenshots),
// the running program, and the values of its registry key.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Runs the thread's message loop for about ms milliseconds.
void Pump(int ms);

// Which of the tray pictures 2001..2009 the notification area shows now (0: none of them), and
// where its centre is on the screen.
int ShownPicture(POINT *centre = nullptr);

// The same, waiting up to three seconds for the shell, which draws in its own process, to show
// the expected one.
int ShownPictureSettled(int expected);

// Saves the whole desktop as a BMP under the directory POLLWICK_ARTIFACTS names, if any.
void SaveScreenshot(const std::string &name);

// The command line that starts pollwick.exe, which sits one folder above the test programs.
std::string ProgramCommandLine();

// The hidden main window of the Pollwick process processId, or null.
HWND FindProgramWindow(DWORD processId);

// Values of the program's key, HKEY_CURRENT_USER\Software\Quorvane\Pollwick, as another
// program (or an earlier version) could have written them.
void PutText(const char *name, const std::string &value);
void PutNumber(const char *name, DWORD value);
// A stored number (0xDEADBEEF when absent), and a value's data length (-1 when absent).
long StoredNumber(const char *name);
long StoredLength(const char *name);
