// Times Pollwick's own check for the benchmark: CheckMail against HOST:PORT, ROUNDS times, one
// line per round with the count and the milliseconds it took. Built natively and for Windows.
//   check HOST PORT USER PASSWORD APOP(0|1) ROUNDS
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "mail/pop3.h"
#include "settings/settings.h"
#include "shell/log.h"
#include "shell/text.h"

int main(int argc, char **argv)
{
    if (argc != 7) {
        fprintf(stderr, "usage: check HOST PORT USER PASSWORD APOP ROUNDS\n");
        return 2;
    }
    CopyText(Settings.POP3, sizeof Settings.POP3, argv[1]);
    Settings.PORT = atoi(argv[2]);
    CopyText(Settings.USER, sizeof Settings.USER, argv[3]);
    CopyText(Settings.PASS, sizeof Settings.PASS, argv[4]);
    Settings.APOP = atoi(argv[5]);
    InitLogRing();
    int rounds = atoi(argv[6]);
    for (int i = 0; i < rounds; i++) {
        auto start = std::chrono::steady_clock::now();
        int count = CheckMail();
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        printf("%d %.3f\n", count, took.count());
        fflush(stdout);
        if (count < 0) {
            JoinLogRing(LogJoined, sizeof LogJoined);
            fputs(LogJoined, stderr);
            return 1;
        }
    }
    return 0;
}
