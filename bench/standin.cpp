// The platform calls of a check without the program around them, to tell the program's memory from
// Wine's (bench/soak.sh --growth runs it beside pollwick.exe):   standin.exe PARTS CHECKS
// PARTS is a comma list of:
//   net    one POP3 session with the tests' Dovecot over WinSock as the program has it: WinSock
//          started and ended, a non-blocking connect, a wait before each receive, each line sent
//   log    the log's 64 lines set into an edit of the log window's template and scrolled down
//   tray   the picture loaded and given to the shell twice (the checking one, then the result),
//          the one before destroyed each time; or only one half of that:
//   icon   the picture loaded and the one before destroyed, twice
//   notify the same picture given to the shell twice
//   timer  the check timer stopped and armed again
//   lookup a name that never resolves looked up on a thread of its own with WinSock started for it,
//          as the program looks up its server (beside bench/soak.sh --only lookup)
//   sheet  a property sheet of the settings pages' templates opened on the page the soak's sheet
//          opens on, and cancelled (beside bench/soak.sh --only sheet)
// It logs in as the Dovecot fixture's "demo", so that the soak's mailbox stays the soak's. It says
// "standin: after check N" where the soak samples, and waits there for 1.5 s.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "resources/resource.h"
#include "tests/support/harness.h"

namespace {

bool Wanted(const std::string &parts, const char *part) { return ("," + parts + ",").find(std::string(",") + part + ",") != std::string::npos; }

// One reply line from the socket within 30 s; false when it does not come whole.
bool Receive(SOCKET s, std::string *reply)
{
    char buffer[1024];
    reply->clear();
    while (reply->find('\n') == std::string::npos) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(s, &ready);
        timeval limit = {30, 0};
        if (select(0, &ready, nullptr, nullptr, &limit) != 1)
            return false;
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        reply->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool Session(int port, const Mailbox &box)
{
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval limit = {30, 0};
    std::string reply;
    bool ok = select(0, nullptr, &writable, nullptr, &limit) == 1 && Receive(s, &reply);
    for (const std::string &command : {"USER " + box.user, "PASS " + box.password, std::string("STAT"), std::string("QUIT")}) {
        std::string line = command + "\r\n";
        ok = ok && send(s, line.data(), static_cast<int>(line.size()), 0) == static_cast<int>(line.size()) &&
             Receive(s, &reply) && reply[0] == '+';
    }
    closesocket(s);
    WSACleanup();
    return ok;
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

INT_PTR CALLBACK Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

int CALLBACK CancelOnceShown(HWND sheet, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED)
        PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    return 0;
}

DWORD WINAPI DeadLookup(void *)
{
    WSADATA data;
    WSAStartup(0x0101, &data);
    ADDRINFOW hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW *result = nullptr;
    if (GetAddrInfoW(L"mail.pollwick.invalid", nullptr, &hints, &result) == 0 && result != nullptr)
        FreeAddrInfoW(result);
    WSACleanup();
    return 0;
}

void Sheet(HINSTANCE module, HWND owner, int page)
{
    const wchar_t *const templates[] = {L"PAGE1", L"PAGE2", L"PAGE3"};
    HPROPSHEETPAGE pages[3];
    for (int k = 0; k < 3; k++) {
        PROPSHEETPAGEW one = {sizeof one};
        one.hInstance = module;
        one.pszTemplate = templates[k];
        one.pfnDlgProc = Quiet;
        pages[k] = CreatePropertySheetPageW(&one);
    }
    PROPSHEETHEADERW header = {sizeof header};
    header.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = owner;
    header.hInstance = module;
    header.pszCaption = L"standin";
    header.nPages = 3;
    header.nStartPage = static_cast<UINT>(page);
    header.phpage = pages;
    header.pfnCallback = CancelOnceShown;
    PropertySheetW(&header);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const std::string parts = argv[1];
    const int checks = std::stoi(argv[2]);
    HINSTANCE module = GetModuleHandleW(nullptr);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, nullptr);
    HWND log = CreateDialogParamW(module, L"MYLOGDLG", window, Quiet, 0);
    NOTIFYICONDATAW icon = {NOTIFYICONDATAW_V2_SIZE};
    icon.hWnd = window;
    icon.uID = 7;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_NO_MAIL), IMAGE_ICON, 16, 16, 0));
    lstrcpyW(icon.szTip, L"standin");
    if (Wanted(parts, "tray") || Wanted(parts, "notify"))
        Shell_NotifyIconW(NIM_ADD, &icon);
    std::wstring text;
    for (int i = 0; i < 64; i++)  // a full log's worth, as long as the program's lines
        text += L"2026-12-07 12:00:00 [recv] +OK Dovecot (Debian) ready. <6c79.2.6b17035a.iCCLvf5h@vm>\r\n";
    const Mailbox box = {"demo", "demo"};
    const bool load = Wanted(parts, "tray") || Wanted(parts, "icon"), notify = Wanted(parts, "tray") || Wanted(parts, "notify");
    auto show = [&](int picture) {
        HICON previous = icon.hIcon;
        if (load)
            icon.hIcon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(picture), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        if (notify)
            Shell_NotifyIconW(NIM_MODIFY, &icon);
        if (load)
            DestroyIcon(previous);
    };
    for (int i = 1; i <= checks; i++) {
        if (Wanted(parts, "timer"))
            KillTimer(window, 1000);
        show(IDI_CHECKING_NEW_MAIL);
        if (Wanted(parts, "net") && !Session(DovecotPort(), box)) {
            printf("standin: FAILED: a session\n");
            return 1;
        }
        show(IDI_NEW_MAIL);
        if (Wanted(parts, "log")) {
            text[20 + i % 40] = static_cast<wchar_t>(L'0' + i % 10);  // another text each time
            SetDlgItemTextW(log, IDC_LOGTEXT, text.c_str());
            SendDlgItemMessageW(log, IDC_LOGTEXT, EM_LINESCROLL, 0, 64);
        }
        if (Wanted(parts, "lookup")) {
            HANDLE thread = CreateThread(nullptr, 0, DeadLookup, nullptr, 0, nullptr);
            WaitForSingleObject(thread, 30000);
            CloseHandle(thread);
        }
        if (Wanted(parts, "sheet"))
            Sheet(module, window, i / 500 % 3);
        if (Wanted(parts, "timer"))
            SetTimer(window, 1000, 60000, nullptr);
        Pump();
        if (i % (checks / 40 > 0 ? checks / 40 : 1) == 0 || i == 10) {
            printf("standin: after check %d\n", i);
            fflush(stdout);
            Sleep(1500);
        }
    }
    Shell_NotifyIconW(NIM_DELETE, &icon);
    DestroyWindow(log);
    DestroyWindow(window);
    return 0;
}
