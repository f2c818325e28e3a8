// What the Windows test programs share: the message loop, windows of any process, the tray
// picture on show, and pollwick.exe itself, started and stopped as a user would.
#pragma once

#include <windows.h>

#include <string>

// Texts between the program's code page (932, as the tests' literals are) and UTF-16, whatever the
// system's own code page is; length -1: up to the terminator.
std::wstring Wide(const std::string &text);
std::string Narrow(const wchar_t *text, int length = -1);

// A window's text, also another process's, read in UTF-16 (WM_GETTEXT, which GetWindowText does
// not send there).
std::string WindowText(HWND window);
HWND FindDialog(const char *caption);
// Waits for a message box (a dialog with a text of id 0xFFFF, unlike the sheet), returns its text,
// with its caption when that is not the one expected, and dismisses it.
std::string Answer(const char *caption);
// The program's value under the user's Run key, L"" when there is none.
std::wstring RunValue();
HWND WaitDialog(const char *caption, int ms = 10000);

// The settings key there, readable by all and writable by none (ClearStore still removes it).
void DenyStoreWrites();

// Which of the tray pictures the notification area shows first (0: none of them), where its centre
// is on the screen, and how many of them it shows; Settled waits up to three seconds for the
// shell, which draws in its own process, to show the expected one.
int ShownPicture(POINT *centre = nullptr, int *count = nullptr);
int ShownPictureSettled(int expected);
// The text of the balloon the notification area shows, "" while it shows none.
std::string BalloonText();

// The folder of the running program (...\windows\tests for the tests), which holds its helpers.
std::wstring OwnFolder();

// One running pollwick.exe (the one beside the test programs' folder, or POLLWICK_PROGRAM's, for
// a benchmark of an earlier build); a test that ends early still leaves no process behind.
class Program {
public:
    static std::wstring Path();  // where it is
    // Starts it with the command line's arguments and waits for its hidden window, or its end.
    explicit Program(const std::wstring &arguments = L"");
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
    DWORD ExitCode() const;             // STILL_ACTIVE while it runs

private:
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};
