// The decisions free of platform calls, built natively and for Windows: bounded texts, the log
// ring, MD5, the tray's rules, the settings sheet's text rules and the STAT count.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mail/md5.h"
#include "mail/pop3.h"
#include "settings/settings.h"
#include "settings/sheet_rules.h"
#include "base/log.h"
#include "base/text.h"
#include "shell/tray_rules.h"

namespace {

// ソ is 0x83 0x5C: its second byte is a backslash, so a cut between the two leaves a lead byte
// that swallows whatever follows.
TEST(Text, CopiesAppendsAndFormatsNeverCutACharacterInHalf)
{
    const struct {
        const char *before;  // nullptr: CopyText; "%": FormatText; else AppendText to it
        size_t size;
        const char *source, *expected;
        bool whole;
    } cases[] = {
        {nullptr, 4, "aソb", "aソ", false}, {nullptr, 3, "aソ", "a", false}, {nullptr, 3, "a\x83", "a", false},
        {nullptr, 4, "aソ", "aソ", true},   {"ab", 4, "ソ", "ab", false},    {"ab", 5, "ソ", "abソ", true},
        {"%", 4, "aaソ", "aa", false},      {"%", 5, "aaソ", "aaソ", true},
    };
    for (const auto &c : cases) {
        char out[16];
        bool whole;
        if (c.before == nullptr) {
            whole = CopyText(out, c.size, c.source);
        } else if (*c.before == '%') {
            whole = FormatText(out, c.size, "%s", c.source) == strlen(c.source);
        } else {
            strcpy(out, c.before);
            whole = AppendText(out, c.size, c.source);
        }
        EXPECT_STREQ(out, c.expected) << c.source << " in " << c.size;
        EXPECT_EQ(whole, c.whole) << c.source << " in " << c.size;
    }
}

TEST(Log, KeepsTheLast64LinesOldestFirstEachCutOnAWholeCharacterWithItsLineEnd)
{
    for (auto [pushed, first] : {std::pair{0, 1}, {1, 1}, {64, 1}, {65, 2}, {200, 137}}) {
        InitLogRing();
        char line[kLogSlotSize];
        for (int n = 1; n <= pushed; n++) {
            FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[system] ", ("line " + std::to_string(n) + "\r\n").c_str());
            PushLogLine(line);
        }
        std::string expected;
        for (int n = first; n <= pushed; n++)
            expected += "2001-11-28 09:05:03 [system] line " + std::to_string(n) + "\r\n";
        JoinLogRing(LogJoined, sizeof LogJoined);
        EXPECT_EQ(LogJoined, expected) << pushed << " lines";
    }
    // At 1023 bytes, of which the time stamp and "[recv] " take 27; a cut line ends in CR LF.
    const std::pair<std::string, std::string> cases[] = {
        {std::string(2000, 'a'), std::string(994, 'a') + "\r\n"},
        {std::string(996, 'a'), std::string(996, 'a')},  // exactly 1023 bytes: not cut
        {std::string(992, 'a') + "ソソソ", std::string(992, 'a') + "ソ\r\n"},
        {std::string(993, 'a') + "ソソ", std::string(993, 'a') + "\r\n"},
        {"", ""},  // no line end: the next line continues it
    };
    for (const auto &[text, kept] : cases) {
        char line[kLogSlotSize];
        FormatLogLine(line, {2001, 11, 28, 9, 5, 3}, "[recv] ", text.c_str());
        EXPECT_EQ(std::string(line), "2001-11-28 09:05:03 [recv] " + kept) << text.size();
    }
}

std::string Md5Hex(const std::string &data, size_t piece)
{
    Md5Context context;
    uint8_t digest[16];
    Md5Init(&context);
    for (size_t at = 0; at < data.size(); at += piece)
        Md5Update(&context, reinterpret_cast<const uint8_t *>(data.data()) + at,
                  static_cast<uint32_t>(std::min(piece, data.size() - at)));
    Md5Final(digest, &context);
    char hex[33];
    for (int i = 0; i < 16; i++)
        snprintf(hex + i * 2, 3, "%02x", digest[i]);
    return hex;
}

TEST(Md5, Rfc1321SuiteTheBoundariesOfPaddingAndBlocksAndApop)
{
    const std::pair<std::string, const char *> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[text, digest] : suite)
        EXPECT_EQ(Md5Hex(text, 64), digest) << text;

    // Byte i of each input is (i * 37 + 11) & 0xFF; digests from an independent implementation.
    const std::pair<size_t, const char *> lengths[] = {
        {55, "d872aa0473a24da995ce4ac518ade767"}, {56, "e23567645846677c205de80f9779081b"},
        {57, "1fe5e4a27e12484d7203d0b60c21c51f"}, {63, "4775b66278a8fc132ff80923378216cd"},
        {64, "71e123b70c7aa64826fcfe472694cd1c"}, {65, "5949948f26e35203661075214faa3966"},
        {119, "87f72c7241c5fe218bb4df8c0aba3232"}, {120, "bf240b8b7407fba3805adeec63a03b77"},
        {128, "3e93b378458b77da96b2357c3bda8cc2"}, {129, "d1ae06bbf9128955a34bedb6231eee62"},
    };
    for (const auto &[n, digest] : lengths) {
        std::string data;
        for (size_t i = 0; i < n; i++)
            data += static_cast<char>((i * 37 + 11) & 0xFF);
        EXPECT_EQ(Md5Hex(data, n + 1), digest) << n;
        EXPECT_EQ(Md5Hex(data, 7), digest) << n << " in pieces";
    }
    char apop[33];  // a code page 932 password: its bytes are unsigned
    ApopDigest(apop, "<1.2@x>\x83\x5c\x83\x74\x83\x67");
    EXPECT_STREQ(apop, "4c05b5ea99495f87f2a1d27c56e3ab31");
}

TEST(TrayRules, CountsPicturesTheSoundTheTooltipAndTheDoubleClick)
{
    const struct {
        int32_t allm, oldm, result, newAllm, newOldm;
        int picture;
        bool beep;
    } cases[] = {
        {3, 0, 3, 3, 0, IDI_NEW_MAIL, false},          // all new, the count did not grow
        {3, 3, 5, 5, 3, IDI_NEW_AND_OLD_MAIL, true},   // two new beside three acknowledged
        {5, 5, 2, 2, 2, IDI_OLD_MAIL, false},          // removed: the rest counts as seen
        {7, 2, 6, 6, 2, IDI_NEW_AND_OLD_MAIL, false},  // fewer, some still new
        {5, 2, 0, 0, 0, IDI_NO_MAIL, false},
        {4, 4, -1, 0, 0, IDI_CHECK_FAILED, false},            // a failure: both back to 0 ...
        {0, 0, 4, 4, 0, IDI_NEW_MAIL, true},           // ... so everything is new again
        {-1, 0, 3, 3, 0, IDI_NEW_MAIL, true},          // a stored -1 is below any count
    };
    for (const auto &c : cases) {
        CheckOutcome outcome = ApplyCheckResult(c.allm, c.oldm, c.result);
        EXPECT_EQ((std::vector<int>{outcome.allm, outcome.oldm, outcome.icon, outcome.mailBeep}),
                  (std::vector<int>{c.newAllm, c.newOldm, c.picture, c.beep}))
            << c.allm << "/" << c.oldm << " -> " << c.result;
    }
    const int offsets[][3] = {{0, 0, 0}, {0, 5, 0}, {4, 0, 1}, {4, 3, 2}, {4, 4, 3}, {4, 9, 3}};
    for (const auto &o : offsets)
        EXPECT_EQ(CountOffset(o[0], o[1]), o[2]) << o[0] << "/" << o[1];

    int32_t allm = 5, oldm = 3;
    EXPECT_EQ(AcknowledgeMail(&allm, &oldm), IDI_OLD_MAIL);
    EXPECT_EQ(oldm, 5);
    allm = oldm = 0;
    EXPECT_EQ(AcknowledgeMail(&allm, &oldm), IDI_NO_MAIL);

    const struct {
        int32_t allm, oldm;
        const char *tip;
    } tips[] = {
        {5, 3, "新着 2 件/全 5 件"},
        {INT32_MIN, 1, "新着 2147483647 件/全 -2147483648 件"},  // the longest, within the record's 64 bytes
    };
    for (const auto &t : tips) {
        char tip[80];
        FormatTooltip(tip, sizeof tip, t.allm, t.oldm);
        EXPECT_STREQ(tip, t.tip);
        EXPECT_LT(strlen(tip), 64u);
    }
    EXPECT_EQ(DoubleClickAction(1, 1, "mailer.exe"), DoubleClick::Check);  // checking wins
    EXPECT_EQ(DoubleClickAction(0, 1, "mailer.exe"), DoubleClick::StartMailer);
    EXPECT_EQ(DoubleClickAction(0, 1, ""), DoubleClick::Nothing);
    EXPECT_EQ(DoubleClickAction(0, 0, "mailer.exe"), DoubleClick::Nothing);
}

TEST(SheetRules, NumbersAndTheInterval)
{
    const std::pair<const char *, int32_t> numbers[] = {
        {"", 0}, {"abc", 0}, {"\t\r\n-7x", -7}, {"+15", 15}, {"12分", 12}, {"- 5", 0}, {"１２", 0},
        {"99999999999999999999", INT32_MAX}, {"-2147483649", INT32_MIN}};
    for (auto [text, value] : numbers)
        EXPECT_EQ(ReadLeadingInteger(text), value) << text;
    // The largest interval whose milliseconds fit the timer's signed 32-bit count.
    const std::pair<const char *, int32_t> intervals[] = {{"0", 1}, {"-3", 1}, {"abc", 1}, {"30分", 30},
                                                          {"35791", 35791}, {"35792", 35791}, {"99999999999", 35791}};
    for (auto [text, minutes] : intervals)
        EXPECT_EQ(IntervalFromText(text), minutes) << text;
}

TEST(SheetRules, TheMailProgramBoxSplitsIntoProgramAndArguments)
{
    const std::string p259 = "C:\\" + std::string(252, 'p') + ".exe", p260 = "C:\\" + std::string(253, 'p') + ".exe";
    const std::string a255(255, 'a');
    const struct {
        std::string text;
        MailerSplit result;
        std::string exec, para;  // before the split: "C:\old.exe" and "-old"
    } cases[] = {
        {"C:\\mail\\mailer.exe -check", MailerSplit::Accepted, "C:\\mail\\mailer.exe", "-check"},
        {"C:\\mail\\mailer.exe ", MailerSplit::Accepted, "C:\\mail\\mailer.exe", ""},
        {"C:\\mail\\mailer.exe/a", MailerSplit::NoProgram, "C:\\old.exe", "-old"},  // ".exe" must end the path
        {"C:\\Program Files\\m.exe  -x", MailerSplit::Accepted, "C:\\Program Files\\m.exe", " -x"},
        {"C:\\tools\\a.exe.d\\m.exe -x", MailerSplit::Accepted, "C:\\tools\\a.exe.d\\m.exe", "-x"},
        {"C:\\Mail\\Mailer.eXe -x", MailerSplit::Accepted, "C:\\Mail\\Mailer.eXe", "-x"},
        {"C:\\ソフト\\メール.exe -受信", MailerSplit::Accepted, "C:\\ソフト\\メール.exe", "-受信"},
        {"C:\\m.exeあいう", MailerSplit::NoProgram, "C:\\old.exe", "-old"},
        // The search steps over characters: the '.' after a lead byte is its second half.
        {"C:\\x\x83.exe -y", MailerSplit::NoProgram, "C:\\old.exe", "-old"},
        {"\"C:\\Program Files\\m.exe\" -check", MailerSplit::Accepted, "C:\\Program Files\\m.exe", "-check"},
        {"\"C:\\m.exe\"-x", MailerSplit::Accepted, "C:\\m.exe", "-x"},
        {"\"C:\\a.exe.d\\M.EXE\" -x", MailerSplit::Accepted, "C:\\a.exe.d\\M.EXE", "-x"},
        {"\"C:\\Program Files\\m.exe -x", MailerSplit::Accepted, "C:\\Program Files\\m.exe", "-x"},
        {"", MailerSplit::Accepted, "", ""},  // clears the mail program
        {"notepad", MailerSplit::NoProgram, "C:\\old.exe", "-old"},
        {"\"\" C:\\m.exe", MailerSplit::NoProgram, "C:\\old.exe", "-old"},
        {"\"C:\\tools\\run.bat\" -x.exe", MailerSplit::Accepted, "C:\\tools\\run.bat", "-x.exe"},  // any kind, quoted
        {p259 + " " + a255, MailerSplit::Accepted, p259, a255},
        {p260, MailerSplit::TooLong, "C:\\old.exe", "-old"},
        {"\"" + p260 + "\"", MailerSplit::TooLong, "C:\\old.exe", "-old"},
        {"C:\\m.exe " + a255 + "b", MailerSplit::TooLong, "C:\\old.exe", "-old"},
    };
    for (const auto &c : cases) {
        char exec[260] = "C:\\old.exe", para[256] = "-old";
        EXPECT_EQ(SplitMailerText(c.text.c_str(), exec, sizeof exec, para, sizeof para), c.result) << c.text;
        EXPECT_TRUE(exec == c.exec && para == c.para) << c.text << ": " << exec << " " << para;
    }
    // What the box shows splits back into the same program: quoted when it would not otherwise.
    const std::pair<const char *, const char *> joins[] = {{"C:\\Program Files\\m.exe", "C:\\Program Files\\m.exe -x"},
                                                           {"C:\\tools\\run.bat", "\"C:\\tools\\run.bat\" -x"},
                                                           {"C:\\a.exe b\\m.exe", "\"C:\\a.exe b\\m.exe\" -x"}};
    for (auto [exec, shown] : joins) {
        char text[kMailerTextSize];
        JoinMailerText(exec, "-x", text, sizeof text);
        EXPECT_STREQ(text, shown);
    }
}

TEST(StatCount, TheSecondSpaceSeparatedTokenAsA31BitCount)
{
    const std::pair<const char *, int> cases[] = {
        {"+OK 3 4096\r\n", 3}, {"+OK 12\r\n", 12}, {"  +OK  7  900\r\n", 7}, {"+OK +8 1\r\n", 8}, {"+OK 5x\r\n", 5},
        {"+OK 2147483647\r\n", 2147483647}, {"", -1}, {"+OK\r\n", -1}, {"+OK\t5\r\n", -1}, {"+OK -1\r\n", -1},
        {"+OK 2147483648\r\n", -1}, {"+OK 99999999999999999999999\r\n", -1}, {"+OK lots\r\n", -1}};
    for (auto [reply, count] : cases)
        EXPECT_EQ(ParseStatCount(reply), count) << reply;
}

}  // namespace
