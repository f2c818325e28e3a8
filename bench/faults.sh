#!/usr/bin/env bash
# Deliberate faults: small realistic mistakes put into the product code one at a time, each
# followed by a build and the test run, to see which ones the tests catch.
# Never part of CI, and no test depends on it. Work on a clone, never on the tree you edit:
#   bench/faults.sh SOURCE_CLONE [NAME...]        (default: every fault)
# POLLWICK_FAULT_CMAKE_ARGS adds configure options (other fixture ports, to run beside a build).
# Builds in SOURCE_CLONE/build-faults; prints one line per fault and a summary, and keeps each
# run's ctest output in build-faults/faults/NAME.log.
set -uo pipefail
src=$(cd "$1" && pwd)
shift
build=$src/build-faults
mkdir -p "$build/faults"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  ${POLLWICK_FAULT_CMAKE_ARGS:-} >/dev/null

names=() files=() olds=() news=()
fault() { names+=("$1"); files+=("$2"); olds+=("$3"); news+=("$4"); }

# POP3 session
fault pop3-mask-off-by-one mail/pop3.cpp 'for (char *p = command + 5;' 'for (char *p = command + 6;'
fault pop3-apop-first-close mail/pop3.cpp 'strchr(open, '"'"'>'"'"')' 'strchr(greeting, '"'"'>'"'"')'
fault pop3-quit-reply-ignored mail/pop3.cpp '    FormatText(s->command, sizeof s->command, "QUIT\r\n");
    if (!Exchange(s))
        return -1;' '    FormatText(s->command, sizeof s->command, "QUIT\r\n");
    Exchange(s);'
fault pop3-split-reply-restarts mail/pop3.cpp '        s->inputEnd = received;' '        s->inputEnd = received;
        length = 0;'
fault pop3-overlong-no-room mail/pop3.cpp 'constexpr size_t kKeep = kBufferSize - 3;' 'constexpr size_t kKeep = kBufferSize - 1;'
fault pop3-zero-byte-kept mail/pop3.cpp "c == '\\0' ? '?' : c" 'c'
fault pop3-reset-not-closed net/net_posix.cpp '    if (n < 0 && errno == ECONNRESET)
        return kNetClosed;  // the peer hung up with our command unread
' ''
fault pop3-deadline-per-receive mail/pop3.cpp '        int wait = NetRemainingMs(deadline);' '        deadline = NetClockMs() + static_cast<uint64_t>(NetTimeoutMs);
        int wait = NetRemainingMs(deadline);'
fault pop3-connect-default-wait net/net.cpp 'result = SideWait(socket, true, NetTimeoutMs);' 'result = SideWait(socket, true, kDefaultNetTimeoutMs);'
fault pop3-stat-negative mail/pop3.cpp "    if (*p == '+')
        p++;" "    if (*p == '+' || *p == '-')
        p++;"
fault pop3-password-line-break mail/pop3.cpp 'HasLineBreak(Settings.USER) || HasLineBreak(Settings.PASS)' 'HasLineBreak(Settings.USER)'
fault pop3-winsock-reset net/net_win32.cpp 'if (n == 0 || WSAGetLastError() == WSAECONNRESET)' 'if (n == 0)'
fault pop3-resolver-every-check net/net_lookup.cpp '    if (NetParseAddress(host, address))
        return 0;' ''
# TLS
fault tls-stls-falls-back mail/pop3.cpp 'if (Settings.TLSM == kTlsStls && !SwitchToTls(s))
        return -1;' 'if (Settings.TLSM == kTlsStls)
        SwitchToTls(s);'
fault tls-name-unchecked mail/tls_schannel.cpp 'https.pwszServerName = channel.host;' 'https.pwszServerName = nullptr;'
fault tls-no-sni mail/tls_schannel.cpp 'first ? nullptr : &channel.context, channel.host,' 'first ? nullptr : &channel.context, first ? nullptr : channel.host,'
fault tls-bytes-behind-stls mail/pop3.cpp 'if (s->inputStart < s->inputEnd) {' 'if (false) {'
# Settings
fault settings-no-terminator settings/settings.cpp 'if (memchr(text, '"'"'\0'"'"', field.width) == nullptr)' 'if (false && memchr(text, '"'"'\0'"'"', field.width) == nullptr)'
fault settings-cut-half-character settings/settings.cpp 'text[Cp932CutLength(text, field.width - 1)]' 'text[field.width - 1]'
fault settings-old-tail settings/settings.cpp '    if (field.type == StoreType::Text)
        memset(data, 0, field.width);' ''
fault settings-detail-without-tlsm settings/settings.h 'X(TLSM, Number, 4, 0, kDetailGroup)' 'X(TLSM, Number, 4, 0, 0)'
fault settings-cancel-saves settings/sheet.cpp '        case PSN_APPLY:' '        case PSN_APPLY:
        case PSN_RESET:'
fault settings-create-failure-ignored settings/settings.cpp 'if (status != 0) {' 'if (status < 0) {'
# Text, log, MD5, mail-program split
fault text-copy-cuts-characters base/text.cpp 'size_t n = Cp932CutLength(src, room);' 'size_t n = strnlen(src, room);'
fault log-ring-63 base/log.cpp 'LogRing.slot[(i + 1) % kLogLines]' 'LogRing.slot[(i + 1) % (kLogLines - 1)]'
fault md5-padding-boundary mail/md5.cpp 'index < 56 ? 56 - index' 'index <= 56 ? 56 - index'
fault mailer-exe-byte-steps settings/sheet_rules.cpp 'i += CharLength(text + i))' 'i += CharLength(text + i) > 0 ? 1 : 0)'
# SNTP
fault sntp-any-sender clock/sntp.cpp 'if (from == server && fromPort == serverPort &&' 'if ((from == server || fromPort == serverPort) &&'
fault sntp-one-era clock/sntp.cpp '(seconds & 0x80000000u) != 0 ? seconds : seconds + kEra' 'int64_t{seconds}'
fault sntp-kiss-accepted clock/sntp.cpp '    if (stratum == 0)
        return kKissOfDeath;' ''
fault sntp-port-1024-required clock/sntp.cpp '    NetBind(socket, kSntpLocalPort);' '    if (!NetBind(socket, kSntpLocalPort))
        return Fail(report, socket, kReceiveFailed);'
fault sntp-refusal-unseen clock/sntp.cpp '        AppendRefusal(report, pcMs - serverMs, error);
        return -1;' '        AppendRefusal(report, pcMs - serverMs, error);
        return 0;'
fault sntp-refusal-drops-the-times clock/sntp.cpp '        AppendRefusal(report, pcMs - serverMs, error);' '        CopyText(report, kSyncReportSize, kSetFailed);
        (void)pcMs, (void)AppendRefusal;'
fault sntp-refusal-difference-sign clock/sntp.cpp 'pcAheadMs < 0 ? behind : ahead' 'pcAheadMs > 0 ? behind : ahead'
fault sntp-refusal-code-lost clock/sntp.cpp 'static_cast<unsigned long>(error));' 'static_cast<unsigned long>(kClockPrivilegeNotHeld));'
fault sntp-originate-unchecked clock/sntp.cpp 'memcmp(reply + kOriginateAt, request + kTransmitAt, 8) == 0' '(memcmp(reply + kOriginateAt, request + kTransmitAt, 8) == 0 || n >= kSntpPacketSize)'
fault sntp-long-port-as-lookup clock/sntp.cpp '        return kBadPort;' '        return kNoAddress;'
# Tray
fault tray-pictures-swapped shell/tray_rules.cpp 'oldm == 0 ? IDI_NEW_MAIL : IDI_NEW_AND_OLD_MAIL' 'oldm == 0 ? IDI_NEW_AND_OLD_MAIL : IDI_NEW_MAIL'
fault tray-pictures-loaded-each-time shell/tray.cpp '    if (picture == nullptr)
        picture = LoadSmallIcon(' '    picture = LoadSmallIcon('
fault tray-beep-when-same shell/tray_rules.cpp 'allm < result}' 'allm <= result}'
fault tray-tooltip-counts shell/tray_rules.cpp 'static_cast<uint32_t>(allm) - static_cast<uint32_t>(oldm)' 'static_cast<uint32_t>(oldm)'
# The program end to end
fault main-timer-seconds shell/main.cpp '* 60000u;' '* 1000u;'
fault main-check-while-sheet-open shell/main.cpp '    case IDM_CHECK:
        if (Settings.SheetOpen != 1)
            CheckSoon(window);' '    case IDM_CHECK:
        CheckSoon(window);'
fault main-taskbar-created-ignored shell/main.cpp '            if (!EnsureTrayIcon(&TrayIcon))
                RetryTrayIcon(window);
            return 0;' '            return 0;'
fault main-resume-ignored shell/main.cpp 'event == PBT_APMRESUMEAUTOMATIC' 'event == PBT_APMRESUMESUSPEND'
fault main-end-of-session-unsaved shell/main.cpp '        SaveAllSettings();
        return TRUE;' '        return TRUE;'
fault main-query-ends-the-program shell/main.cpp '        SaveAllSettings();
        return TRUE;' '        CloseProgram(window);
        return TRUE;'
fault main-mailer-failure-silent shell/main.cpp 'if (result <= 32) {' 'if (result < 0) {'
fault main-mailer-arguments-dropped shell/main.cpp 'exec, para, nullptr, SW_SHOWNORMAL' 'exec, nullptr, nullptr, SW_SHOWNORMAL'
fault main-balloon-click-ignored shell/main.cpp '    case NIN_BALLOONUSERCLICK:  // a click on the new-mail notification does the same
' ''
fault tray-notification-always shell/tray.cpp 'if (Settings.NTFY != 0)' 'if (Settings.NTFY != 0 || true)'
fault tray-picture-always-16 shell/tray.cpp 'GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON)' '16, 16'
fault log-window-refreshes-once shell/log_window.cpp '    case WM_LOGUPDATED:
        refreshPosted = false;' '    case WM_LOGUPDATED:'
fault log-cut-loses-line-end base/log.cpp 'memcpy(out + length, "\r\n", 3);' 'out[length] = '"'"'\0'"'"';'
fault tls-partial-chain-trusted mail/tls_schannel.cpp 'DWORD status = chain->TrustStatus.dwErrorStatus &' 'DWORD status = CERT_TRUST_IS_PARTIAL_CHAIN & chain->TrustStatus.dwErrorStatus & 0 &'
fault tls-plain-record-awaited mail/tls_schannel.cpp 'record[0] < 20 || record[0] > 23 ||' 'record[0] > 23 && record[0] < 20 &&'
fault tls-revocation-not-asked mail/tls_schannel.cpp 'DWORD chainFlags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | ' 'DWORD chainFlags = '
fault tls-revocation-offline-refuses mail/tls_schannel.cpp '~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)' '~CERT_TRUST_REVOCATION_STATUS_UNKNOWN'
fault tls-no-older-credential mail/tls_schannel.cpp 'i < count && status != SEC_E_OK;' 'i < count && status == SEC_E_UNSUPPORTED_FUNCTION;'
fault settings-old-tail-written settings/settings.cpp '        memset(data + length, 0, field.width - length);' '        (void)length;'
fault settings-password-left-plain settings/settings.cpp 'length != 0 ? empty : reinterpret_cast<const uint8_t *>(Settings.PASS)' 'length != 0 && empty[0] != 0 ? empty : reinterpret_cast<const uint8_t *>(Settings.PASS)'
fault lookup-wait-unbounded net/net_posix.cpp '        deadline.tv_sec += waitMs / 1000;' '        deadline.tv_sec += 3600 + waitMs / 1000;'
fault lookup-winsock-ended-under-lookup net/net_win32.cpp 'bool started = NetStartup();' 'bool started = true;'
fault lookup-winsock-start-kept net/net_win32.cpp '    NetCleanup();  // the start ResolveOnThread took for this thread
' ''
fault sheet-unreadable-mailer-taken settings/sheet.cpp '        if (split != MailerSplit::Accepted)' '        if (split == MailerSplit::TooLong)'
fault main-interval-unclamped shell/main.cpp '    Settings.TIME = ClampInterval(Settings.TIME);' ''
fault main-icon-left-at-exit shell/main.cpp '        Shell_NotifyIconW(NIM_DELETE, &TrayIcon);
        SaveAllSettings();' '        SaveAllSettings();'
fault help-popup-corner-at-mouse settings/help_popup.cpp 'int x = point.x - width / 2;' 'int x = point.x;'
fault chooser-file-title settings/sheet.cpp 'ToCodePage(fileName, path, sizeof path)' 'ToCodePage(fileTitle, path, sizeof path)'
fault log-window-destroyed-on-ok shell/log_window.cpp '            ShowWindow(dialog, SW_HIDE);
            return TRUE;' '            DestroyWindow(dialog);
            return TRUE;'
# Secrets, a second program
fault secret-apop-input-kept mail/pop3.cpp '        WipeSecret(input, sizeof input);' ''
fault secret-md5-block-kept mail/md5.cpp '    WipeSecret(x, sizeof x);' '    (void)x;'
fault secret-md5-state-kept mail/md5.cpp '    WipeSecret(context, sizeof *context);' ''
fault secret-saved-field-kept settings/settings.cpp '    StoreWrite(field.name, field.type, data, field.width);
    WipeSecret(data, sizeof data);' '    StoreWrite(field.name, field.type, data, field.width);'
fault second-program-refused shell/main.cpp '    if (RegisterMainWindowClass(instance) != 0 && CreateMainWindows(instance) != 0)' '    if (FindWindowW(kClassName, nullptr) == nullptr && RegisterMainWindowClass(instance) != 0 && CreateMainWindows(instance) != 0)'
# The code page at the platform's edge
fault wide-system-code-page base/wide_win32.cpp 'constexpr UINT kCodePage = 932;' 'constexpr UINT kCodePage = CP_ACP;'
fault wide-best-fit base/wide_win32.cpp 'WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS,' 'WideCharToMultiByte(kCodePage, 0,'
fault wide-foreign-field-taken settings/sheet.cpp '        if (taken == Narrowed::Foreign)' '        if (taken == Narrowed::Foreign && false)'
fault wide-foreign-stored-taken settings/store_win32.cpp '    if (bytes < 0)
        return kStoreForeignText;' '    if (bytes < 0)
        return kStoreAbsent;'
fault wide-stored-text-length settings/store_win32.cpp 'type == StoreType::Text ? static_cast<DWORD>(characters) * 2 : size' 'type == StoreType::Text ? static_cast<DWORD>(characters) : size'
# A day on the desktop
fault desktop-icon-not-retried shell/main.cpp '    SetTimer(window, ID_ICONTIMER, kIconRetryMs, nullptr);' '    (void)window;'
fault desktop-lost-icon-not-added shell/tray.cpp ' || Shell_NotifyIconW(NIM_ADD, icon);' ';'
fault desktop-icon-added-twice shell/tray.cpp 'Shell_NotifyIconW(NIM_MODIFY, icon) || ' ''
fault desktop-new-shell-not-retried shell/main.cpp '            if (!EnsureTrayIcon(&TrayIcon))
                RetryTrayIcon(window);' '            EnsureTrayIcon(&TrayIcon);'
fault desktop-reload-rebuilds-tooltip shell/tray.cpp '    icon->hIcon = LoadTrayPicture(window, TrayIconId);' '    FillRecord(window, icon, LoadTrayPicture(window, TrayIconId));'
fault desktop-sheet-not-forward settings/sheet.cpp '        SetForegroundWindow(GetLastActivePopup(sheetWindow));' '        SetForegroundWindow(sheetWindow);'
fault desktop-log-not-forward shell/main.cpp '            SetForegroundWindow(LogWindow);' ''
fault desktop-sheet-no-taskbar-button settings/sheet.cpp ' | WS_EX_APPWINDOW);' ');'
fault desktop-box-owned-by-hidden-window shell/main.cpp '    ShowMessage(nullptr, "Pollwick Version "' '    ShowMessage(MainWindow, "Pollwick Version "'
fault desktop-resume-not-retried shell/main.cpp '    if (result < 0 && afterResume' '    if (result < 0 && afterResume && false'
fault desktop-check-asked-during-check-lost shell/main.cpp '    if (checkAgainSoon) {' '    if (false && checkAgainSoon) {'
fault desktop-resume-retries-any-failure shell/main.cpp ' && afterResume && LastCheckFailedOnNetwork() &&' ' && afterResume &&'
fault desktop-sign-in-not-kept-current shell/main.cpp '    KeepSignInCurrent();' ''
fault desktop-sign-in-box-ignored settings/sheet.cpp '                SetStartAtSignIn(IsChecked(page, control.id));' ''
fault desktop-sign-in-written-unchanged settings/sheet.cpp 'if (IsChecked(page, control.id) != StartsAtSignIn())' 'if (true)'
fault desktop-sign-in-taken-from-another-copy settings/sign_in_win32.cpp ' && !ProgramExists(stored))' ' && (!ProgramExists(stored) || true))'
fault desktop-sign-in-disabled-ignored settings/sign_in_win32.cpp 'return ReadValue(stored) && !Disabled();' 'return ReadValue(stored) && (!Disabled() || true);'
fault desktop-sign-in-stays-disabled settings/sign_in_win32.cpp '        RegDeleteKeyValueW(HKEY_CURRENT_USER, kApprovedKey, kValue);  // enabled again' '        (void)0;'
# What the user sets is kept whole
fault sheet-long-text-cut settings/sheet.cpp 'if (control.kind != Kind::Mailer && taken == Narrowed::Cut)' 'if (false)'
fault sheet-long-mailer-cut settings/sheet.cpp 'taken == Narrowed::Cut ? MailerSplit::TooLong' 'false ? MailerSplit::TooLong'
fault chooser-writes-at-once settings/sheet.cpp '    JoinMailerText(path, "", mailer, sizeof mailer);' '    JoinMailerText(path, "", mailer, sizeof mailer);
    CopyText(Settings.EXEC, sizeof Settings.EXEC, path);'
fault settings-refused-overwritten settings/settings.cpp ' || SettingRefused(id))' ')'
fault settings-refusal-ends-unset settings/settings.cpp '    if (strcmp(field, text) == 0)
        return;' ''
fault settings-protected-password-overwritten settings/settings.cpp '        if (!SettingRefused(kPASS))
            SavePassword();' '        SavePassword();'
fault wide-look-alike-refused base/wide_win32.cpp '        taken[i] = WindowsForm(text[i]);' '        taken[i] = false ? WindowsForm(text[i]) : text[i];'
# The clock for every user
fault clock-consent-not-asked clock/sntp.cpp '    bool consent = error == kClockPrivilegeNotHeld;' '    bool consent = false;'
fault clock-set-twice clock/sntp.cpp '    uint32_t error = SetSystemClock(serverMs);' '    SetSystemClock(serverMs);
    uint32_t error = SetSystemClock(serverMs);'
fault clock-switch-takes-more clock/sntp.cpp "if (*rest != '\\0' || length == 0" "if (length == 0"
fault clock-declined-unnamed clock/sntp.cpp '                      : error == kConsentDeclined      ? kDeclined' '                      : error == kConsentDeclined      ? kRefusedBySystem'
fault sntp-port-read-like-atoi clock/sntp.cpp ' || number == 0 || number > 65535)' ')'
fault tls-handshake-loss-not-network mail/pop3.cpp '        networkFailed = TlsFailedOnNetwork();' ''
# The build and what a Windows user downloads (the manifest one shows only in the x86_64 runs)
fault release-strip-time cmake/windows.cmake 'env SOURCE_DATE_EPOCH=0 ${CMAKE_STRIP}' 'env ${CMAKE_STRIP}'
fault release-zip-build-time cmake/pack_release.py 'stamp = time.gmtime(max(int(epoch or 0), 315532800))[:6]' 'stamp = time.localtime()[:6]'
fault manifest-32-bit-only resources/pollwick.manifest 'processorArchitecture="*" publicKeyToken' 'processorArchitecture="x86" publicKeyToken'

want=" $* "
caught=0 survived=0 broken=0
for i in "${!names[@]}"; do
  name=${names[$i]} file=$src/${files[$i]}
  [ $# -eq 0 ] || [[ $want == *" $name "* ]] || continue
  cp "$file" "$build/faults/original"
  if ! python3 - "$file" "${olds[$i]}" "${news[$i]}" <<'EOF'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding='utf-8').read()
if text.count(old) != 1:
    sys.exit(1)
open(path, 'w', encoding='utf-8').write(text.replace(old, new))
EOF
  then
    echo "fault $name: does not apply to ${files[$i]}"; broken=$((broken + 1)); continue
  fi
  log=$build/faults/$name.log
  if ! cmake --build "$build" -j "$(nproc)" >"$log" 2>&1; then
    echo "fault $name: build failed (caught by the compiler)"; caught=$((caught + 1))
  elif (cd "$build" && ctest -j 2 --stop-on-failure --timeout 300 --output-on-failure >>"$log" 2>&1); then
    echo "fault $name: SURVIVED"; survived=$((survived + 1))
  else
    echo "fault $name: caught by $(grep -m1 -oE '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' "$log" | sed 's/^[0-9]* - //')"
    caught=$((caught + 1))
  fi
  cp "$build/faults/original" "$file"
  # A stopped run skips the fixtures' own clean-up: take the peers and the Wine server down.
  (cd "$build" && ctest -R '^fixture\..*\.stop$' >/dev/null 2>&1)
done
cmake --build "$build" -j "$(nproc)" >/dev/null 2>&1
echo "faults: $caught caught, $survived survived, $broken did not apply"
