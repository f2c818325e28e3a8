// A mail program for the end-to-end tests: it writes "ran" to the file its command line names and
// ends, opening no window. (cmd.exe would bring a console window that takes the front, at a moment
// of its own, from whatever the test is looking at.)
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR file, int)
{
    HANDLE mark = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(mark, "ran", 3, &written, nullptr);
    CloseHandle(mark);
    return 0;
}
