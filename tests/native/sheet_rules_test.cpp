// The settings sheet's text rules: number reading, the interval, the mail-program split and join.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "settings/sheet_rules.h"
#include "settings/settings.h"

namespace {

TEST(NumberText, LeadingIntegerAndIntervalBounds)
{
    const std::pair<const char *, int32_t> numbers[] = {
        {"", 0}, {"abc", 0}, {"\t\r\n-7x", -7}, {"+15", 15}, {"12分", 12}, {"- 5", 0}, {"１２", 0},
        {"2147483647", INT32_MAX}, {"99999999999999999999", INT32_MAX}, {"-2147483649", INT32_MIN}};
    for (auto [text, value] : numbers)
        EXPECT_EQ(ReadLeadingInteger(text), value) << text;
    const std::pair<const char *, int32_t> intervals[] = {
        {"0", 1}, {"-3", 1}, {"", 1}, {"abc", 1}, {"30分", 30}, {"35791", 35791}, {"35792", 35791},
        {"99999999999", 35791}};
    for (auto [text, minutes] : intervals)
        EXPECT_EQ(IntervalFromText(text), minutes) << text;
    // The largest interval whose milliseconds fit the timer's signed 32-bit count.
    EXPECT_LE(int64_t{kMaxInterval} * 60000, INT32_MAX);
    EXPECT_GT(int64_t{kMaxInterval + 1} * 60000, INT32_MAX);
}

TEST(SplitMailerText, ProgramAndArguments)
{
    const std::string p259 = "C:\\" + std::string(252, 'p') + ".exe", p260 = "C:\\" + std::string(253, 'p') + ".exe";
    const std::string a255(255, 'a');
    const struct {
        std::string text;
        MailerSplit result;
        std::string exec, para;  // before the split: "C:\old.exe" and "-old"
    } cases[] = {
        {"C:\\mail\\mailer.exe", MailerSplit::Accepted, "C:\\mail\\mailer.exe", ""},
        {"C:\\mail\\mailer.exe -check", MailerSplit::Accepted, "C:\\mail\\mailer.exe", "-check"},
        {"C:\\mail\\mailer.exe ", MailerSplit::Accepted, "C:\\mail\\mailer.exe", ""},
        {"C:\\mail\\mailer.exe/a", MailerSplit::Accepted, "C:\\mail\\mailer.exe", "a"},
        {"C:\\Program Files\\m.exe  -x", MailerSplit::Accepted, "C:\\Program Files\\m.exe", " -x"},
        {"C:\\tools\\a.exe.d\\m.exe -x", MailerSplit::Accepted, "C:\\tools\\a.exe", "d\\m.exe -x"},
        {"C:\\MAIL\\MAILER.EXE", MailerSplit::Accepted, "C:\\MAIL\\MAILER.EXE", ""},
        {"C:\\Mail\\Mailer.eXe -x", MailerSplit::Accepted, "C:\\Mail\\Mailer.eXe", "-x"},
        // ソ is 0x83 0x5C, its second byte a backslash; あ after ".exe" is one character.
        {"C:\\ソフト\\メール.exe -受信", MailerSplit::Accepted, "C:\\ソフト\\メール.exe", "-受信"},
        {"C:\\m.exeあいう", MailerSplit::Accepted, "C:\\m.exe", "いう"},
        {"\"C:\\Program Files\\m.exe\" -check", MailerSplit::Accepted, "C:\\Program Files\\m.exe", "-check"},
        {"\"C:\\Program Files\\m.exe\"", MailerSplit::Accepted, "C:\\Program Files\\m.exe", ""},
        {"\"C:\\m.exe\"-x", MailerSplit::Accepted, "C:\\m.exe", "-x"},
        {"\"C:\\m.exe\"  \"D:\\My Box\"", MailerSplit::Accepted, "C:\\m.exe", " \"D:\\My Box\""},
        {"\"C:\\a.exe.d\\M.EXE\" -x", MailerSplit::Accepted, "C:\\a.exe.d\\M.EXE", "-x"},
        {"\"C:\\Program Files\\m.exe -x", MailerSplit::Accepted, "C:\\Program Files\\m.exe", "-x"},
        {"", MailerSplit::NoProgram, "", ""},
        {"notepad", MailerSplit::NoProgram, "", ""},
        {"C:\\m.ex", MailerSplit::NoProgram, "", ""},
        {"\"C:\\run.bat\" -x.exe", MailerSplit::NoProgram, "", ""},
        {"\"\" C:\\m.exe", MailerSplit::NoProgram, "", ""},
        {p259 + " " + a255, MailerSplit::Accepted, p259, a255},
        {"\"" + p259 + "\" -x", MailerSplit::Accepted, p259, "-x"},
        {p260, MailerSplit::TooLong, "C:\\old.exe", "-old"},
        {"\"" + p260 + "\"", MailerSplit::TooLong, "C:\\old.exe", "-old"},
        {"C:\\m.exe " + a255 + "b", MailerSplit::TooLong, "C:\\old.exe", "-old"},
        {"\"C:\\m.exe\" " + a255 + "b", MailerSplit::TooLong, "C:\\old.exe", "-old"},
    };
    for (const auto &c : cases) {
        char exec[260] = "C:\\old.exe", para[256] = "-old";
        EXPECT_EQ(SplitMailerText(c.text.c_str(), exec, sizeof exec, para, sizeof para), c.result) << c.text;
        EXPECT_EQ(exec, c.exec) << c.text;
        EXPECT_EQ(para, c.para) << c.text;
    }
}

TEST(JoinMailerText, ShownTextSplitsBackIntoTheSameFields)
{
    const std::string p259 = "C:\\" + std::string(252, 'p') + ".exe", a255(255, 'a');
    const std::pair<std::string, std::string> fields[] = {
        {"C:\\m.exe", ""}, {"C:\\Program Files\\MAILER.EXE", "/new -q"}, {"C:\\ソフト\\メール.exe", " -x"},
        {p259, a255}};
    for (const auto &[execIn, paraIn] : fields) {
        char text[kMailerTextSize], exec[260], para[256];
        JoinMailerText(execIn.c_str(), paraIn.c_str(), text, sizeof text);
        EXPECT_EQ(text, paraIn.empty() ? execIn : execIn + " " + paraIn);  // no space before nothing
        ASSERT_EQ(SplitMailerText(text, exec, sizeof exec, para, sizeof para), MailerSplit::Accepted) << text;
        EXPECT_EQ(exec, execIn);
        EXPECT_EQ(para, paraIn);
    }
}

}  // namespace
