// A small remote control for a running Pollwick, for scripts (the demo, the documentation's
// screenshots):
//   probe wait SECONDS     wait until the program's window exists
//   probe COMMAND          check, mailer, settings, log, version or exit, as from the tray menu
//   probe click|dblclick|menu   the tray icon's left click, double click or right button
//   probe page N           show page N (0..2) of the open settings sheet
//   probe rect sheet|menu  print the place of the settings sheet or of the open menu:
//                          left top width height
//   probe text             print the log window's text, in UTF-8
#include <windows.h>
#include <prsht.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resources/names.h"
#include "resources/resource.h"

namespace {

struct Command {
    const char *name;
    int id;
};
constexpr Command kCommands[] = {{"check", IDM_CHECK},       {"mailer", IDM_MAILER}, {"settings", IDM_SETTINGS},
                                 {"log", IDM_SHOWLOG},       {"version", IDM_VERSION}, {"exit", IDM_EXIT}};

HWND ProgramWindow() { return FindWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_CLASS); }

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const char *verb = argv[1];
    HWND window = ProgramWindow();
    if (strcmp(verb, "wait") == 0) {
        for (int i = 0; i < (argc > 2 ? atoi(argv[2]) : 10) * 10 && window == nullptr; i++) {
            Sleep(100);
            window = ProgramWindow();
        }
        return window != nullptr ? 0 : 1;
    }
    if (window == nullptr) {
        fprintf(stderr, "probe: Pollwick is not running\n");
        return 1;
    }
    for (const Command &command : kCommands)
        if (strcmp(verb, command.name) == 0)
            return PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(command.id), 0) ? 0 : 1;
    const struct {
        const char *name;
        UINT message;
    } kMouse[] = {{"click", WM_LBUTTONDOWN}, {"dblclick", WM_LBUTTONDBLCLK}, {"menu", WM_RBUTTONUP}};
    for (const auto &mouse : kMouse)
        if (strcmp(verb, mouse.name) == 0)
            return PostMessageA(window, WM_TRAYNOTIFY, ID_TRAYICON, mouse.message) ? 0 : 1;
    if (strcmp(verb, "rect") == 0 && argc > 2) {
        RECT r;
        wchar_t caption[40];
        MultiByteToWideChar(932, 0, SHEET_CAPTION, -1, caption, 40);
        HWND found = strcmp(argv[2], "menu") == 0 ? FindWindowW(L"#32768", nullptr) : FindWindowW(L"#32770", caption);
        if (found == nullptr || !GetWindowRect(found, &r))
            return 1;
        printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (strcmp(verb, "page") == 0 && argc > 2) {
        wchar_t caption[40];
        MultiByteToWideChar(932, 0, SHEET_CAPTION, -1, caption, 40);
        HWND sheet = FindWindowW(L"#32770", caption);
        return sheet != nullptr && PostMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(atoi(argv[2])), 0) ? 0 : 1;
    }
    if (strcmp(verb, "text") == 0) {
        static wchar_t text[81920];
        static char utf8[3 * 81920];
        wchar_t caption[40];
        MultiByteToWideChar(932, 0, LOG_WINDOW_CAPTION, -1, caption, 40);
        HWND log = FindWindowW(L"#32770", caption);
        if (log == nullptr)
            return 1;
        DWORD_PTR copied;
        SendMessageTimeoutW(GetDlgItem(log, IDC_LOGTEXT), WM_GETTEXT, 81920, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, &copied);
        int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        fwrite(utf8, 1, length > 0 ? static_cast<size_t>(length - 1) : 0, stdout);
        return 0;
    }
    return 2;
}
