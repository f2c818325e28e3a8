// What the Windows test programs share: the message loop, windows of any process, the tray
// picture on show, and pollwick.exe itself, started and stopped as a user would.
#pragma once

#include <windows.h>

#include <string>

// Runs this thread's message loop for about ms milliseconds.
void Pump(int ms);
// A window's text, also another process's (WM_GETTEXT, which GetWindowText does not send there).
std::string WindowText(HWND window);
HWND FindDialog(const char *caption);
HWND WaitDialog(const char *caption, int ms = 10000);

// Which of the tray pictures the notification area shows (0: none of them), and where its centre
// is on the screen; Settled waits up to three seconds for the shell, which draws in its own
// process, to show the expected one.
int ShownPicture(POINT *centre = nullptr);
int ShownPictureSettled(int expected);
// The text of the balloon the notification area shows, "" while it shows none.
std::string BalloonText();

// One running pollwick.exe (the one beside the test programs' folder); a test that ends early
// still leaves no process behind.
class Program {
public:
    Program();   // starts it and waits for its hidden window
    ~Program();  // ends it if it still runs
    HWND Window() const { return window_; }
    void Command(int id) const;         // a menu command, posted
    void Tray(UINT mouseMessage) const;  // the icon's callback, posted
    LRESULT Send(UINT message, WPARAM wParam) const;  // sent, as the system sends it
    std::string Log() const;            // the log window's text
    bool WaitForLog(const std::string &part, int ms = 15000) const;
    size_t Count(const std::string &part) const;  // occurrences in the log
    bool Exit();                        // the menu's 終了; true once the process has ended
    bool Ended(int ms);                 // true once the process has ended, waiting up to ms

private:
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};
