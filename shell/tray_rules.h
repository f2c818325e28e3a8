// What the tray shows for the message counts: pictures, tooltip, and how a check moves the counts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resources/resource.h"

// Picture ids: IDI_NO_MAIL or IDI_CHECKING_NO_MAIL plus the count offset, or IDI_CHECK_FAILED.
// 0 no mail, 1 all of it new, 2 new beside acknowledged mail, 3 only acknowledged mail.
int CountOffset(int32_t allm, int32_t oldm);

struct CheckOutcome {
    int32_t allm;
    int32_t oldm;
    int icon;       // picture to show (IDI_CHECK_FAILED: the tooltip tells of the error)
    bool mailBeep;  // the count grew
};

// How the counts and the picture move when a check that began with allm/oldm returns result
// (the STAT count, or -1 after a failure).
CheckOutcome ApplyCheckResult(int32_t allm, int32_t oldm, int32_t result);

// A left click: everything counts as old. Returns the picture to show.
int AcknowledgeMail(int32_t *allm, int32_t *oldm);

// "新着 %d 件/全 %d 件", or "エラーが起きました" when allm is -1, into out (size bytes).
void FormatTooltip(char *out, size_t size, int32_t allm, int32_t oldm);

// What a double click on the icon does.
enum class DoubleClick { Nothing, Check, StartMailer };
DoubleClick DoubleClickAction(int32_t dchk, int32_t dmal, const char *exec);
