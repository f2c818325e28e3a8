// The Windows test harness.
#include "tests/support/win_harness.h"

#include <cstring>
#include <vector>

#include "resources/names.h"
#include "resources/resource.h"
#include "tests/support/harness.h"

std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

std::string Narrow(const wchar_t *text, int length)
{
    if (length < 0)
        length = static_cast<int>(wcslen(text));
    std::string narrow(static_cast<size_t>(length) * 2 + 1, '\0');
    narrow.resize(static_cast<size_t>(WideCharToMultiByte(932, 0, text, length, &narrow[0],
                                                          static_cast<int>(narrow.size()), nullptr, nullptr)));
    return narrow;
}

std::string WindowText(HWND window)
{
    static wchar_t text[81920];
    text[0] = L'\0';
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 81920, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
    return Narrow(text);
}

HWND FindDialog(const char *caption) { return FindWindowW(L"#32770", Wide(caption).c_str()); }

HWND WaitDialog(const char *caption, int ms)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(caption)) != nullptr; }, ms);
    return found;
}

std::string Answer(const char *caption)
{
    HWND box = nullptr;
    WaitUntil([&] {
        for (HWND at = nullptr; (at = FindWindowExW(nullptr, at, L"#32770", nullptr)) != nullptr;)
            if (GetDlgItem(at, 0xFFFF) != nullptr)
                return (box = at) != nullptr;
        return false;
    });
    std::string text = box == nullptr ? "(no box)" : WindowText(GetDlgItem(box, 0xFFFF));
    if (box != nullptr && WindowText(box) != caption)
        text = "(caption " + WindowText(box) + ") " + text;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(box); });
    return text;
}

std::wstring RunValue()
{
    wchar_t value[MAX_PATH + 3] = L"";
    DWORD size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, L"" SIGN_IN_KEY_PATH, L"" SIGN_IN_VALUE, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}
namespace {

// The pixels of a screen rectangle, or of an icon drawn on two backgrounds (-1 where it shows through).
std::vector<int> Grab(HDC source, int x, int y, int width, int height, HICON icon = nullptr)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    std::vector<int> pixels(static_cast<size_t>(width * height), -1);
    for (COLORREF background : {RGB(0, 0xFE, 0xFE), RGB(0xFE, 0, 0xFE)}) {
        if (icon != nullptr) {
            RECT all = {0, 0, width, height};
            HBRUSH brush = CreateSolidBrush(background);
            FillRect(memory, &all, brush);
            DeleteObject(brush);
            DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
        } else {
            BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
        }
        for (int i = 0; i < width * height; i++) {
            int colour = static_cast<int>(GetPixel(memory, i % width, i / width));
            int &kept = pixels[static_cast<size_t>(i)];
            kept = background == RGB(0, 0xFE, 0xFE) ? colour : (kept == colour ? colour : -1);
        }
        if (icon == nullptr)
            break;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace

int ShownPicture(POINT *centre, int *count)
{
    static std::vector<int> pictures[IDI_CHECK_FAILED + 1 - IDI_NO_MAIL];
    if (pictures[0].empty())
        for (int id = IDI_NO_MAIL; id <= IDI_CHECK_FAILED; id++) {
            HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON,
                                                       16, 16, LR_DEFAULTCOLOR));
            pictures[id - IDI_NO_MAIL] = Grab(nullptr, 0, 0, 16, 16, icon);
            DestroyIcon(icon);
        }
    // The bottom strip of the desktop, where the taskbar and its notification area are.
    int width = GetSystemMetrics(SM_CXSCREEN), height = 40, top = GetSystemMetrics(SM_CYSCREEN) - height;
    HDC screen = GetDC(nullptr);
    std::vector<int> strip = Grab(screen, 0, top, width, height);
    ReleaseDC(nullptr, screen);
    auto at = [&](int x, int y) { return strip[static_cast<size_t>(y * width + x)]; };
    int first = 0, shown = 0;
    for (int y = 0; y + 16 <= height; y++)
        for (int x = 0; x + 16 <= width; x++) {
            if (at(x + 2, y + 1) != static_cast<int>(RGB(0xFF, 0, 0)) || at(x + 1, y) != 0)
                continue;  // not the top-left of the box's outline and face
            for (int id = IDI_NO_MAIL; id <= IDI_CHECK_FAILED; id++) {
                const std::vector<int> &picture = pictures[id - IDI_NO_MAIL];
                bool same = true;
                for (int i = 0; i < 256 && same; i++)
                    same = picture[static_cast<size_t>(i)] == -1 || picture[static_cast<size_t>(i)] == at(x + i % 16, y + i / 16);
                if (same && shown++ == 0) {
                    first = id;
                    if (centre != nullptr)
                        *centre = {x + 8, top + y + 8};
                }
            }
        }
    if (count != nullptr)
        *count = shown;
    return first;
}

std::string BalloonText()
{
    for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr)) != nullptr;)
        if (IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & 0x40))  // TTS_BALLOON
            return WindowText(tip);
    return "";
}

int ShownPictureSettled(int expected)
{
    int shown = 0;
    WaitUntil([&] { return (shown = ShownPicture()) == expected; }, 3000);
    return shown;
}

static HWND FindProcessWindow(DWORD pid, const char *className, const char *caption)
{
    HWND window = nullptr;
    for (DWORD owner = 0; owner != pid && (window = FindWindowExW(nullptr, window, Wide(className).c_str(),
                                                                 Wide(caption).c_str())) != nullptr;)
        GetWindowThreadProcessId(window, &owner);
    return window;
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring Program::Path()
{
    if (std::string other = Environment("POLLWICK_PROGRAM"); !other.empty())
        return Wide(other);
    std::wstring folder = OwnFolder();
    return folder.substr(0, folder.find_last_of(L'\\')) + L"\\pollwick.exe";
}

Program::Program(const std::wstring &arguments)
{
    std::wstring command = L"\"" + Path() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {sizeof startup};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
        WaitUntil([&] { return (window_ = FindProcessWindow(process_.dwProcessId, MAIN_WINDOW_CLASS,
                                                            MAIN_WINDOW_CLASS)) != nullptr || Ended(0); }, 10000);
}

DWORD Program::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

Program::~Program()
{
    if (process_.hProcess == nullptr)
        return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}

void Program::Command(int id) const { PostMessageA(window_, WM_COMMAND, static_cast<WPARAM>(id), 0); }
void Program::Tray(UINT mouseMessage) const { PostMessageA(window_, WM_TRAYNOTIFY, ID_TRAYICON, mouseMessage); }

LRESULT Program::Send(UINT message, WPARAM wParam) const
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window_, message, wParam, 0, SMTO_ABORTIFHUNG, 10000, &answer);
    return static_cast<LRESULT>(answer);
}

std::string Program::Log() const
{
    HWND log = FindProcessWindow(process_.dwProcessId, "#32770", LOG_WINDOW_CAPTION);
    return log == nullptr ? "" : WindowText(GetDlgItem(log, IDC_LOGTEXT));
}

bool Program::WaitForLog(const std::string &part, int ms) const
{
    return WaitUntil([&] { return Log().find(part) != std::string::npos; }, ms);
}

size_t Program::Count(const std::string &part) const
{
    std::string log = Log();
    size_t count = 0;
    for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
        count++;
    return count;
}

bool Program::Ended(int ms) { return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(ms)) == WAIT_OBJECT_0; }

bool Program::Exit()
{
    Command(IDM_EXIT);
    return Ended(10000);
}
