// CheckMail against a real Dovecot on loopback, with USER/PASS and with APOP.
#include <gtest/gtest.h>

#include "mail/pop3.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Dovecot, ExactCountsWithUserPassAndApop)
{
    ASSERT_GT(DovecotPort(), 0) << "the Dovecot fixture did not run";
    for (int count : {0, 1, 37}) {
        SetMailboxCount("native", count);
        for (bool apop : {false, true}) {
            UseAccount("127.0.0.1", DovecotPort(), "native", "n4tive-pass", apop);
            EXPECT_EQ(CheckMail(), count) << (apop ? "APOP " : "USER/PASS ") << count;
            Lines lines = LoggedLines();
            ASSERT_EQ(lines.size(), apop ? 8u : 10u);
            EXPECT_EQ(lines[0], "[system] 127.0.0.1:" + std::to_string(DovecotPort()) + " に接続します\r\n");
            EXPECT_EQ(lines[1].substr(0, 10), "[recv] +OK");
            size_t next = 2;
            if (apop) {
                EXPECT_EQ(lines[next++].substr(0, 19), "[send] APOP native ");
            } else {
                EXPECT_EQ(lines[next++], "[send] USER native\r\n");
                EXPECT_EQ(lines[next++].substr(0, 10), "[recv] +OK");
                EXPECT_EQ(lines[next++], "[send] PASS ***********\r\n");
            }
            EXPECT_EQ(lines[next++].substr(0, 10), "[recv] +OK");
            EXPECT_EQ(lines[next++], "[send] STAT\r\n");
            EXPECT_EQ(lines[next++].substr(0, 11 + std::to_string(count).size() + 1),
                      "[recv] +OK " + std::to_string(count) + " ");
            EXPECT_EQ(lines[next++], "[send] QUIT\r\n");
            EXPECT_EQ(lines[next++].substr(0, 10), "[recv] +OK");
        }
    }
}

TEST(Dovecot, WrongPasswordIsRefused)
{
    for (bool apop : {false, true}) {
        UseAccount("127.0.0.1", DovecotPort(), "native", "wrong", apop);
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(LoggedLines().back().substr(0, 12), "[recv] -ERR ");
    }
}

}  // namespace
