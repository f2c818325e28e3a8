// The settings sheet: its three pages, their context help, and the mail-program chooser.
#include "settings/sheet.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstddef>

#include "clock/sntp.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "settings/help_popup.h"
#include "settings/settings.h"
#include "settings/sheet_rules.h"
#include "settings/sign_in.h"
#include "base/text.h"
#include "base/wide.h"

namespace {

constexpr size_t kNumberTextSize = 80;

struct HelpText {
    int control;
    const char *text;
};

const HelpText kBasicHelp[] = {
    {IDC_POP3, "POP3サーバの名前を入力してください"},
    {IDC_USER, "POP3ユーザの名前を入力してください"},
    {IDC_PASS, "POP3パスワードを入力してください"},
    {IDC_TIME, "自動的にメールチェックする間隔（分）を入力してください"},
};

const HelpText kDetailHelp[] = {
    {IDC_PORT, "POP3ポート番号を入力してください\r（普通は110を使います）"},
    {IDC_MAILER, "外部メールソフトの実行ファイル名を入力してください\r（引数も有効です）"},
    {IDC_APOP, "パスワードを暗号化して送ります\r（サーバがAPOP認証に対応している場合のみ有効）"},
    {IDC_STCH, "Pollwick の起動と同時にメールチェックを行います"},
    {IDC_NTFY, "新しいメールが届いたとき\rタスクトレイのアイコンから通知を表示します"},
    {IDC_DCHK, "タスクトレイのアイコンをダブルクリックした時\r直ちにメールチェックを行います"},
    {IDC_DMAL, "タスクトレイのアイコンをダブルクリックした時\r外部メールソフトを起動します"},
    {IDC_TLS_NONE, "暗号化せずに通信します\r（APOPを使わなければパスワードもそのまま流れます）"},
    {IDC_TLS_STLS, "接続してからSTLSコマンドで暗号化に切り替えます\r（ポート番号は普通110のままです）"},
    {IDC_TLS_IMPLICIT, "接続と同時に暗号化して通信します\r（ポート番号は普通995を使います）"},
    {IDC_PENC, "パスワードをWindowsのデータ保護機能で暗号化して保存します\r（保存したPCの同じユーザでのみ読み出せます）"},
    {IDC_SIGNIN, "Windows にサインインしたとき\rPollwick を自動的に起動します"},
};

// The open sheet; null while there is none.
HWND sheetWindow;

// The encryption choices in the order of TLSM's values.
constexpr int kTlsButtons[] = {IDC_TLS_NONE, IDC_TLS_STLS, IDC_TLS_IMPLICIT};

const HelpText kNtpHelp[] = {
    {IDC_NTPS, "NTPサーバ名を入力してください"},
};

// Each page's edits, with the label that names them to the user.
struct NamedEdit {
    int edit, label;
};
constexpr NamedEdit kBasicEdits[] = {
    {IDC_POP3, IDC_POP3_LABEL}, {IDC_USER, IDC_USER_LABEL}, {IDC_PASS, IDC_PASS_LABEL}, {IDC_TIME, IDC_TIME_LABEL}};
constexpr NamedEdit kDetailEdits[] = {{IDC_PORT, IDC_PORT_LABEL}, {IDC_MAILER, IDC_MAILER_GROUP}};
constexpr NamedEdit kNtpEdits[] = {{IDC_NTPS, IDC_NTPS_LABEL}};

// WM_HELP: the popup of the control asked about, at the mouse; controls without a text get none.
template <size_t N>
void ShowControlHelp(HWND page, LPARAM lParam, const HelpText (&texts)[N])
{
    const HELPINFO *help = reinterpret_cast<const HELPINFO *>(lParam);
    for (const HelpText &entry : texts)
        if (entry.control == help->iCtrlId) {
            ShowHelpPopup(page, entry.text, help->MousePos);
            return;
        }
}

// True when every edit of the page holds a text the program can keep as it is. Otherwise the user
// is told which field holds a character that code page 932 lacks (such a text could be neither
// stored nor sent as typed), and that field gets the focus.
template <size_t N>
bool EditsFit(HWND page, const NamedEdit (&edits)[N])
{
    for (const NamedEdit &named : edits) {
        char text[kMailerTextSize];
        if (GetItemText(page, named.edit, text, sizeof text) != Narrowed::Foreign)
            continue;
        char label[80], message[kFormatLimit];
        GetItemText(page, named.label, label, sizeof label);
        FormatText(message, sizeof message, "「%s」に使えない文字が含まれています（アクセント付きの文字や絵文字など）。\n"
                   "この文字は保存も送信もできないため、入力し直してください。", label);
        ShowMessage(page, message, SHEET_CAPTION, MB_OK | MB_ICONWARNING);
        SetFocus(GetDlgItem(page, named.edit));
        return false;
    }
    return true;
}

// Reads a control's text into field (size bytes), cut at the end of a whole character when it is
// longer: the pages have refused a text with a character the program cannot keep.
void ReadControlText(HWND page, int id, char *field, size_t size) { GetItemText(page, id, field, size); }

void ShowNumber(HWND page, int id, int32_t value)
{
    char text[kNumberTextSize];
    FormatText(text, sizeof text, "%d", static_cast<int>(value));
    SetItemText(page, id, text);
}

int32_t ReadNumber(HWND page, int id)
{
    char text[kNumberTextSize];
    ReadControlText(page, id, text, sizeof text);
    return ReadLeadingInteger(text);
}

int32_t IsChecked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED ? 1 : 0; }

void SetCheck(HWND page, int id, int32_t value)
{
    SendDlgItemMessageW(page, id, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

bool IsApply(LPARAM lParam) { return reinterpret_cast<const NMHDR *>(lParam)->code == PSN_APPLY; }
bool IsLeaving(LPARAM lParam) { return reinterpret_cast<const NMHDR *>(lParam)->code == PSN_KILLACTIVE; }

// Tells the sheet that the page took its values; the apply is never refused.
INT_PTR Applied(HWND page)
{
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
    return TRUE;
}

// Leaving the page, or OK: a text the page cannot take keeps the sheet open on it, before any page
// has written anything.
INT_PTR StayUnless(HWND page, bool valid)
{
    SetWindowLongPtrW(page, DWLP_MSGRESULT, valid ? FALSE : TRUE);
    return TRUE;
}

// True when the mail-program box splits into a program and its arguments; otherwise the user is
// told why, and the box gets the focus.
bool CheckMailerText(HWND page)
{
    char mailer[kMailerTextSize] = "";
    char exec[sizeof Settings.EXEC], para[sizeof Settings.PARA];
    ReadControlText(page, IDC_MAILER, mailer, sizeof mailer);
    MailerSplit split = SplitMailerText(mailer, exec, sizeof exec, para, sizeof para);
    if (split == MailerSplit::Accepted)
        return true;
    ShowMessage(page,
                split == MailerSplit::TooLong
                    ? "メールソフトのパスか引数が長すぎます。\nパスは259バイト、引数は255バイトまでです"
                      "（全角文字は1文字2バイトです）。"
                    : "どれがメールソフトの実行ファイルか分かりません。\n\".exe\" で終わるパスに続けて引数を書くか、"
                      "パスを \" で囲んでください。",
                MAILER_BOX_CAPTION, MB_OK | MB_ICONWARNING);
    SetFocus(GetDlgItem(page, IDC_MAILER));
    return false;
}

// Moves the sheet to the middle of the work area, keeping its size. Only the work area's right
// and bottom edges count, as if it always began at the screen's top-left corner.
void CentreOnWorkArea(HWND sheet)
{
    RECT area, window;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(sheet, &window);
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    MoveWindow(sheet, (area.right - width) / 2, (area.bottom - height) / 2, width, height, TRUE);
}

}  // namespace

INT_PTR CALLBACK BasicPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetItemText(page, IDC_POP3, Settings.POP3);
        SetItemText(page, IDC_USER, Settings.USER);
        SetItemText(page, IDC_PASS, Settings.PASS);
        ShowNumber(page, IDC_TIME, Settings.TIME);
        // The first page is created with the sheet, the others only when first chosen. The sheet's
        // owner is a window nobody sees: without a button of its own on the taskbar, and in front,
        // the sheet could open behind other windows and be lost there.
        sheetWindow = GetParent(page);
        CentreOnWorkArea(sheetWindow);
        SetWindowLongPtrW(sheetWindow, GWL_EXSTYLE, GetWindowLongPtrW(sheetWindow, GWL_EXSTYLE) | WS_EX_APPWINDOW);
        SetForegroundWindow(sheetWindow);
        return FALSE;
    case WM_HELP:
        ShowControlHelp(page, lParam, kBasicHelp);
        return FALSE;
    case WM_NOTIFY: {
        if (IsLeaving(lParam))
            return StayUnless(page, EditsFit(page, kBasicEdits));
        if (!IsApply(lParam))
            return FALSE;
        ReadControlText(page, IDC_POP3, Settings.POP3, sizeof Settings.POP3);
        ReadControlText(page, IDC_USER, Settings.USER, sizeof Settings.USER);
        ReadControlText(page, IDC_PASS, Settings.PASS, sizeof Settings.PASS);
        char interval[kNumberTextSize];
        ReadControlText(page, IDC_TIME, interval, sizeof interval);
        Settings.TIME = IntervalFromText(interval);
        SaveBasicSettings();
        return Applied(page);
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK DetailPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        ShowNumber(page, IDC_PORT, Settings.PORT);
        SetCheck(page, IDC_APOP, Settings.APOP);
        SetCheck(page, IDC_STCH, Settings.STCH);
        SetCheck(page, IDC_DCHK, Settings.DCHK);
        SetCheck(page, IDC_DMAL, Settings.DMAL);
        SetCheck(page, IDC_PENC, Settings.PENC != 0 ? 1 : 0);
        SetCheck(page, IDC_NTFY, Settings.NTFY != 0 ? 1 : 0);
        SetCheck(page, IDC_SIGNIN, StartsAtSignIn() ? 1 : 0);
        // A value no version wrote shows as no choice and stays as it is unless one is made.
        for (int32_t mode = 0; mode < 3; mode++)
            SetCheck(page, kTlsButtons[mode], Settings.TLSM == mode ? 1 : 0);
        char mailer[kMailerTextSize];
        JoinMailerText(Settings.EXEC, Settings.PARA, mailer, sizeof mailer);
        SetItemText(page, IDC_MAILER, mailer);
        return FALSE;
    }
    case WM_HELP:
        ShowControlHelp(page, lParam, kDetailHelp);
        return FALSE;
    case WM_COMMAND:
        // The path alone replaces the box (quoted if it must be): arguments that stood there are gone.
        if (LOWORD(wParam) == IDC_CHOOSE_MAILER && ChooseMailer(page) == 1) {
            char mailer[kMailerTextSize];
            JoinMailerText(Settings.EXEC, "", mailer, sizeof mailer);
            SetItemText(page, IDC_MAILER, mailer);
        }
        return FALSE;
    case WM_NOTIFY: {
        if (IsLeaving(lParam))
            return StayUnless(page, EditsFit(page, kDetailEdits) && CheckMailerText(page));
        if (!IsApply(lParam))
            return FALSE;
        Settings.PORT = ReadNumber(page, IDC_PORT);  // any value, as the user wrote it
        Settings.APOP = IsChecked(page, IDC_APOP);
        Settings.STCH = IsChecked(page, IDC_STCH);
        Settings.DCHK = IsChecked(page, IDC_DCHK);
        Settings.DMAL = IsChecked(page, IDC_DMAL);
        Settings.PENC = IsChecked(page, IDC_PENC);
        Settings.NTFY = IsChecked(page, IDC_NTFY);
        SetStartAtSignIn(IsChecked(page, IDC_SIGNIN) != 0);
        for (int32_t mode = 0; mode < 3; mode++)
            if (IsChecked(page, kTlsButtons[mode]))
                Settings.TLSM = mode;
        char mailer[kMailerTextSize] = "";
        ReadControlText(page, IDC_MAILER, mailer, sizeof mailer);
        SplitMailerText(mailer, Settings.EXEC, sizeof Settings.EXEC, Settings.PARA, sizeof Settings.PARA);
        SaveDetailSettings();
        return Applied(page);
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK NtpPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetItemText(page, IDC_NTPS, Settings.NTPS);
        return FALSE;
    case WM_HELP:
        ShowControlHelp(page, lParam, kNtpHelp);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SYNC && EditsFit(page, kNtpEdits)) {
            // The server text is taken at once, without saving; the exchange blocks the sheet.
            ReadControlText(page, IDC_NTPS, Settings.NTPS, sizeof Settings.NTPS);
            char report[kSyncReportSize] = "";
            SyncClock(Settings.NTPS, report);
            SetItemText(page, IDC_SYNCREPORT, report);
        }
        return FALSE;
    case WM_NOTIFY:
        if (IsLeaving(lParam))
            return StayUnless(page, EditsFit(page, kNtpEdits));
        if (!IsApply(lParam))
            return FALSE;
        ReadControlText(page, IDC_NTPS, Settings.NTPS, sizeof Settings.NTPS);
        SaveNtpSettings();
        return Applied(page);
    default:
        return FALSE;
    }
}

void ShowSettingsSheet(HWND owner)
{
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    struct {
        const wchar_t *name;
        DLGPROC procedure;
    } const kPages[] = {{L"PAGE1", BasicPageProc}, {L"PAGE2", DetailPageProc}, {L"PAGE3", NtpPageProc}};

    // First-version records, which every version of the common controls takes: 40 bytes each in
    // 32-bit Windows, 72 in 64-bit Windows.
    static_assert(offsetof(PROPSHEETPAGEW, pcRefParent) + sizeof(UINT *) == (sizeof(void *) == 8 ? 72 : 40));
    static_assert(offsetof(PROPSHEETHEADERW, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK) == (sizeof(void *) == 8 ? 72 : 40));
    HPROPSHEETPAGE pages[3];
    for (int i = 0; i < 3; i++) {
        PROPSHEETPAGEW page = {PROPSHEETPAGEW_V1_SIZE};
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = instance;
        page.pszTemplate = kPages[i].name;
        page.pfnDlgProc = kPages[i].procedure;
        pages[i] = CreatePropertySheetPageW(&page);
    }
    wchar_t caption[80];
    ToWide(SHEET_CAPTION, caption, 80);
    PROPSHEETHEADERW header = {PROPSHEETHEADERW_V1_SIZE};
    header.dwFlags = PSH_NOAPPLYNOW | PSH_WIZARDCONTEXTHELP;
    header.hwndParent = owner;
    header.hInstance = instance;
    header.pszCaption = caption;
    header.nPages = 3;
    header.nStartPage = 0;
    header.phpage = pages;
    PropertySheetW(&header);
    sheetWindow = nullptr;
}

void BringSettingsSheetForward()
{
    if (sheetWindow != nullptr)
        SetForegroundWindow(sheetWindow);
}

int ChooseMailer(HWND owner)
{
    // Kept for the run: the dialog opens where the last choice was.
    static wchar_t fileName[MAX_PATH];
    static wchar_t fileTitle[64];
    wchar_t title[80];
    ToWide(MAILER_CHOOSER_TITLE, title, 80);
    OPENFILENAMEW dialog = {OPENFILENAME_SIZE_VERSION_400W};
    static_assert(offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR) == (sizeof(void *) == 8 ? 136 : 76));
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"EXE files(*.exe)\0*.exe\0All Files(*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrFileTitle = fileTitle;
    dialog.nMaxFileTitle = 64;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_FILEMUSTEXIST;
    dialog.lpstrDefExt = L"exe";
    if (!GetOpenFileNameW(&dialog))
        return 0;
    // A path the program cannot keep whole would start something else than the file picked.
    char path[sizeof Settings.EXEC];
    Narrowed taken = ToCodePage(fileName, path, sizeof path);
    if (taken != Narrowed::Whole) {
        ShowMessage(owner,
                    taken == Narrowed::Foreign ? "このファイルのパスには使えない文字が含まれています（アクセント付きの文字や絵文字など）。"
                                               : "このファイルのパスは長すぎます（259バイトまでです）。",
                    MAILER_BOX_CAPTION, MB_OK | MB_ICONWARNING);
        return 0;
    }
    CopyText(Settings.EXEC, sizeof Settings.EXEC, path);
    return 1;
}
