// The settings sheet: its three pages, described by one table of controls, their context help,
// and the mail-program chooser.
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

// How a control shows and takes its setting.
enum class Kind {
    Text,      // an edit holding a text field
    Number,    // an edit holding PORT, any value as the user wrote it
    Interval,  // an edit holding TIME, brought within the timer's range
    Mailer,    // the edit holding EXEC and PARA, split as the rules say
    Check,     // a check box or radio button: the field is 1 when checked
    Choice,    // one radio button of several: the field is value when checked
    SignIn,    // the check box of the Run value, which is no field of ours
};

struct Control {
    int page;  // 0 to 2
    int id;
    Kind kind;
    SettingId field;
    int label;         // edits: the label or group box that names the field to the user
    const char *help;  // the popup for F1 and the caption's "?", or nullptr for none
    int32_t value;     // Choice: the field's value for this button
};

// Every control of the three pages that shows a setting or has help.
constexpr Control kControls[] = {
    {0, IDC_POP3, Kind::Text, kPOP3, IDC_POP3_LABEL, "POP3サーバの名前を入力してください"},
    {0, IDC_USER, Kind::Text, kUSER, IDC_USER_LABEL, "POP3ユーザの名前を入力してください"},
    {0, IDC_PASS, Kind::Text, kPASS, IDC_PASS_LABEL, "POP3パスワードを入力してください"},
    {0, IDC_TIME, Kind::Interval, kTIME, IDC_TIME_LABEL, "自動的にメールチェックする間隔（分）を入力してください"},
    {1, IDC_PORT, Kind::Number, kPORT, IDC_PORT_LABEL, "POP3ポート番号を入力してください\r（普通は110を使います）"},
    {1, IDC_MAILER, Kind::Mailer, kEXEC, IDC_MAILER_GROUP,
     "外部メールソフトの実行ファイル名を入力してください\r（引数も有効です）"},
    {1, IDC_APOP, Kind::Check, kAPOP, 0, "パスワードを暗号化して送ります\r（サーバがAPOP認証に対応している場合のみ有効）"},
    {1, IDC_STCH, Kind::Check, kSTCH, 0, "Pollwick の起動と同時にメールチェックを行います"},
    {1, IDC_NTFY, Kind::Check, kNTFY, 0, "新しいメールが届いた時\rタスクトレイのアイコンから通知を表示します"},
    {1, IDC_DCHK, Kind::Check, kDCHK, 0, "タスクトレイのアイコンをダブルクリックした時\r直ちにメールチェックを行います"},
    {1, IDC_DMAL, Kind::Check, kDMAL, 0, "タスクトレイのアイコンをダブルクリックした時\r外部メールソフトを起動します"},
    {1, IDC_TLS_NONE, Kind::Choice, kTLSM, 0, "暗号化せずに通信します\r（APOPを使わなければパスワードもそのまま送ります）",
     kTlsNone},
    {1, IDC_TLS_STLS, Kind::Choice, kTLSM, 0,
     "接続してからSTLSコマンドで暗号化に切り替えます\r（ポート番号は普通110のままです）", kTlsStls},
    {1, IDC_TLS_IMPLICIT, Kind::Choice, kTLSM, 0, "接続と同時に暗号化して通信します\r（POP3ポート番号は普通995にします）",
     kTlsImplicit},
    {1, IDC_PENC, Kind::Check, kPENC, 0,
     "パスワードを Windows のデータ保護機能で暗号化して保存します\r（保存したPCの同じユーザだけが読み出せます）"},
    {1, IDC_SIGNIN, Kind::SignIn, kSettingCount, 0, "Windows にサインインした時\rPollwick を自動的に起動します"},
    {2, IDC_NTPS, Kind::Text, kNTPS, IDC_NTPS_LABEL, "NTPサーバ名を入力してください"},
};

// What OK writes for each page.
void (*const kSave[])() = {SaveBasicSettings, SaveDetailSettings, SaveNtpSettings};

// The open sheet; null while there is none.
HWND sheetWindow;

bool IsEdit(Kind kind) { return kind == Kind::Text || kind == Kind::Number || kind == Kind::Interval || kind == Kind::Mailer; }

// The bytes an edit's text may take, its terminator included.
size_t TextRoom(const Control &control)
{
    switch (control.kind) {
    case Kind::Text: return kSettingFields[control.field].width;
    case Kind::Mailer: return kMailerTextSize;
    default: return kNumberTextSize;
    }
}

bool IsChecked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

void SetCheck(HWND page, int id, bool on)
{
    SendDlgItemMessageW(page, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void ShowNumber(HWND page, int id, int32_t value)
{
    char text[kNumberTextSize];
    FormatText(text, sizeof text, "%d", static_cast<int>(value));
    SetItemText(page, id, text);
}

// Fills the page's controls from the record (and the Run value).
void ShowControls(HWND page, int index)
{
    for (const Control &control : kControls) {
        if (control.page != index)
            continue;
        char mailer[kMailerTextSize];
        switch (control.kind) {
        case Kind::Text: SetItemText(page, control.id, TextSetting(control.field)); break;
        case Kind::Number:
        case Kind::Interval: ShowNumber(page, control.id, *NumberSetting(control.field)); break;
        case Kind::Mailer:
            JoinMailerText(Settings.EXEC, Settings.PARA, mailer, sizeof mailer);
            SetItemText(page, control.id, mailer);
            break;
        case Kind::Check: SetCheck(page, control.id, *NumberSetting(control.field) != 0); break;
        // A TLSM that no version wrote shows as no choice and stays as it is unless one is made.
        case Kind::Choice: SetCheck(page, control.id, *NumberSetting(control.field) == control.value); break;
        case Kind::SignIn: SetCheck(page, control.id, StartsAtSignIn()); break;
        }
    }
}

// Takes the page's controls into the record (the page has been checked: every text fits).
void TakeControls(HWND page, int index)
{
    for (const Control &control : kControls) {
        if (control.page != index)
            continue;
        char text[kMailerTextSize] = "";
        if (IsEdit(control.kind))
            GetItemText(page, control.id, text, TextRoom(control));
        char exec[sizeof Settings.EXEC], para[sizeof Settings.PARA];
        switch (control.kind) {
        case Kind::Text: SetTextSetting(control.field, text); break;
        case Kind::Number: *NumberSetting(control.field) = ReadLeadingInteger(text); break;
        case Kind::Interval: *NumberSetting(control.field) = IntervalFromText(text); break;
        case Kind::Mailer:
            if (SplitMailerText(text, exec, sizeof exec, para, sizeof para) == MailerSplit::Accepted) {
                SetTextSetting(kEXEC, exec);
                SetTextSetting(kPARA, para);
            }
            break;
        case Kind::Check: *NumberSetting(control.field) = IsChecked(page, control.id) ? 1 : 0; break;
        case Kind::Choice:
            if (IsChecked(page, control.id))
                *NumberSetting(control.field) = control.value;
            break;
        case Kind::SignIn:
            // Only a change of the box: a value that names another copy of the program stays its.
            if (IsChecked(page, control.id) != StartsAtSignIn())
                SetStartAtSignIn(IsChecked(page, control.id));
            break;
        }
    }
}

// Tells the user why the page cannot take what control holds (format names its label, then the
// limit), and gives it the focus: false.
bool Refuse(HWND page, const Control &control, const char *caption, const char *format, int limit = 0)
{
    char label[80], message[kFormatLimit];
    GetItemText(page, control.label, label, sizeof label);
    FormatText(message, sizeof message, format, label, limit);
    ShowMessage(page, message, caption, MB_OK | MB_ICONWARNING);
    SetFocus(GetDlgItem(page, control.id));
    return false;
}

const char kForeign[] = "「%s」に使えない文字が含まれています（アクセント付きの文字や絵文字など）。\n"
                        "このような文字は Pollwick では扱えないため、入力し直してください。";
const char kTooLong[] = "「%s」が長すぎます。\n%d バイトまでです（全角文字は1文字2バイトです）。";
const char kMailerTooLong[] = "メールソフトのパスか引数が長すぎます。\nパスは259バイト、引数は255バイトまでです"
                              "（全角文字は1文字2バイトです）。";
const char kNoProgram[] = "メールソフトの実行ファイルを特定できません。\n\".exe\" で終わるパスの後に空白を入れて"
                          "引数を書くか、パスを半角の二重引用符（\"）で囲んでください。";

// True when every edit of the page holds a text the program can keep whole and as it is: no
// character that code page 932 lacks, nothing beyond its field (a cut password or path would be
// another one), and a mail-program text that splits. Otherwise the user is told about the first
// that does not, and it gets the focus.
bool EditsFit(HWND page, int index)
{
    for (const Control &control : kControls) {
        if (control.page != index || !IsEdit(control.kind))
            continue;
        char text[kMailerTextSize];
        Narrowed taken = GetItemText(page, control.id, text, TextRoom(control));
        if (taken == Narrowed::Foreign)
            return Refuse(page, control, SHEET_CAPTION, kForeign);
        if (control.kind != Kind::Mailer && taken == Narrowed::Cut)
            return Refuse(page, control, SHEET_CAPTION, kTooLong, static_cast<int>(TextRoom(control) - 1));
        if (control.kind != Kind::Mailer)
            continue;
        char exec[sizeof Settings.EXEC], para[sizeof Settings.PARA];
        MailerSplit split = taken == Narrowed::Cut ? MailerSplit::TooLong
                                                   : SplitMailerText(text, exec, sizeof exec, para, sizeof para);
        if (split != MailerSplit::Accepted)
            return Refuse(page, control, MAILER_BOX_CAPTION, split == MailerSplit::TooLong ? kMailerTooLong : kNoProgram);
    }
    return true;
}

// WM_HELP: the popup of the control asked about, at the mouse; controls without a text get none.
void ShowControlHelp(HWND page, int index, LPARAM lParam)
{
    const HELPINFO *help = reinterpret_cast<const HELPINFO *>(lParam);
    for (const Control &control : kControls)
        if (control.page == index && control.id == help->iCtrlId && control.help != nullptr)
            ShowHelpPopup(page, control.help, help->MousePos);
}

// The open-file dialog for the mail program. Its path goes into the box alone (quoted when it
// must be): arguments that stood there are gone. Nothing changes in the record before OK.
void ChooseMailer(HWND page)
{
    // Kept for the run: the dialog opens where the last choice was.
    static wchar_t fileName[MAX_PATH];
    static wchar_t fileTitle[64];
    wchar_t title[80];
    ToWide(MAILER_CHOOSER_TITLE, title, 80);
    OPENFILENAMEW dialog = {OPENFILENAME_SIZE_VERSION_400W};
    static_assert(offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR) == (sizeof(void *) == 8 ? 136 : 76));
    dialog.hwndOwner = page;
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
        return;
    // A path the program cannot keep whole would start something else than the file picked.
    char path[sizeof Settings.EXEC];
    Narrowed taken = ToCodePage(fileName, path, sizeof path);
    if (taken != Narrowed::Whole) {
        ShowMessage(page,
                    taken == Narrowed::Foreign
                        ? "このファイルのパスには使えない文字が含まれています（アクセント付きの文字や絵文字など）。"
                        : "このファイルのパスは長すぎます。\nパスは259バイトまでです（全角文字は1文字2バイトです）。",
                    MAILER_BOX_CAPTION, MB_OK | MB_ICONWARNING);
        return;
    }
    char mailer[kMailerTextSize];
    JoinMailerText(path, "", mailer, sizeof mailer);
    SetItemText(page, IDC_MAILER, mailer);
}

// "同期！": the server text is taken at once, without saving; the exchange blocks the sheet.
void SyncFromPage(HWND page)
{
    if (!EditsFit(page, 2))
        return;
    char server[sizeof Settings.NTPS];
    GetItemText(page, IDC_NTPS, server, sizeof server);
    SetTextSetting(kNTPS, server);
    char report[kSyncReportSize] = "";
    SyncClock(Settings.NTPS, report);
    SetItemText(page, IDC_SYNCREPORT, report);
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

// The first page is created with the sheet, the others only when first chosen. The sheet's owner
// is a window nobody sees: without a button of its own on the taskbar, and in front, the sheet
// could open behind other windows and be lost there.
void PresentSheet(HWND page)
{
    sheetWindow = GetParent(page);
    CentreOnWorkArea(sheetWindow);
    SetWindowLongPtrW(sheetWindow, GWL_EXSTYLE, GetWindowLongPtrW(sheetWindow, GWL_EXSTYLE) | WS_EX_APPWINDOW);
    SetForegroundWindow(sheetWindow);
}

// The three pages share one procedure; index tells which page it runs for.
INT_PTR HandlePage(int index, HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowControls(page, index);
        if (index == 0)
            PresentSheet(page);
        return FALSE;
    case WM_HELP:
        ShowControlHelp(page, index, lParam);
        return FALSE;
    case WM_COMMAND:
        if (index == 1 && LOWORD(wParam) == IDC_CHOOSE_MAILER)
            ChooseMailer(page);
        if (index == 2 && LOWORD(wParam) == IDC_SYNC)
            SyncFromPage(page);
        return FALSE;
    case WM_NOTIFY:
        switch (reinterpret_cast<const NMHDR *>(lParam)->code) {
        case PSN_KILLACTIVE:
            // Leaving the page, or OK: what the page cannot take keeps the sheet open on it, before
            // any page has written anything.
            SetWindowLongPtrW(page, DWLP_MSGRESULT, EditsFit(page, index) ? FALSE : TRUE);
            return TRUE;
        case PSN_APPLY:
            TakeControls(page, index);
            kSave[index]();
            SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK BasicPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandlePage(0, page, message, wParam, lParam);
}
INT_PTR CALLBACK DetailPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandlePage(1, page, message, wParam, lParam);
}
INT_PTR CALLBACK NtpPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandlePage(2, page, message, wParam, lParam);
}

}  // namespace

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
    // The sheet's own message box or file dialog, when it shows one: that is where the user is.
    if (sheetWindow != nullptr)
        SetForegroundWindow(GetLastActivePopup(sheetWindow));
}
