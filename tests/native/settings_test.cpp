// The settings record against the in-memory store: defaults, groups, widths, odd stored data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/settings.h"
#include "settings/store_memory.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearMemoryStore();
        ResetSettings();
    }
};

std::vector<std::string> StoredNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < MemoryStore.count; i++)
        names.push_back(MemoryStore.values[i].name);
    return names;
}

TEST_F(SettingsTest, DefaultsAndNoKeyCreatedByLoading)
{
    LoadSettings();
    EXPECT_STREQ(Settings.POP3, "");
    EXPECT_STREQ(Settings.EXEC, "");
    EXPECT_EQ(Settings.PORT, 110);
    EXPECT_EQ(Settings.TIME, 5);
    EXPECT_EQ(Settings.DCHK, 1);
    EXPECT_EQ(Settings.APOP + Settings.STCH + Settings.DMAL + Settings.ALLM + Settings.OLDM, 0);
    EXPECT_STREQ(Settings.NTPS, "jp.pool.ntp.org");
    EXPECT_FALSE(MemoryStore.keyExists);
}

TEST_F(SettingsTest, EachGroupWritesItsValuesInOrderAtFullWidth)
{
    SaveBasicSettings();
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"POP3", "USER", "PASS", "TIME"}));
    SaveDetailSettings();
    SaveNtpSettings();
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"POP3", "USER", "PASS", "TIME", "EXEC", "PARA", "PORT", "APOP",
                                                       "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "TLSM", "NTPS"}));
    ClearMemoryStore();
    SaveAllSettings();
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"POP3", "USER", "PASS", "EXEC", "PARA", "PORT", "TIME", "APOP",
                                                       "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "NTPS", "TLSM"}));
    const std::pair<const char *, uint32_t> widths[] = {{"POP3", 256}, {"USER", 64}, {"PASS", 64}, {"EXEC", 260},
                                                        {"PARA", 256}, {"NTPS", 256}, {"PORT", 4}, {"OLDM", 4},
                                                        {"TLSM", 4}};
    for (auto [name, width] : widths)
        EXPECT_EQ(FindMemoryValue(name)->size, width) << name;
    EXPECT_EQ(FindMemoryValue("POP3")->type, StoreType::Text);
    EXPECT_EQ(FindMemoryValue("ALLM")->type, StoreType::Number);
}

TEST_F(SettingsTest, RoundTripIncludingNegativeAndOutOfRangeNumbers)
{
    strcpy(Settings.POP3, "pop.example.jp");
    strcpy(Settings.PASS, "パスワード");
    Settings.ALLM = -1;
    Settings.TIME = 0;
    Settings.PORT = 65536 + 110;
    Settings.TLSM = 2;
    SaveAllSettings();
    ResetSettings();
    LoadSettings();
    EXPECT_EQ(Settings.TLSM, 2);
    EXPECT_STREQ(Settings.POP3, "pop.example.jp");
    EXPECT_STREQ(Settings.PASS, "パスワード");
    EXPECT_EQ(Settings.ALLM, -1);
    EXPECT_EQ(Settings.TIME, 0);
    EXPECT_EQ(Settings.PORT, 65536 + 110);
}

TEST_F(SettingsTest, ShortenedPasswordKeepsTheOldTailBehindTheTerminator)
{
    strcpy(Settings.PASS, "abcdef");
    SaveBasicSettings();
    strcpy(Settings.PASS, "xy");
    SaveBasicSettings();
    const uint8_t *data = FindMemoryValue("PASS")->data;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(data), 8), std::string("xy\0def\0\0", 8));
    ResetSettings();
    LoadSettings();
    EXPECT_STREQ(Settings.PASS, "xy");
}

TEST_F(SettingsTest, PartialKeyLeavesTheRestAtDefaults)
{
    int32_t port = 995;
    PutMemoryValue("PORT", StoreType::Number, &port, 4);
    PutMemoryValue("USER", StoreType::Text, "bob", 4);
    LoadSettings();
    EXPECT_EQ(Settings.PORT, 995);
    EXPECT_STREQ(Settings.USER, "bob");
    EXPECT_EQ(Settings.TIME, 5);
    EXPECT_STREQ(Settings.NTPS, "jp.pool.ntp.org");
}

TEST_F(SettingsTest, OddlyStoredValuesNeverOverrunAField)
{
    // A text filling its whole width without a zero byte still ends inside the field.
    std::string full(64, 'u');
    PutMemoryValue("USER", StoreType::Text, full.data(), 64);
    // The same, where a two-byte character would straddle the last byte.
    std::string wide = std::string(63, 'p') + "\x83";
    PutMemoryValue("PASS", StoreType::Text, wide.data(), 64);
    // Longer than the field: not read, the default stays.
    std::string tooLong(300, 'h');
    PutMemoryValue("POP3", StoreType::Text, tooLong.data(), 300);
    // A number stored as text of two bytes: two bytes land, the rest of the field stays.
    PutMemoryValue("TIME", StoreType::Text, "\x07\x00", 2);
    // A number stored with eight bytes does not fit the four offered.
    int64_t big = 0x1122334455667788;
    PutMemoryValue("PORT", StoreType::Number, &big, 8);
    int32_t allm = 9;
    PutMemoryValue("ALLM", StoreType::Number, &allm, 4);
    LoadSettings();
    EXPECT_EQ(std::string(Settings.USER), std::string(63, 'u'));
    EXPECT_EQ(std::string(Settings.PASS), std::string(63, 'p'));
    EXPECT_STREQ(Settings.POP3, "");
    EXPECT_EQ(Settings.TIME, 7);
    EXPECT_EQ(Settings.PORT, 110);
    EXPECT_EQ(Settings.ALLM, 9);
}

TEST_F(SettingsTest, KeyThatCannotBeCreatedIsReportedOncePerSaveAndWritesNothing)
{
    MemoryStore.failStatus = 5;
    SaveAllSettings();
    SaveNtpSettings();
    EXPECT_EQ(MemoryStore.reports, 2);
    EXPECT_EQ(MemoryStore.lastReportedStatus, 5);
    EXPECT_EQ(MemoryStore.count, 0);
    MemoryStore.failStatus = 0;
    SaveNtpSettings();
    EXPECT_EQ(StoredNames(), std::vector<std::string>{"NTPS"});
}

}  // namespace
