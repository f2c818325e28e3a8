// Context-help popups: the HTML Help control's text popup, or our own where the control shows none.
#pragma once

#include <windows.h>

// The window class of our own popup.
constexpr wchar_t kHelpPopupClass[] = L"PollwickHelpPopup";

// Shows text ("\r" breaks its lines) in a popup whose top centre is at point, in screen
// coordinates. The control's own popup comes first; where the control cannot be bound or shows
// nothing (it returns no window, as Wine's does), ours shows the same text at the same place. Ours
// goes away on a click, a key, or when it loses the focus.
void ShowHelpPopup(HWND caller, const char *text, POINT point);
