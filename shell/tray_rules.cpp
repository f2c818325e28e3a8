// The tray's decisions, free of platform calls.
#include "shell/tray_rules.h"

#include "base/text.h"

int CountOffset(int32_t allm, int32_t oldm)
{
    if (allm == 0)
        return 0;
    if (oldm == 0)
        return 1;
    return allm > oldm ? 2 : 3;
}

CheckOutcome ApplyCheckResult(int32_t allm, int32_t oldm, int32_t result)
{
    if (result == -1)
        return {0, 0, IDI_CHECK_FAILED, false};  // every message counts as new after the next success
    if (result == 0)
        return {0, 0, IDI_NO_MAIL, false};
    if (oldm == 0 || result > oldm)
        return {result, oldm, oldm == 0 ? IDI_NEW_MAIL : IDI_NEW_AND_OLD_MAIL, allm < result};
    // Messages were removed from the server: what is left was all seen.
    return {result, result, IDI_OLD_MAIL, false};
}

int AcknowledgeMail(int32_t *allm, int32_t *oldm)
{
    *oldm = *allm;
    return *allm == 0 ? IDI_NO_MAIL : IDI_OLD_MAIL;
}

void FormatTooltip(char *out, size_t size, int32_t allm, int32_t oldm)
{
    if (allm == -1)
        CopyText(out, size, "エラーが起きました");
    else
        // Counts from the registry may be anything: the difference wraps in 32 bits, as it always
        // did on this platform, instead of overflowing.
        FormatText(out, size, "新着 %d 件/全 %d 件",
                   static_cast<int32_t>(static_cast<uint32_t>(allm) - static_cast<uint32_t>(oldm)), allm);
}

DoubleClick DoubleClickAction(int32_t dchk, int32_t dmal, const char *exec)
{
    if (dchk != 0)
        return DoubleClick::Check;
    if (dmal != 0 && exec[0] != '\0')
        return DoubleClick::StartMailer;
    return DoubleClick::Nothing;
}
