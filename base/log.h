// The activity log: the last 64 time-stamped lines, kept in memory and shown by the log window.
#pragma once

#include <cstddef>

constexpr int kLogLines = 64;
constexpr size_t kLogSlotSize = 1280;
constexpr size_t kLogLineMax = 1023;  // the formatter's bound, terminator excluded
constexpr size_t kLogJoinedSize = 81920;  // 64 full lines and the terminator fit with room to spare

struct LogSlot {
    char text[kLogSlotSize];  // empty: never written
    LogSlot *next;
};

struct LogRingState {
    LogSlot slot[kLogLines];
    LogSlot *oldest;  // where the window starts
    LogSlot *write;   // where the next line goes
};

extern LogRingState LogRing;
extern char LogJoined[kLogJoinedSize];

struct LogTime {
    int year, month, day, hour, minute, second;
};

// The prefix of the lines the program writes of its own accord (errors, what it is doing).
constexpr char kSystem[] = "[system] ";

void InitLogRing();

// "%04d-%02d-%02d %02d:%02d:%02d %s%s", cut to kLogLineMax bytes, never inside a two-byte
// character, and then ending in CR LF. out must hold kLogSlotSize bytes.
void FormatLogLine(char *out, const LogTime &time, const char *prefix, const char *text);

// Stores one line, dropping the oldest once all 64 slots are in use.
void PushLogLine(const char *line);

// Every stored line, oldest first, joined without separators into out (size bytes).
void JoinLogRing(char *out, size_t size);

// Time-stamps one line, stores it and calls LogListener. Callers end text with "\r\n".
void AppendLog(const char *prefix, const char *text);

// Called after each stored line: the log window, once it exists, is told that its text is out of
// date. Null until then.
extern void (*LogListener)();

// The local time of a line (the platform's side).
void ReadLogTime(LogTime *time);
