// Helpers shared by the tests.
#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "settings/settings.h"
#include "shell/log.h"
#include "shell/text.h"

std::vector<std::string> LoggedLines()
{
    std::vector<std::string> lines;
    const LogSlot *slot = LogRing.oldest;
    do {
        if (slot->text[0] == '\0')
            break;
        lines.emplace_back(std::string(slot->text).substr(20));
        slot = slot->next;
    } while (slot != LogRing.oldest);
    return lines;
}

void UseAccount(const std::string &host, int port, const std::string &user, const std::string &password, bool apop)
{
    InitLogRing();
    ResetSettings();
    CopyText(Settings.POP3, sizeof Settings.POP3, host.c_str());
    CopyText(Settings.USER, sizeof Settings.USER, user.c_str());
    CopyText(Settings.PASS, sizeof Settings.PASS, password.c_str());
    Settings.PORT = port;
    Settings.APOP = apop ? 1 : 0;
}

std::string Environment(const char *name, const std::string &fallback)
{
    const char *value = getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

namespace {
// The fixtures' state directory, as this process can open it.
std::string FixturePath(const std::string &relative)
{
    std::string root = Environment("POLLWICK_FIXTURES");
#ifdef _WIN32
    root = "Z:" + root;  // the Unix file system as Wine shows it
#endif
    return root + "/" + relative;
}
}  // namespace

int DovecotPort()
{
    std::ifstream file(FixturePath("dovecot/port"));
    int port = 0;
    file >> port;
    return port;
}

void SetMailboxCount(const std::string &user, int count)
{
    namespace fs = std::filesystem;
    fs::path maildir = fs::path(FixturePath("dovecot/home")) / user / "Maildir";
    for (const char *sub : {"new", "cur"})
        for (const auto &entry : fs::directory_iterator(maildir / sub))
            fs::remove(entry.path());
    for (int i = 0; i < count; i++) {
        // New mail has no ":2," flags suffix, which Windows could not name anyway.
        std::ofstream file(maildir / "new" / ("1765000000.M" + std::to_string(i) + "P1.test"), std::ios::binary);
        file << "From: test@example.invalid\r\nSubject: message " << i << "\r\n\r\nbody\r\n";
    }
}
