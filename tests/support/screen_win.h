// Looking at the screen from a Windows test: captures, the tray picture on show, screenshots.
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
