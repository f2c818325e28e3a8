// The settings record against the real registry of the Wine prefix, read back with the API.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "settings/store_win32.h"

namespace {

const char kTestKey[] = "Software\\PollwickTests\\Settings";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
        SettingsKeyPath = kTestKey;
        SettingsCreateKey = RegCreateKeyExA;
        ResetSettings();
    }
    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
        SettingsKeyPath = kSettingsKeyPath;
        SettingsCreateKey = RegCreateKeyExA;
    }

    struct Stored {
        LONG status;
        DWORD type;
        DWORD length;
        std::string data;
    };
    static Stored Query(const char *name)
    {
        HKEY key;
        Stored stored = {RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &key), 0, 0, {}};
        if (stored.status != ERROR_SUCCESS)
            return stored;
        char data[1024];
        stored.length = sizeof data;
        stored.status = RegQueryValueExA(key, name, nullptr, &stored.type, reinterpret_cast<BYTE *>(data), &stored.length);
        if (stored.status == ERROR_SUCCESS)
            stored.data.assign(data, stored.length);
        RegCloseKey(key);
        return stored;
    }
    static void Put(const char *name, DWORD type, const void *data, DWORD length)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), length);
        RegCloseKey(key);
    }
};

TEST_F(RegistryTest, LoadingWithoutTheKeyKeepsDefaultsAndCreatesNothing)
{
    LoadSettings();
    EXPECT_EQ(Settings.PORT, 110);
    EXPECT_EQ(Settings.TIME, 5);
    EXPECT_EQ(Settings.DCHK, 1);
    EXPECT_STREQ(Settings.NTPS, "jp.pool.ntp.org");
    EXPECT_EQ(Query("POP3").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, SaveAllWritesFourteenValuesOfFullWidth)
{
    strcpy(Settings.USER, "ユーザー");
    Settings.ALLM = -1;
    SaveAllSettings();
    const std::pair<const char *, DWORD> texts[] = {{"POP3", 256}, {"USER", 64}, {"PASS", 64},
                                                    {"EXEC", 260}, {"PARA", 256}, {"NTPS", 256}};
    for (auto [name, width] : texts) {
        Stored stored = Query(name);
        EXPECT_EQ(stored.status, ERROR_SUCCESS) << name;
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ)) << name;
        EXPECT_EQ(stored.length, width) << name;
    }
    EXPECT_EQ(Query("POP3").data, std::string(256, '\0'));  // empty, yet the whole field
    EXPECT_EQ(Query("USER").data.substr(0, 9), std::string("ユーザー\0", 9));
    for (const char *name : {"PORT", "TIME", "APOP", "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "TLSM"}) {
        Stored stored = Query(name);
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD)) << name;
        EXPECT_EQ(stored.length, 4u) << name;
    }
    EXPECT_EQ(Query("ALLM").data, std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(Query("PORT").data, std::string("\x6e\0\0\0", 4));
}

TEST_F(RegistryTest, GroupsWriteOnlyTheirOwnValues)
{
    SaveNtpSettings();
    EXPECT_EQ(Query("NTPS").status, ERROR_SUCCESS);
    EXPECT_EQ(Query("POP3").status, ERROR_FILE_NOT_FOUND);
    SaveBasicSettings();
    EXPECT_EQ(Query("TIME").status, ERROR_SUCCESS);
    EXPECT_EQ(Query("PORT").status, ERROR_FILE_NOT_FOUND);
    SaveDetailSettings();
    EXPECT_EQ(Query("OLDM").status, ERROR_SUCCESS);
}

// A key from a version without encryption: every value loads as before, TLSM stays plain, and the
// next save adds it beside the rest.
TEST_F(RegistryTest, KeyWrittenBeforeTlsmLoadsUnchangedAndGainsIt)
{
    strcpy(Settings.POP3, "pop.example.jp");
    strcpy(Settings.PASS, "old-pass");
    Settings.PORT = 995;
    Settings.APOP = 1;
    Settings.ALLM = 7;
    SaveAllSettings();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "TLSM"), ERROR_SUCCESS);
    RegCloseKey(key);
    const char *const olderNames[] = {"POP3", "USER", "PASS", "EXEC", "PARA", "PORT", "TIME",
                                      "APOP", "STCH", "DCHK", "DMAL", "ALLM", "OLDM", "NTPS"};
    std::vector<Stored> before;
    for (const char *name : olderNames)
        before.push_back(Query(name));
    ResetSettings();
    LoadSettings();
    EXPECT_EQ(Settings.TLSM, 0);
    EXPECT_STREQ(Settings.POP3, "pop.example.jp");
    EXPECT_STREQ(Settings.PASS, "old-pass");
    EXPECT_EQ(Settings.PORT, 995);
    EXPECT_EQ(Settings.APOP, 1);
    EXPECT_EQ(Settings.ALLM, 7);

    Settings.TLSM = 1;
    SaveDetailSettings();
    Stored mode = Query("TLSM");
    EXPECT_EQ(mode.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(mode.data, std::string("\x01\0\0\0", 4));
    for (size_t i = 0; i < before.size(); i++)
        EXPECT_EQ(Query(olderNames[i]).data, before[i].data) << olderNames[i];
}

TEST_F(RegistryTest, ShortenedPasswordLoadsAsTheNewOne)
{
    strcpy(Settings.PASS, "abcdef");
    SaveBasicSettings();
    strcpy(Settings.PASS, "xy");
    SaveBasicSettings();
    EXPECT_EQ(Query("PASS").data, std::string("xy\0def", 7) + std::string(57, '\0'));
    ResetSettings();
    LoadSettings();
    EXPECT_STREQ(Settings.PASS, "xy");
}

TEST_F(RegistryTest, PartialKeyAndOddValues)
{
    DWORD port = 995;
    Put("PORT", REG_DWORD, &port, 4);
    Put("TIME", REG_BINARY, "\x07\x00", 2);                 // two bytes land, the rest stays
    Put("ALLM", REG_BINARY, "\x01\x02\x03\x04\x05\x06", 6);  // too big for the field: not read
    std::string full(64, 'u');
    Put("USER", REG_BINARY, full.data(), 64);  // fills the field with no terminator
    std::string tooLong(300, 'h');
    Put("POP3", REG_SZ, tooLong.c_str(), 301);  // longer than its field: not read
    LoadSettings();
    EXPECT_EQ(Settings.PORT, 995);
    EXPECT_EQ(Settings.TIME, 7);
    EXPECT_EQ(Settings.ALLM, 0);
    EXPECT_EQ(std::string(Settings.USER), std::string(63, 'u'));
    EXPECT_STREQ(Settings.POP3, "");
    EXPECT_EQ(Settings.DCHK, 1);
    EXPECT_STREQ(Settings.NTPS, "jp.pool.ntp.org");
}

LONG WINAPI DenyCreate(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD)
{
    return ERROR_ACCESS_DENIED;
}

TEST_F(RegistryTest, KeyThatCannotBeCreatedShowsTheStatusInAMessageBox)
{
    SettingsCreateKey = DenyCreate;
    std::string caption, text;
    std::thread dismiss([&] {
        for (int i = 0; i < 200; i++) {
            HWND box = FindWindowA("#32770", "エラー:RegCreateKeyEx");
            if (box != nullptr) {
                char buffer[256] = "";
                GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);  // the message box's text
                text = buffer;
                GetWindowTextA(box, buffer, sizeof buffer);
                caption = buffer;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(50);
        }
    });
    SaveAllSettings();  // returns once the box is dismissed
    dismiss.join();
    EXPECT_EQ(caption, "エラー:RegCreateKeyEx");
    EXPECT_EQ(text, "エラーコード:5");
    EXPECT_EQ(Query("POP3").status, ERROR_FILE_NOT_FOUND);
}

TEST(Platform, TextsAreCodePage932)
{
    // The program's texts are code page 932 bytes: the tests must run where that is the ANSI page.
    EXPECT_EQ(GetACP(), 932u);
}

TEST(Registry, ProgramKeyPath)
{
    // The program's own key, in the prefix the tests own.
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);
    ResetSettings();
    Settings.OLDM = 4;
    SaveAllSettings();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quorvane\\Pollwick", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD value = 0, length = 4;
    EXPECT_EQ(RegQueryValueExA(key, "OLDM", nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &length), ERROR_SUCCESS);
    EXPECT_EQ(value, 4u);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);
}

}  // namespace
