// Start-up to icon and the idle run, under Wine (started by bench/footprint.sh through ctest):
// launches pollwick.exe ROUNDS times and times each launch until its picture shows in the
// notification area, then launches it once more and leaves it idle for IDLE_SECONDS while the
// script counts its wake-ups from Linux.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/win_support.h"
#include "tests/support/test_support.h"

namespace {

const char kKey[] = "Software\\Quorvane\\Pollwick";

// Launches the program; the milliseconds until its picture shows, or -1.
double Launch(PROCESS_INFORMATION *process)
{
    std::string command = ProgramCommandLine();
    STARTUPINFOA startup = {sizeof startup};
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process))
        return -1;
    for (int i = 0; i < 2000; i++) {
        if (ShownPicture() == 2001) {
            QueryPerformanceCounter(&now);
            return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        }
        Sleep(5);
    }
    return -1;
}

bool Exit(PROCESS_INFORMATION *process)
{
    HWND window = FindProgramWindow(process->dwProcessId);
    if (window != nullptr)
        PostMessageA(window, WM_COMMAND, 201, 0);  // 終了
    bool ended = WaitForSingleObject(process->hProcess, 10000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process->hProcess, 1);
    CloseHandle(process->hProcess);
    CloseHandle(process->hThread);
    // The notification area takes a moment to drop the picture.
    for (int i = 0; i < 200 && ShownPicture() != 0; i++)
        Sleep(10);
    return ended;
}

}  // namespace

int main()
{
    int rounds = std::stoi(Environment("POLLWICK_STARTUP_ROUNDS", "10"));
    int idleSeconds = std::stoi(Environment("POLLWICK_IDLE_SECONDS", "60"));
    // A complete account, no check at start-up, the longest interval: nothing is due while idle.
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    PutText("POP3", "127.0.0.1");
    PutText("USER", "idle");
    PutText("PASS", "idle");
    PutNumber("STCH", 0);
    PutNumber("TIME", 35791);

    std::vector<double> times;
    for (int i = 0; i < rounds; i++) {
        PROCESS_INFORMATION process;
        double ms = Launch(&process);
        bool ended = Exit(&process);
        printf("startup: launch %d: %.1f ms%s\n", i + 1, ms, ended ? "" : " (did not end)");
        if (ms < 0 || !ended)
            return 1;
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    double median = times.size() % 2 ? times[times.size() / 2] : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
    printf("startup: median of %d to the icon: %.1f ms (min %.1f, max %.1f)\n", rounds, median, times.front(), times.back());

    PROCESS_INFORMATION process;
    if (Launch(&process) < 0)
        return 1;
    Sleep(2000);  // let the start-up settle
    printf("idle: start %lu\n", process.dwProcessId);
    fflush(stdout);
    Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    printf("idle: end\n");
    fflush(stdout);
    bool ended = Exit(&process);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    return ended ? 0 : 1;
}
