// How a check moves the counts, which picture follows, when the sound plays, what the tooltip says.
#include <gtest/gtest.h>

#include <string>

#include "shell/tray_rules.h"
#include "settings/settings.h"

namespace {

struct Case {
    int32_t allm, oldm, result;     // before the check, and what it found
    int32_t newAllm, newOldm;
    int icon;
    bool beep;
};

TEST(TrayRules, CheckOutcomes)
{
    const Case cases[] = {
        {3, 0, 3, 3, 0, 2002, false},    // all new, the count did not grow
        {3, 3, 5, 5, 3, 2003, true},     // two new beside three acknowledged
        {5, 5, 2, 2, 2, 2004, false},    // messages removed: the rest counts as seen
        {5, 2, 0, 0, 0, 2001, false},    // mailbox emptied
        {4, 4, -1, 0, 0, 2009, false},   // failure: both counts back to 0
        {0, 0, 4, 4, 0, 2002, true},     // after a failure everything is new again
        {0, 0, 0, 0, 0, 2001, false},
        {2, 2, 2, 2, 2, 2004, false},    // nothing changed, all seen
        {7, 2, 6, 6, 2, 2003, false},    // fewer, but some still new: no sound
        {2, 0, 9, 9, 0, 2002, true},
        {-1, 0, 3, 3, 0, 2002, true},    // a stored -1 behaves as a count below any result
        {2147483647, 0, 2147483647, 2147483647, 0, 2002, false},
    };
    for (const Case &c : cases) {
        CheckOutcome outcome = ApplyCheckResult(c.allm, c.oldm, c.result);
        SCOPED_TRACE(std::to_string(c.allm) + "/" + std::to_string(c.oldm) + " -> " + std::to_string(c.result));
        EXPECT_EQ(outcome.allm, c.newAllm);
        EXPECT_EQ(outcome.oldm, c.newOldm);
        EXPECT_EQ(outcome.icon, c.icon);
        EXPECT_EQ(outcome.mailBeep, c.beep);
    }
}

TEST(TrayRules, PictureOffsetsAndAcknowledging)
{
    EXPECT_EQ(CountOffset(0, 0), 0);
    EXPECT_EQ(CountOffset(0, 5), 0);
    EXPECT_EQ(CountOffset(4, 0), 1);
    EXPECT_EQ(CountOffset(4, 3), 2);
    EXPECT_EQ(CountOffset(4, 4), 3);
    EXPECT_EQ(CountOffset(4, 9), 3);
    EXPECT_EQ(kIconChecking + CountOffset(5, 3), 2007);  // checking with new and old mail

    int32_t allm = 5, oldm = 3;
    EXPECT_EQ(AcknowledgeMail(&allm, &oldm), 2004);
    EXPECT_EQ(oldm, 5);
    allm = 0;
    oldm = 0;
    EXPECT_EQ(AcknowledgeMail(&allm, &oldm), 2001);
}

TEST(TrayRules, TooltipTexts)
{
    char tip[80];
    FormatTooltip(tip, sizeof tip, 5, 3);
    EXPECT_STREQ(tip, "新着 2 件/全 5 件");
    FormatTooltip(tip, sizeof tip, 0, 0);
    EXPECT_STREQ(tip, "新着 0 件/全 0 件");
    FormatTooltip(tip, sizeof tip, -1, 0);
    EXPECT_STREQ(tip, "エラーが起きました");
    // The longest: two ten-digit counts, one negative, still within the record's 64 bytes.
    FormatTooltip(tip, sizeof tip, 2147483647, -2147483647 - 1);
    EXPECT_STREQ(tip, "新着 -1 件/全 2147483647 件");
    FormatTooltip(tip, sizeof tip, -2147483647 - 1, 1);
    EXPECT_STREQ(tip, "新着 2147483647 件/全 -2147483648 件");
    EXPECT_LT(strlen(tip), 64u);
}

TEST(ShellRules, DoubleClickAndInterval)
{
    EXPECT_EQ(DoubleClickAction(1, 1, "mailer.exe"), DoubleClick::Check);  // checking wins
    EXPECT_EQ(DoubleClickAction(0, 1, "mailer.exe"), DoubleClick::StartMailer);
    EXPECT_EQ(DoubleClickAction(0, 1, ""), DoubleClick::Nothing);
    EXPECT_EQ(DoubleClickAction(0, 0, "mailer.exe"), DoubleClick::Nothing);
    EXPECT_EQ(ClampInterval(0), 1);
    EXPECT_EQ(ClampInterval(-5), 1);
    EXPECT_EQ(ClampInterval(5), 5);
    EXPECT_EQ(ClampInterval(35791), 35791);
    EXPECT_EQ(ClampInterval(35792), 35791);
    EXPECT_LE(static_cast<int64_t>(ClampInterval(2147483647)) * 60000, 2147483647);
}

}  // namespace
