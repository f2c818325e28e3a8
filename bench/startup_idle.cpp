// Start-up to icon and the idle run, under Wine (started by bench/footprint.sh through ctest):
// launches pollwick.exe ROUNDS times and times each launch until its picture shows in the
// notification area, then launches it once more and leaves it idle for IDLE_SECONDS while the
// script counts its wake-ups from Linux.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "resources/names.h"
#include "resources/resource.h"
#include "tests/support/harness.h"
#include "tests/support/win_harness.h"

int main()
{
    int rounds = std::stoi(Environment("POLLWICK_STARTUP_ROUNDS", "10"));
    int idleSeconds = std::stoi(Environment("POLLWICK_IDLE_SECONDS", "60"));
    // A complete account, no check at start-up, the longest interval: nothing is due while idle.
    ClearStore();
    PutStoredText("POP3", "127.0.0.1");
    PutStoredText("USER", "idle");
    PutStoredText("PASS", "idle");
    PutStoredNumber("STCH", 0);
    PutStoredNumber("TIME", 35791);

    std::vector<double> times;
    for (int i = 0; i < rounds; i++) {
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        auto program = std::make_unique<Program>();
        bool shown = WaitUntil([] { return ShownPicture() == IDI_NO_MAIL; }, 10000);
        QueryPerformanceCounter(&now);
        double ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        bool ended = program->Exit();
        WaitUntil([] { return ShownPicture() == 0; }, 2000);  // the notification area takes a moment
        printf("startup: launch %d: %.1f ms%s\n", i + 1, ms, ended ? "" : " (did not end)");
        if (!shown || !ended)
            return 1;
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    double median = (times[(times.size() - 1) / 2] + times[times.size() / 2]) / 2;
    printf("startup: median of %d to the icon: %.1f ms (min %.1f, max %.1f)\n", rounds, median, times.front(), times.back());

    Program program;
    WaitUntil([] { return ShownPicture() == IDI_NO_MAIL; }, 10000);
    Sleep(2000);  // let the start-up settle
    printf("idle: start\n");
    fflush(stdout);
    Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    printf("idle: end\n");
    fflush(stdout);
    bool ended = program.Exit();
    ClearStore();
    return ended ? 0 : 1;
}
