// Helpers of the Windows tests.
#include "tests/support/win_support.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "tests/support/test_support.h"

void Pump(int ms)
{
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    MSG message;
    do {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    } while (GetTickCount() < end);
}

namespace {

// The bottom strip of the desktop, where the taskbar and its notification area are.
struct Strip {
    int left, top, width, height;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

Strip Capture(int height = 40)
{
    Strip s;
    s.width = GetSystemMetrics(SM_CXSCREEN);
    s.height = height;
    s.left = 0;
    s.top = GetSystemMetrics(SM_CYSCREEN) - height;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, s.width, s.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, s.width, s.height, screen, s.left, s.top, SRCCOPY);
    for (int y = 0; y < s.height; y++)
        for (int x = 0; x < s.width; x++)
            s.pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return s;
}

// The picture a 16 x 16 icon resource draws: RGB per pixel, or -1 where it is transparent.
std::vector<int> Render(int id)
{
    std::vector<int> out;
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(memory, bitmap);
    std::vector<COLORREF> backgrounds[2];
    for (COLORREF background : {RGB(0, 0xFE, 0xFE), RGB(0xFE, 0, 0xFE)}) {
        RECT all = {0, 0, 16, 16};
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
        for (int i = 0; i < 256; i++)
            backgrounds[background == RGB(0, 0xFE, 0xFE) ? 0 : 1].push_back(GetPixel(memory, i % 16, i / 16));
    }
    for (int i = 0; i < 256; i++)
        out.push_back(backgrounds[0][i] != backgrounds[1][i] ? -1 : static_cast<int>(backgrounds[0][i]));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DestroyIcon(icon);
    return out;
}

}  // namespace

int ShownPicture(POINT *centre)
{
    static std::vector<int> pictures[10];
    if (pictures[1].empty())
        for (int id = 2001; id <= 2009; id++)
            pictures[id - 2000] = Render(id);
    Strip s = Capture();
    for (int y = 0; y + 16 <= s.height; y++)
        for (int x = 0; x + 16 <= s.width; x++) {
            if (s.At(x + 2, y + 1) != RGB(0xFF, 0, 0) || s.At(x + 1, y) != RGB(0, 0, 0))
                continue;  // not the top-left of the box's outline and face
            for (int id = 2001; id <= 2009; id++) {
                bool same = true;
                for (int i = 0; i < 256 && same; i++) {
                    int expected = pictures[id - 2000][static_cast<size_t>(i)];
                    same = expected == -1 || static_cast<COLORREF>(expected) == s.At(x + i % 16, y + i / 16);
                }
                if (same) {
                    if (centre != nullptr)
                        *centre = {x + 8, s.top + y + 8};
                    return id;
                }
            }
        }
    return 0;
}

// The shell draws in its own process: give it a moment to catch up.
int ShownPictureSettled(int expected)
{
    int shown = 0;
    for (int i = 0; i < 60 && shown != expected; i++) {
        Pump(50);
        shown = ShownPicture();
    }
    return shown;
}

void SaveScreenshot(const std::string &name)
{
    std::string dir = Environment("POLLWICK_ARTIFACTS");
    if (dir.empty())
        return;
    Strip s = Capture(GetSystemMetrics(SM_CYSCREEN));
    std::string path = "Z:" + dir + "/" + name;
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return;
    BITMAPFILEHEADER header = {0x4D42, 0, 0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    BITMAPINFOHEADER info = {sizeof info, s.width, s.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    int rowBytes = (s.width * 3 + 3) / 4 * 4;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(rowBytes * s.height);
    fwrite(&header, sizeof header, 1, file);
    fwrite(&info, sizeof info, 1, file);
    std::vector<unsigned char> row(static_cast<size_t>(rowBytes));
    for (int y = s.height - 1; y >= 0; y--) {
        for (int x = 0; x < s.width; x++) {
            COLORREF c = s.At(x, y);
            row[static_cast<size_t>(x * 3)] = GetBValue(c);
            row[static_cast<size_t>(x * 3 + 1)] = GetGValue(c);
            row[static_cast<size_t>(x * 3 + 2)] = GetRValue(c);
        }
        fwrite(row.data(), row.size(), 1, file);
    }
    fclose(file);
}


std::string ProgramCommandLine()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text = path;
    text = text.substr(0, text.find_last_of("\\/"));  // ...\windows\tests
    return "\"" + text.substr(0, text.find_last_of("\\/")) + "\\pollwick.exe\"";
}

namespace {
BOOL CALLBACK MatchProgramWindow(HWND window, LPARAM data)
{
    auto *search = reinterpret_cast<std::pair<DWORD, HWND> *>(data);
    DWORD pid;
    GetWindowThreadProcessId(window, &pid);
    char name[64];
    GetClassNameA(window, name, sizeof name);
    if (pid == search->first && strcmp(name, "Pollwick") == 0)
        search->second = window;
    return TRUE;
}
}  // namespace

HWND FindProgramWindow(DWORD processId)
{
    std::pair<DWORD, HWND> search(processId, nullptr);
    EnumWindows(MatchProgramWindow, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

namespace {
const char kProgramKey[] = "Software\\Quorvane\\Pollwick";

void PutValue(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
}
}  // namespace

void PutText(const char *name, const std::string &value)
{
    PutValue(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void PutNumber(const char *name, DWORD value) { PutValue(name, REG_DWORD, &value, 4); }

long StoredNumber(const char *name)
{
    HKEY key;
    DWORD value = 0xDEADBEEF, length = 4;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &length);
        RegCloseKey(key);
    }
    return static_cast<long>(value);
}

long StoredLength(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    BYTE data[512];
    DWORD length = sizeof data;
    LONG status = RegQueryValueExA(key, name, nullptr, nullptr, data, &length);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? static_cast<long>(length) : -1;
}
