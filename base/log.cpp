// The log ring and the line format; nothing here touches the platform.
#include "base/log.h"

#include <cstring>

#include "base/text.h"

LogRingState LogRing;
char LogJoined[kLogJoinedSize];
void (*LogListener)();

void InitLogRing()
{
    for (int i = 0; i < kLogLines; i++) {
        LogRing.slot[i].text[0] = '\0';
        LogRing.slot[i].next = &LogRing.slot[(i + 1) % kLogLines];
    }
    LogRing.write = LogRing.slot[kLogLines - 1].next;
    LogRing.oldest = LogRing.write;
}

void FormatLogLine(char *out, const LogTime &time, const char *prefix, const char *text)
{
    static_assert(kLogLineMax + 1 <= kFormatLimit && kLogLineMax + 1 <= kLogSlotSize);
    size_t length = FormatText(out, kLogLineMax + 1, "%04d-%02d-%02d %02d:%02d:%02d %s%s", time.year, time.month,
                               time.day, time.hour, time.minute, time.second, prefix, text);
    // A cut line keeps its line end, or the next one would run on after it in the window.
    size_t textLength = strlen(text);
    if (length < textLength || memcmp(out + length - textLength, text, textLength) != 0) {
        length = Cp932CutLength(out, kLogLineMax - 2);
        memcpy(out + length, "\r\n", 3);
    }
}

void PushLogLine(const char *line)
{
    LogSlot *slot = LogRing.write;
    if (slot->text[0] != '\0')
        LogRing.oldest = LogRing.oldest->next;
    CopyText(slot->text, sizeof slot->text, line);
    LogRing.write = slot->next;
}

void JoinLogRing(char *out, size_t size)
{
    if (size == 0)
        return;
    out[0] = '\0';
    const LogSlot *slot = LogRing.oldest;
    while (slot != nullptr && slot->text[0] != '\0') {
        AppendText(out, size, slot->text);
        slot = slot->next;
        if (slot == LogRing.oldest)
            break;
    }
}

void AppendLog(const char *prefix, const char *text)
{
    LogTime time;
    char line[kLogSlotSize];
    ReadLogTime(&time);
    FormatLogLine(line, time, prefix, text);
    PushLogLine(line);
    if (LogListener != nullptr)
        LogListener();
}
