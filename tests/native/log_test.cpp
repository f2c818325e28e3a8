// The log ring and the line format.
#include <gtest/gtest.h>

#include <string>

#include "shell/log.h"
#include "tests/support/test_support.h"

namespace {

std::string Joined()
{
    JoinLogRing(LogJoined, sizeof LogJoined);
    return LogJoined;
}

std::string Numbered(int n) { return "line " + std::to_string(n) + "\r\n"; }

std::string ExpectedRun(int first, int last)
{
    std::string text;
    for (int n = first; n <= last; n++)
        text += "2001-11-28 09:05:03 [system] " + Numbered(n);
    return text;
}

void PushNumbered(int count)
{
    char line[kLogSlotSize];
    for (int n = 1; n <= count; n++) {
        FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[system] ", Numbered(n).c_str());
        PushLogLine(line);
    }
}

TEST(LogRing, EmptyRingJoinsToNothing)
{
    InitLogRing();
    EXPECT_EQ(Joined(), "");
}

TEST(LogRing, KeepsTheLast64LinesOldestFirst)
{
    for (auto [pushed, first] : {std::pair{1, 1}, {63, 1}, {64, 1}, {65, 2}, {200, 137}}) {
        InitLogRing();
        PushNumbered(pushed);
        EXPECT_EQ(Joined(), ExpectedRun(first, pushed)) << pushed << " lines";
    }
}

TEST(LogRing, JoinNeverWritesPastItsBuffer)
{
    InitLogRing();
    PushNumbered(10);
    char small[40];
    JoinLogRing(small, sizeof small);
    EXPECT_EQ(std::string(small), ExpectedRun(1, 2).substr(0, 39));
}

TEST(LogLine, FormatAndEmptyText)
{
    char line[kLogSlotSize];
    FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[send] ", "STAT\r\n");
    EXPECT_STREQ(line, "2001-11-28 09:05:03 [send] STAT\r\n");
    // An empty text still makes a line: the next one continues it.
    InitLogRing();
    FormatLogLine(line, {2001, 1, 2, 3, 4, 5}, "[recv] ", "");
    PushLogLine(line);
    FormatLogLine(line, {2001, 1, 2, 3, 4, 6}, "[system] ", "x\r\n");
    PushLogLine(line);
    EXPECT_EQ(Joined(), "2001-01-02 03:04:05 [recv] 2001-01-02 03:04:06 [system] x\r\n");
}

TEST(LogLine, LongTextIsCutAt1023Bytes)
{
    char line[kLogSlotSize];
    std::string text(2000, 'a');
    FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[recv] ", text.c_str());
    EXPECT_EQ(std::string(line), "2001-11-28 09:05:03 [recv] " + std::string(996, 'a'));
}

TEST(LogLine, CutNeverSplitsATwoByteCharacter)
{
    char line[kLogSlotSize];
    // The time stamp and prefix take 27 bytes: after 994 single bytes the last whole character
    // ends exactly at the 1023rd byte.
    std::string fits = std::string(994, 'a') + "ソソ";
    FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[recv] ", fits.c_str());
    EXPECT_EQ(std::string(line), "2001-11-28 09:05:03 [recv] " + std::string(994, 'a') + "ソ");
    // After 995 single bytes only one byte is left: the whole character goes.
    std::string straddles = std::string(995, 'a') + "ソ";
    FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[recv] ", straddles.c_str());
    EXPECT_EQ(std::string(line), "2001-11-28 09:05:03 [recv] " + std::string(995, 'a'));
}

TEST(AppendLog, StampsWithTheLocalTime)
{
    InitLogRing();
    AppendLog("[system] ", "hello\r\n");
    std::string stored = LogRing.slot[0].text;
    ASSERT_EQ(stored.size(), 20u + 9u + 7u);
    EXPECT_EQ(stored.substr(4, 1) + stored.substr(7, 1) + stored.substr(10, 1) + stored.substr(13, 1) +
                  stored.substr(16, 1),
              "-- ::");
    EXPECT_EQ(LoggedLines(), std::vector<std::string>{"[system] hello\r\n"});
}

}  // namespace
