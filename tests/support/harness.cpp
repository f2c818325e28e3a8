// The shared test harness, over BSD sockets or WinSock and the registry or the in-memory store.
#include "tests/support/harness.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "mail/net.h"
#include "settings/settings.h"
#include "shell/log.h"
#include "shell/text.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include "settings/store_win32.h"
using SocketLength = int;
constexpr int kSendFlags = 0;
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
#endif

Lines LoggedLines()
{
    Lines lines;
    const LogSlot *slot = LogRing.oldest;
    do {
        if (slot->text[0] == '\0')
            break;
        lines.emplace_back(std::string(slot->text).substr(20));
        slot = slot->next;
    } while (slot != LogRing.oldest);
    return lines;
}

Lines SplitLines(const std::string &text)
{
    Lines lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        size_t next = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(at, next - at));
        at = next;
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

std::string FixturePath(const std::string &relative)
{
#ifdef _WIN32
    return "Z:" + Environment("POLLWICK_FIXTURES") + "/" + relative;  // the Unix file system as Wine shows it
#else
    return Environment("POLLWICK_FIXTURES") + "/" + relative;
#endif
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

Mailbox TestMailbox()
{
#ifdef _WIN32
    return {"wine", "w1ne-pass"};
#else
    return {"native", "n4tive-pass"};
#endif
}

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
    uint64_t until = NetClockMs() + static_cast<uint64_t>(ms);
    while (!done()) {
        if (NetClockMs() >= until)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void SetTimeZone(const char *tz)
{
#ifdef _WIN32
    _putenv_s("TZ", tz != nullptr ? tz : "");
#else
    if (tz != nullptr)
        setenv("TZ", tz, 1);
    else
        unsetenv("TZ");
#endif
}

#ifdef _WIN32

Stored ReadStored(const char *name)
{
    HKEY key;
    Stored stored = {false, false, {}};
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    char data[1024];
    DWORD type = 0, length = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data), &length) == ERROR_SUCCESS)
        stored = {true, type == REG_DWORD, std::string(data, length)};
    RegCloseKey(key);
    return stored;
}

void PutStored(const char *name, bool number, const std::string &bytes)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    // A text without its terminator goes in as bytes: the text type would gain one on the way.
    DWORD type = number ? REG_DWORD : bytes.empty() || bytes.back() != '\0' ? REG_BINARY : REG_SZ;
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void ClearStore() { RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath); }

bool StoreExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

namespace {
LONG WINAPI DenyCreate(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD)
{
    return ERROR_ACCESS_DENIED;
}
}  // namespace

std::string SaveWithStoreDenied(void (*save)())
{
    // The save shows a message box and returns once it is dismissed: read it from another thread.
    std::string told;
    std::thread reader([&] {
        HWND box = nullptr;
        char text[256] = "";
        WaitUntil([&] {
            box = FindWindowA("#32770", "エラー:RegCreateKeyEx");
            return box != nullptr && GetDlgItemTextA(box, 0xFFFF, text, sizeof text) > 0;  // the box's text
        });
        told = text;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    SettingsCreateKey = DenyCreate;
    save();
    SettingsCreateKey = RegCreateKeyExA;
    reader.join();
    return told;
}

#else

Stored ReadStored(const char *name)
{
    const MemoryValue *value = FindMemoryValue(name);
    if (value == nullptr)
        return {false, false, {}};
    return {true, value->type == StoreType::Number, std::string(reinterpret_cast<const char *>(value->data), value->size)};
}

void PutStored(const char *name, bool number, const std::string &bytes)
{
    PutMemoryValue(name, number ? StoreType::Number : StoreType::Text, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void ClearStore() { ClearMemoryStore(); }
bool StoreExists() { return MemoryStore.keyExists; }

std::string SaveWithStoreDenied(void (*save)())
{
    MemoryStore.failStatus = 5;  // ERROR_ACCESS_DENIED
    MemoryStore.lastReport[0] = '\0';
    save();
    MemoryStore.failStatus = 0;
    return MemoryStore.lastReport;
}

#endif

void PutStoredText(const char *name, const std::string &text) { PutStored(name, false, std::string(text.c_str(), text.size() + 1)); }
void PutStoredNumber(const char *name, int32_t value) { PutStored(name, true, std::string(reinterpret_cast<char *>(&value), 4)); }

void StartTestSockets()
{
#ifdef _WIN32
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
}

bool WaitReadable(intptr_t s, int ms)
{
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(s), &set);
    timeval limit = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &limit) > 0;
#else
    pollfd entry = {static_cast<int>(s), POLLIN, 0};
    return poll(&entry, 1, ms) > 0;
#endif
}

void CloseTestSocket(intptr_t s)
{
#ifdef _WIN32
    closesocket(static_cast<SOCKET>(s));
#else
    close(static_cast<int>(s));
#endif
}

namespace {

sockaddr_in Loopback(uint32_t address, int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int LocalPort(intptr_t s)
{
    sockaddr_in local = {};
    SocketLength length = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr *>(&local), &length);
    return ntohs(local.sin_port);
}

// Sleeps ms in small steps, ending early once stop is set.
void SleepUnless(const std::atomic<bool> &stop, int ms)
{
    uint64_t until = NetClockMs() + static_cast<uint64_t>(ms);
    while (!stop && NetClockMs() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void NoDelay(intptr_t s)
{
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
}

}  // namespace

intptr_t ListenOnLoopback(int *port, int backlog)
{
    StartTestSockets();
    intptr_t s = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(INADDR_LOOPBACK, 0);
    bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(s, backlog);
    *port = LocalPort(s);
    return s;
}

intptr_t ConnectToLoopback(int port)
{
    intptr_t s = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(INADDR_LOOPBACK, port);
    connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
    NoDelay(s);
    return s;
}

FaultAction Send(std::string text) { return {FaultAction::Send, {std::move(text)}, 0}; }

FaultAction SendSplit(const std::string &text, size_t pieceSize, int pauseMs)
{
    FaultAction action{FaultAction::Send, {}, pauseMs};
    for (size_t at = 0; at < text.size(); at += pieceSize)
        action.segments.push_back(text.substr(at, pieceSize));
    return action;
}

FaultAction ReadLine() { return {FaultAction::ReadLine, {}, 0}; }
FaultAction Pause(int ms) { return {FaultAction::Pause, {}, ms}; }
FaultAction CloseConnection() { return {FaultAction::Close, {}, 0}; }
FaultAction Hang() { return {FaultAction::Hang, {}, 0}; }

Script Pop3Session(const std::string &greeting, const std::string &statReply, bool apop)
{
    Script script = {Send(greeting)};
    if (!apop)
        script.insert(script.end(), {ReadLine(), Send("+OK user\r\n")});
    script.insert(script.end(), {ReadLine(), Send("+OK logged in\r\n"), ReadLine(), Send(statReply), ReadLine(),
                                 Send("+OK bye\r\n"), ReadLine()});
    return script;
}

FaultServer::FaultServer(Script script) : script_(std::move(script))
{
    listener_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Run(); });
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

void FaultServer::Run()
{
    while (!stop_ && !WaitReadable(listener_, 20)) {
    }
    if (stop_)
        return;
    intptr_t peer = static_cast<intptr_t>(accept(listener_, nullptr, nullptr));
    accepted_ = true;
    NoDelay(peer);
    bool closed = false;
    auto take = [&](const char *data, int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(data, static_cast<size_t>(n));
    };
    for (const FaultAction &action : script_) {
        if (stop_ || closed)
            break;
        switch (action.kind) {
        case FaultAction::Send:
            for (size_t i = 0; i < action.segments.size(); i++) {
                if (i > 0)
                    SleepUnless(stop_, action.pauseMs);
                send(peer, action.segments[i].data(), static_cast<int>(action.segments[i].size()), kSendFlags);
            }
            break;
        case FaultAction::ReadLine:
            for (char c = 0; c != '\n';) {
                while (!stop_ && !WaitReadable(peer, 20)) {
                }
                if (stop_ || recv(peer, &c, 1, 0) != 1) {
                    closed = true;
                    break;
                }
                take(&c, 1);
            }
            break;
        case FaultAction::Pause: SleepUnless(stop_, action.pauseMs); break;
        case FaultAction::Close: closed = true; break;
        case FaultAction::Hang: SleepUnless(stop_, 24 * 3600 * 1000); break;
        }
    }
    // Whatever else the client sends before it hangs up completes the transcript.
    char buffer[256];
    int n;
    while (!closed && !stop_ && WaitReadable(peer, 50) && (n = recv(peer, buffer, sizeof buffer, 0)) > 0)
        take(buffer, n);
    CloseTestSocket(peer);
}

UnansweredPort::UnansweredPort()
{
    listener_ = ListenOnLoopback(&port_, 0);
    for (int i = 0; i < 4; i++) {
        intptr_t filler = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
#ifdef _WIN32
        u_long on = 1;
        ioctlsocket(static_cast<SOCKET>(filler), FIONBIO, &on);
#else
        fcntl(static_cast<int>(filler), F_SETFL, O_NONBLOCK);
#endif
        sockaddr_in address = Loopback(INADDR_LOOPBACK, port_);
        connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
        fillers_.push_back(filler);
    }
}

UnansweredPort::~UnansweredPort()
{
    for (intptr_t filler : fillers_)
        CloseTestSocket(filler);
    CloseTestSocket(listener_);
}

Relay::Relay(int serverPort, int refuseEvery) : serverPort_(serverPort), refuseEvery_(refuseEvery)
{
    listener_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Run(); });
}

Relay::~Relay() { FromClients(); }

std::string Relay::FromClients()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    CloseTestSocket(listener_);
    return fromClients_;
}

void Relay::Run()
{
    while (!stop_) {
        if (!WaitReadable(listener_, 20))
            continue;
        intptr_t client = static_cast<intptr_t>(accept(listener_, nullptr, nullptr));
        NoDelay(client);
        if (refuseEvery_ > 0 && ++connections_ % refuseEvery_ == refuseEvery_ / 2) {
            const char refusal[] = "-ERR relay: this server is failing\r\n";
            send(client, refusal, sizeof refusal - 1, kSendFlags);
        } else {
            if (refuseEvery_ == 0)
                ++connections_;
            Pump(client);
        }
        CloseTestSocket(client);
    }
}

void Relay::Pump(intptr_t client)
{
    intptr_t server = ConnectToLoopback(serverPort_);
    char buffer[4096];
    for (bool open = true; open && !stop_;) {
        for (intptr_t from : {client, server}) {
            if (!WaitReadable(from, 5))
                continue;
            int n = recv(from, buffer, sizeof buffer, 0);
            if (n <= 0 || send(from == client ? server : client, buffer, n, kSendFlags) != n) {
                open = false;
                break;
            }
            if (from == client)
                fromClients_.append(buffer, static_cast<size_t>(n));
        }
    }
    CloseTestSocket(server);
}

namespace {

constexpr uint32_t kOtherLoopback = 0x7F000002;

// A UDP socket bound to address:port (port 0: the system's choice); -1 when that fails.
intptr_t BindUdp(uint32_t address, int port)
{
    StartTestSockets();
    intptr_t s = static_cast<intptr_t>(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in local = Loopback(address, port);
    if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        CloseTestSocket(s);
        return -1;
    }
    return s;
}

void PutBigEndian32(std::string &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

}  // namespace

std::string SntpReply(uint32_t seconds, uint32_t fraction, int leap, int mode, int stratum)
{
    std::string bytes(48, '\0');
    bytes[0] = static_cast<char>((leap << 6) | (4 << 3) | mode);
    bytes[1] = static_cast<char>(stratum);
    PutBigEndian32(bytes, 40, seconds);
    PutBigEndian32(bytes, 44, fraction);
    return bytes;
}

FaultUdpServer::FaultUdpServer(std::vector<UdpReply> replies) : replies_(std::move(replies))
{
    sockets_[0] = BindUdp(INADDR_LOOPBACK, 0);
    port_ = LocalPort(sockets_[0]);
    sockets_[1] = BindUdp(INADDR_LOOPBACK, 0);
    sockets_[2] = BindUdp(kOtherLoopback, port_);
    thread_ = std::thread([this] { Run(); });
}

FaultUdpServer::~FaultUdpServer()
{
    stop_ = true;
    thread_.join();
    for (intptr_t s : sockets_)
        if (s != -1)
            CloseTestSocket(s);
}

std::string FaultUdpServer::Request()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
}

int FaultUdpServer::RequestPort()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requestPort_;
}

void FaultUdpServer::Run()
{
    while (!stop_ && !WaitReadable(sockets_[0], 20)) {
    }
    if (stop_)
        return;
    char buffer[2048];
    sockaddr_in client = {};
    SocketLength length = sizeof client;
    int n = recvfrom(sockets_[0], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&client), &length);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request_.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        requestPort_ = ntohs(client.sin_port);
    }
    for (const UdpReply &reply : replies_) {
        sendto(sockets_[reply.source], reply.bytes.data(), static_cast<int>(reply.bytes.size()), 0,
               reinterpret_cast<sockaddr *>(&client), sizeof client);
        // Datagrams on loopback keep their order; the pause only spreads them out in time.
        SleepUnless(stop_, 20);
    }
}

UdpPortHolder::UdpPortHolder(uint16_t port)
{
    WaitUntil([&] { return (socket = BindUdp(INADDR_ANY, port)) != -1; }, 10000);
    bound = socket != -1;
}

UdpPortHolder::~UdpPortHolder()
{
    if (bound)
        CloseTestSocket(socket);
}
