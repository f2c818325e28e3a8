// The shared test harness, over BSD sockets or WinSock and the registry or the in-memory store.
#include "tests/support/harness.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/log.h"
#include "base/text.h"
#include "net/net.h"
#include "resources/names.h"
#include "settings/settings.h"
#include "settings/store.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <sddl.h>
#include "tests/support/win_harness.h"
using SocketLength = int;
const wchar_t kKeyPath[] = L"" SETTINGS_KEY_PATH;
constexpr int kSendFlags = 0;
#define poll WSAPoll
const char kFixtureDrive[] = "Z:";  // the Unix file system as Wine shows it
const Mailbox kMailbox = {"wine", "w1ne-pass"};
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include "settings/store_memory.h"
using SocketLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that hung up must not end the test run
#define closesocket close
const char kFixtureDrive[] = "";
const Mailbox kMailbox = {"native", "n4tive-pass"};
#endif

Lines LoggedLines()
{
    Lines lines;
    const LogSlot *slot = LogRing.oldest;
    for (int i = 0; i < kLogLines && slot->text[0] != '\0'; i++, slot = slot->next)
        lines.emplace_back(std::string(slot->text).substr(20));
    return lines;
}

Lines SplitLines(const std::string &text)
{
    Lines lines;
    for (size_t at = 0, end; at < text.size(); at = end) {
        end = text.find("\r\n", at);
        end = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(at, end - at));
    }
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

// Under POLLWICK_FIXTURES, as this process names it.
static std::string FixturePath(const std::string &relative)
{
    return kFixtureDrive + Environment("POLLWICK_FIXTURES") + "/" + relative;
}

int FixtureNumber(const std::string &relative, int index)
{
    std::ifstream file(FixturePath(relative));
    int number = 0;
    for (int i = 0; i <= index; i++)
        if (!(file >> number))
            return 0;
    return number;
}

Mailbox TestMailbox() { return kMailbox; }

int DovecotPort(bool implicitTls) { return FixtureNumber("dovecot/ports", implicitTls ? 1 : 0); }

void SetMailboxCount(int count)
{
    namespace fs = std::filesystem;
    fs::path maildir = fs::path(FixturePath("dovecot/home")) / TestMailbox().user / "Maildir";
    for (const char *sub : {"new", "cur"})
        for (const auto &entry : fs::directory_iterator(maildir / sub))
            fs::remove(entry.path());
    for (int i = 0; i < count; i++) {
        // New mail has no ":2," flags suffix, which Windows could not name anyway.
        std::ofstream file(maildir / "new" / ("1765000000.M" + std::to_string(i) + "P1.test"), std::ios::binary);
        file << "From: test@example.invalid\r\nSubject: message " << i << "\r\n\r\nbody\r\n";
    }
}

bool WaitUntil(const std::function<bool()> &done, int ms)
{
    for (uint64_t until = NetClockMs() + static_cast<uint64_t>(ms); !done();) {
        if (NetClockMs() >= until)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

#ifdef _WIN32

Stored ReadStored(const char *name)
{
    // As another program reads it: a text as the UTF-16 that Windows keeps, in the program's code page.
    BYTE data[2048];
    DWORD type = 0, length = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, kKeyPath, Wide(name).c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                     &length) != ERROR_SUCCESS)
        return {false, false, {}};
    if (type == REG_SZ)
        return {true, false, Narrow(reinterpret_cast<wchar_t *>(data), length / 2)};
    return {true, type == REG_DWORD, std::string(reinterpret_cast<char *>(data), length)};
}

void Put(const char *name, StoreType type, const std::string &bytes)
{
    std::wstring text = Wide(bytes);
    const DWORD kinds[] = {REG_SZ, REG_DWORD, REG_BINARY};  // in the order of StoreType
    bool isText = type == StoreType::Text;
    RegSetKeyValueW(HKEY_CURRENT_USER, kKeyPath, Wide(name).c_str(), kinds[static_cast<int>(type)],
                    isText ? static_cast<const void *>(text.data()) : bytes.data(),
                    static_cast<DWORD>(isText ? text.size() * 2 : bytes.size()));
}

void ClearStore() { RegDeleteKeyW(HKEY_CURRENT_USER, kKeyPath); }

bool StoreExists()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DenyStoreWrites()
{
    // Readable by all, writable by none: only its access list may still change, and the key go.
    HKEY key;
    PSECURITY_DESCRIPTOR readOnly;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KR;;;WD)(A;;WDSD;;;WD)", SDDL_REVISION_1, &readOnly,
                                                         nullptr);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly);
    LocalFree(readOnly);
    RegCloseKey(key);
}

#else

Stored ReadStored(const char *name)
{
    for (int i = 0; i < MemoryStore.count; i++)
        if (const MemoryValue &value = MemoryStore.values[i]; strcmp(value.name, name) == 0)
            return {true, value.type == StoreType::Number, std::string(reinterpret_cast<const char *>(value.data), value.size)};
    return {false, false, {}};
}

void Put(const char *name, StoreType type, const std::string &bytes)
{
    StoreOpenForWrite();
    StoreWrite(name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void ClearStore() { MemoryStore = {}; }
bool StoreExists() { return MemoryStore.keyExists; }

#endif

int32_t StoredNumber(const char *name)
{
    Stored stored = ReadStored(name);
    int32_t value = -12345;
    if (stored.present && stored.bytes.size() == 4)
        memcpy(&value, stored.bytes.data(), 4);
    return value;
}

void PutStored(const char *name, const std::string &bytes)
{
    Put(name, !bytes.empty() && bytes.back() == '\0' ? StoreType::Text : StoreType::Bytes, bytes);
}

void PutStoredText(const char *name, const std::string &text) { PutStored(name, text + '\0'); }

void PutStoredNumber(const char *name, int32_t value)
{
    Put(name, StoreType::Number, std::string(reinterpret_cast<char *>(&value), 4));
}

bool WaitReadable(intptr_t s, int ms)
{
    pollfd entry = {static_cast<decltype(pollfd::fd)>(s), POLLIN, 0};
    return poll(&entry, 1, ms) > 0;
}

void CloseTestSocket(intptr_t s) { closesocket(s); }

namespace {

sockaddr_in Address(uint32_t address, int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// In small steps, ending early once stop is set.
void SleepUnless(const std::atomic<bool> &stop, int ms)
{
    for (uint64_t until = NetClockMs() + static_cast<uint64_t>(ms); !stop && NetClockMs() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

intptr_t NoDelay(intptr_t s)
{
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    return s;
}

}  // namespace

intptr_t OpenTestSocket(int type, uint32_t address, int port)
{
#ifdef _WIN32
    static WSADATA data;
    static bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    (void)started;
#endif
    intptr_t s = static_cast<intptr_t>(socket(AF_INET, type, 0));
    sockaddr_in local = Address(address, port);
    if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0)
        return s;
    CloseTestSocket(s);
    return -1;
}

int LocalPort(intptr_t s)
{
    sockaddr_in local = {};
    SocketLength length = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr *>(&local), &length);
    return ntohs(local.sin_port);
}

intptr_t ConnectToLoopback(int port, bool wait)
{
    intptr_t s = NoDelay(OpenTestSocket(SOCK_STREAM, INADDR_ANY, 0));
#ifdef _WIN32
    u_long on = wait ? 0 : 1;
    ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &on);
#else
    if (!wait)
        fcntl(static_cast<int>(s), F_SETFL, O_NONBLOCK);
#endif
    sockaddr_in peer = Address(INADDR_LOOPBACK, port);
    connect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    return s;
}

intptr_t ListenOnLoopback(int *port, int backlog)
{
    intptr_t s = OpenTestSocket(SOCK_STREAM, INADDR_LOOPBACK, 0);
    listen(s, backlog);
    *port = LocalPort(s);
    return s;
}

intptr_t AcceptClient(intptr_t listener)
{
    return WaitReadable(listener, 20) ? NoDelay(static_cast<intptr_t>(accept(listener, nullptr, nullptr))) : -1;
}

FaultAction SendSplit(const std::string &text, size_t pieceSize, int pauseMs)
{
    FaultAction action{FaultAction::Send, {}, pauseMs};
    for (size_t at = 0; at < text.size(); at += pieceSize)
        action.segments.push_back(text.substr(at, pieceSize));
    return action;
}

Script Pop3Session(const std::string &greeting, const std::string &statReply, bool apop)
{
    Script script = {Send(greeting)};
    if (!apop)
        script.insert(script.end(), {ReadLine(), Send("+OK user\r\n")});
    script.insert(script.end(), {ReadLine(), Send("+OK logged in\r\n"), ReadLine(), Send(statReply), ReadLine(),
                                 Send("+OK bye\r\n"), ReadLine()});
    return script;
}

FaultServer::FaultServer(Script script) : script_(std::move(script)), listener_(ListenOnLoopback(&port_))
{
    received_.reserve(4096);  // so that playing allocates nothing
    thread_ = std::thread([this] {
        intptr_t peer = -1;
        while (!stop_ && (peer = AcceptClient(listener_)) == -1) {
        }
        if (peer == -1)
            return;
        accepted_ = true;
        auto take = [&](const char *data, int n) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append(data, static_cast<size_t>(n));
        };
        bool closed = false;
        for (size_t step = 0; step < script_.size() && !stop_ && !closed; step++) {
            const FaultAction &action = script_[step];
            switch (action.kind) {
            case FaultAction::Send:
                for (size_t i = 0; i < action.segments.size(); i++) {
                    SleepUnless(stop_, i > 0 ? action.pauseMs : 0);
                    send(peer, action.segments[i].data(), static_cast<int>(action.segments[i].size()), kSendFlags);
                }
                break;
            case FaultAction::ReadLine:
                for (char c = 0; c != '\n' && !closed;) {
                    while (!stop_ && !WaitReadable(peer, 20)) {
                    }
                    closed = stop_ || recv(peer, &c, 1, 0) != 1;
                    if (!closed)
                        take(&c, 1);
                }
                break;
            case FaultAction::Pause: SleepUnless(stop_, action.pauseMs); break;
            case FaultAction::Close: closed = true; break;
            }
        }
        // Whatever else the client sends before it hangs up completes the transcript.
        char buffer[256];
        for (int n; !closed && !stop_ && WaitReadable(peer, 50) && (n = recv(peer, buffer, sizeof buffer, 0)) > 0;)
            take(buffer, n);
        CloseTestSocket(peer);
    });
}

FaultServer::~FaultServer()
{
    stop_ = true;
    thread_.join();
    CloseTestSocket(listener_);
}

std::string FaultServer::Received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}
