// Context-help popups through the HTML Help control, with a popup window of our own to fall back on.
#include "settings/help_popup.h"

#include <htmlhelp.h>

#include "base/text.h"
#include "base/wide.h"

namespace {

using HtmlHelpFunction = HWND(WINAPI *)(HWND, LPCWSTR, UINT, DWORD_PTR);

const wchar_t kHelpControlKey[] = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr WORD kHtmlHelpOrdinal = 15;  // HtmlHelpW

HMODULE helpLibrary;
HtmlHelpFunction htmlHelp;
bool helpFailed;

// Our popup: at most one at a time, in the font of the page that asked for it.
HWND popupWindow;
HFONT popupFont;
constexpr int kMarginX = 8;
constexpr int kMarginY = 6;

// Calls draw(line, length, index) for each line of text; returns the number of lines.
template <typename Draw>
int ForEachLine(const wchar_t *text, Draw draw)
{
    int index = 0;
    const wchar_t *line = text;
    for (const wchar_t *at = text;; at++) {
        if (*at == L'\r' || *at == L'\n' || *at == L'\0') {
            draw(line, static_cast<int>(at - line), index++);
            if (*at == L'\0')
                return index;
            if (at[0] == L'\r' && at[1] == L'\n')
                at++;
            line = at + 1;
        }
    }
}

LRESULT CALLBACK PopupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        HGDIOBJ old = SelectObject(dc, popupFont);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
        TEXTMETRICW metrics;
        GetTextMetricsW(dc, &metrics);
        wchar_t text[kFormatLimit];
        GetWindowTextW(window, text, kFormatLimit);
        ForEachLine(text, [&](const wchar_t *line, int length, int index) {
            TextOutW(dc, kMarginX, kMarginY + index * metrics.tmHeight, line, length);
        });
        SelectObject(dc, old);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        DestroyWindow(window);
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != window)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_KILLFOCUS:
    case WM_ACTIVATE:
        // Not destroyed in the middle of a change of focus: once it is over.
        if (message == WM_KILLFOCUS || LOWORD(wParam) == WA_INACTIVE)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
        if (popupWindow == window)
            popupWindow = nullptr;
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowOwnPopup(HWND caller, const wchar_t *text, POINT point)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    static ATOM popupClass;
    if (popupClass == 0) {
        WNDCLASSW windowClass = {};
        windowClass.style = CS_SAVEBITS | CS_DROPSHADOW;
        windowClass.lpfnWndProc = PopupProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1);
        windowClass.lpszClassName = kHelpPopupClass;
        popupClass = RegisterClassW(&windowClass);
    }
    if (popupFont == nullptr) {
        // The page's own dialog font goes with the page: keep a copy for the run.
        HFONT pageFont = reinterpret_cast<HFONT>(SendMessageW(caller, WM_GETFONT, 0, 0));
        LOGFONTW font;
        if (pageFont != nullptr && GetObjectW(pageFont, sizeof font, &font) == sizeof font)
            popupFont = CreateFontIndirectW(&font);
        if (popupFont == nullptr)
            popupFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    if (popupWindow != nullptr)
        DestroyWindow(popupWindow);

    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, popupFont);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    int width = 0;
    int lines = ForEachLine(text, [&](const wchar_t *line, int length, int) {
        SIZE size = {};
        GetTextExtentPoint32W(dc, line, length, &size);
        if (size.cx > width)
            width = size.cx;
    });
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    width += 2 * kMarginX + 2;  // and the border
    int height = lines * metrics.tmHeight + 2 * kMarginY + 2;

    // The top centre at the point, moved as little as needed to stay inside the work area.
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    int x = point.x - width / 2;
    int y = point.y;
    if (x + width > area.right)
        x = area.right - width;
    if (x < area.left)
        x = area.left;
    if (y + height > area.bottom)
        y = area.bottom - height;
    if (y < area.top)
        y = area.top;

    // Owned by the sheet, so it goes with it; shown active, so that keys and focus loss reach it.
    popupWindow = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kHelpPopupClass, text, WS_POPUP | WS_BORDER, x, y,
                                  width, height, GetAncestor(caller, GA_ROOT), nullptr, instance, nullptr);
    if (popupWindow != nullptr) {
        ShowWindow(popupWindow, SW_SHOW);
        UpdateWindow(popupWindow);
        // Every click, on the popup or anywhere else, comes here first and closes it.
        SetCapture(popupWindow);
    }
}

// HtmlHelpW of the HTML Help control, bound at the first call and kept for the run: the library
// named by the control's class registration, else the system folder's "hhctrl.ocx", entry ordinal
// 15. Once binding has failed it is never tried again and every call returns null.
HWND CallHtmlHelp(HWND caller, const wchar_t *file, UINT command, DWORD_PTR data)
{
    if (helpFailed)
        return nullptr;
    if (helpLibrary == nullptr) {
        // By its full path only, never by a name a folder beside the program could answer: the
        // path the control's registration names (expanded when it holds %SystemRoot%), else the
        // system folder's.
        wchar_t path[MAX_PATH] = L"";
        DWORD size = sizeof path;
        if (RegGetValueW(HKEY_CLASSES_ROOT, kHelpControlKey, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr,
                         path, &size) == ERROR_SUCCESS &&
            ((path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\')))
            helpLibrary = LoadLibraryExW(path, nullptr, 0);
        UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (helpLibrary == nullptr && length > 0 && length + 12 < MAX_PATH) {
            lstrcatW(path, L"\\hhctrl.ocx");
            helpLibrary = LoadLibraryExW(path, nullptr, 0);
        }
        if (helpLibrary == nullptr) {
            helpFailed = true;
            return nullptr;
        }
    }
    if (htmlHelp == nullptr) {
        FARPROC entry = GetProcAddress(helpLibrary, reinterpret_cast<LPCSTR>(kHtmlHelpOrdinal));
        if (entry == nullptr) {
            helpFailed = true;
            return nullptr;
        }
        // Through the generic function type, which converts to any other without complaint.
        htmlHelp = reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void (*)()>(entry));
    }
    return htmlHelp(caller, file, command, data);
}

}  // namespace

void ShowHelpPopup(HWND caller, const char *text, POINT point)
{
    wchar_t wide[kFormatLimit];
    ToWide(text, wide, kFormatLimit);
    HH_POPUP popup = {sizeof popup};
    static_assert(sizeof popup == (sizeof(void *) == 8 ? 72 : 52));
    popup.pszText = wide;
    popup.pt = point;
    popup.clrForeground = static_cast<COLORREF>(-1);  // the control's own colours, margins and font
    popup.clrBackground = static_cast<COLORREF>(-1);
    popup.rcMargins = {-1, -1, -1, -1};
    if (CallHtmlHelp(caller, nullptr, HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup)) == nullptr)
        ShowOwnPopup(caller, wide, point);
}
