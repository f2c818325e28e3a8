// A small remote control for a running Pollwick, for scripts: posts a command or a tray message
// to its hidden window, or prints its log.
//   probe command ID        post WM_COMMAND ID (200..205)
//   probe tray MOUSEMSG     post the tray callback with that mouse message (513, 515, 517)
//   probe log               print the log window's text
//   probe wait SECONDS      wait until the program's window exists
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    HWND window = FindWindowA("Pollwick", "Pollwick");
    if (strcmp(argv[1], "wait") == 0) {
        for (int i = 0; i < (argc > 2 ? atoi(argv[2]) : 10) * 10 && window == nullptr; i++) {
            Sleep(100);
            window = FindWindowA("Pollwick", "Pollwick");
        }
        return window != nullptr ? 0 : 1;
    }
    if (window == nullptr) {
        fprintf(stderr, "probe: Pollwick is not running\n");
        return 1;
    }
    if (strcmp(argv[1], "command") == 0 && argc > 2)
        return PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(atoi(argv[2])), 0) ? 0 : 1;
    if (strcmp(argv[1], "tray") == 0 && argc > 2)
        return PostMessageA(window, WM_USER, 5000, atoi(argv[2])) ? 0 : 1;
    if (strcmp(argv[1], "log") == 0) {
        static char text[81920];
        HWND log = FindWindowA("#32770", "Pollwick ログ");
        if (log == nullptr)
            return 1;
        DWORD_PTR copied;
        SendMessageTimeoutA(GetDlgItem(log, 3010), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, &copied);
        fwrite(text, 1, strlen(text), stdout);
        return 0;
    }
    return 2;
}
