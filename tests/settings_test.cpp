// The settings record and its store, built natively (the in-memory store) and for Windows (the
// program's registry key under Wine, read back through the API).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include "resources/names.h"
#else
#include "settings/store_memory.h"
#endif

#include "base/log.h"
#include "base/text.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearStore();
        ResetSettings();
    }
    void TearDown() override { ClearStore(); }
};

TEST_F(SettingsTest, EachGroupWritesItsOwnValuesAtFullWidthAndEveryValueComesBack)
{
    LoadSettings();
    EXPECT_FALSE(StoreExists()) << "loading created the key";
    CopyText(Settings.POP3, sizeof Settings.POP3, "pop.example.jp");
    CopyText(Settings.PASS, sizeof Settings.PASS, "パスワード");
    CopyText(Settings.PARA, sizeof Settings.PARA, "/check");
    Settings.ALLM = -1;  // numbers load without any range check
    Settings.TIME = 0;
    Settings.PORT = 65536 + 110;
    Settings.TLSM = 2;
    // What the list says a save of groups writes: its fields, texts at their whole width (an empty
    // one too), numbers in four bytes; and where PASS or PENC is among them, both, and EPAS.
    auto expected = [](unsigned groups) {
        bool password = ((kSettingFields[kPASS].groups | kSettingFields[kPENC].groups) & groups) != 0;
        std::string names;
        for (const SettingField &field : kSettingFields)
            if ((field.groups & groups) != 0 || (password && (&field == &kSettingFields[kPASS] || &field == &kSettingFields[kPENC])))
                names += field.name + std::string(field.type == StoreType::Number ? " N" : " T") +
                         std::to_string(field.width) + " ";
        return names + (password ? "EPAS T0 " : "");
    };
    const std::pair<void (*)(), unsigned> saves[] = {
        {SaveBasicSettings, kBasicGroup}, {SaveDetailSettings, kDetailGroup}, {SaveNtpSettings, kNtpGroup}, {SaveAllSettings, ~0u}};
    for (const auto &[save, groups] : saves) {
        ClearStore();
        save();
        std::string written;
        for (const SettingField &field : kSettingFields)
            if (Stored stored = ReadStored(field.name); stored.present)
                written += field.name + std::string(stored.number ? " N" : " T") + std::to_string(stored.bytes.size()) + " ";
        if (Stored stored = ReadStored("EPAS"); stored.present)
            written += "EPAS T" + std::to_string(stored.bytes.size()) + " ";
        EXPECT_EQ(written, expected(groups));
    }
    EXPECT_EQ(ReadStored("PORT").bytes, std::string("\x6e\0\1\0", 4));
    SettingsRecord saved = Settings;
    ResetSettings();
    LoadSettings();
    EXPECT_EQ(memcmp(&saved, &Settings, sizeof Settings), 0);
}

TEST_F(SettingsTest, OddStoredValuesNeverOverrunOrMixWithAField)
{
    PutStored("USER", std::string(64, 'u'));                // the whole width, no terminator
    PutStored("PASS", std::string(62, 'p') + "ソ");          // ... and a character on the last byte
    PutStored("NTPS", "abc");                               // shorter, no terminator
    PutStoredText("POP3", std::string(300, 'h'));           // too long for the field: not read
    PutStored("TIME", std::string("\x07\x00", 2));          // two bytes of a number land
    PutStored("PORT", std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));  // too big: not read
    PutStoredNumber("ALLM", 9);
    LoadSettings();
    EXPECT_EQ(std::string(Settings.USER), std::string(63, 'u'));
    EXPECT_EQ(std::string(Settings.PASS), std::string(62, 'p'));
    EXPECT_STREQ(Settings.NTPS, "abc");
    EXPECT_STREQ(Settings.POP3, "");
    EXPECT_EQ(Settings.TIME, 7);
    EXPECT_EQ(Settings.PORT, 110);
    EXPECT_EQ(Settings.ALLM, 9);
    EXPECT_EQ(Settings.DCHK, 1);  // absent: the default
}

// The password protected for the user when asked: PASS empty, EPAS not showing it. A shortened
// password leaves nothing of the old one behind.
TEST_F(SettingsTest, ThePasswordIsStoredProtectedWhenAskedAndNothingOfAnOldOneStays)
{
    CopyText(Settings.PASS, sizeof Settings.PASS, "abcdef");
    SaveBasicSettings();
    CopyText(Settings.PASS, sizeof Settings.PASS, "xy");
    SaveBasicSettings();
    EXPECT_EQ(ReadStored("PASS").bytes, "xy" + std::string(62, '\0'));
    Settings.PENC = 1;
    SaveDetailSettings();
    EXPECT_EQ(ReadStored("PASS").bytes, std::string(64, '\0'));
    std::string sealed = ReadStored("EPAS").bytes;
    EXPECT_TRUE(sealed.size() > 2 && sealed.find("xy") == std::string::npos);
    ResetSettings();
    LoadSettings();
    EXPECT_STREQ(Settings.PASS, "xy");
    // Turned off again: the password is back in PASS, EPAS empty.
    Settings.PENC = 0;
    SaveAllSettings();
    EXPECT_EQ(ReadStored("PASS").bytes, "xy" + std::string(62, '\0'));
    EXPECT_EQ(ReadStored("EPAS").bytes, "");
}

#ifndef _WIN32
// Under Wine the same refusal is met where the user meets it: at the program's exit.
TEST_F(SettingsTest, AKeyThatCannotBeCreatedIsReportedAndNothingIsWritten)
{
    for (void (*save)() : {SaveAllSettings, SaveNtpSettings}) {
        ClearStore();
        MemoryStore.createStatus = 5;  // ERROR_ACCESS_DENIED
        save();
        EXPECT_STREQ(MemoryStore.shownText, "エラーコード:5");
        EXPECT_EQ(MemoryStore.count, 0);
    }
}
#endif

// A stored value the program refused to load stays as it is stored, whatever is saved, until the
// user sets its field: a protected password that cannot be read here (another user, a moved
// profile), and under Windows a text that another program stored with a character the program
// cannot keep (taken changed, it would be another name or password). The log names each.
TEST_F(SettingsTest, AValueTheProgramRefusedToLoadStaysStoredUntilTheUserSetsTheField)
{
    PutStoredNumber("PENC", 1);
    PutStored("EPAS", "protected by nobody here");
    Lines logged = {"[system] Error: 保存されたパスワードを復号できないため、もう一度設定してください\r\n"};
#ifdef _WIN32
    const wchar_t foreign[] = L"caf\u00e9", *key = L"" SETTINGS_KEY_PATH;
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"USER", REG_SZ, foreign, sizeof foreign);
    logged.insert(logged.begin(), "[system] Error: レジストリの値 USER に使えない文字があるため、読み込みませんでした\r\n");
    // Characters that Unicode sources write for ones code page 932 has are taken as those.
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"NTPS", REG_SZ, L"\u301C\u2212\u2014\u2016\u00A2\u00A3\u00AC", 16);
#endif
    InitLogRing();
    LoadSettings();
    EXPECT_EQ(LoggedLines(), logged);
    EXPECT_TRUE(Settings.PASS[0] == '\0' && Settings.USER[0] == '\0');
    SetTextSetting(kPASS, "");  // what the sheet showed, left as it was
    SaveAllSettings();
    SaveBasicSettings();
    EXPECT_EQ(ReadStored("EPAS").bytes, "protected by nobody here");
    EXPECT_FALSE(ReadStored("PASS").present);
#ifdef _WIN32
    wchar_t stored[8] = L"";
    DWORD size = sizeof stored;
    RegGetValueW(HKEY_CURRENT_USER, key, L"USER", RRF_RT_REG_SZ, nullptr, stored, &size);
    EXPECT_EQ(std::wstring(stored), foreign);
    EXPECT_STREQ(Settings.NTPS, "\x81\x60\x81\x7C\x81\x5C\x81\x61\x81\x91\x81\x92\x81\xCA");
#endif
    SetTextSetting(kPASS, "n3w");
    SetTextSetting(kUSER, "yamada");
    SaveBasicSettings();
    ResetSettings();
    LoadSettings();
    EXPECT_TRUE(std::string(Settings.PASS) == "n3w" && std::string(Settings.USER) == "yamada");
}

}  // namespace
