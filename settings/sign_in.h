// Starting with Windows: the value that names the program under the user's Run key. Its state is
// that value alone; the program's own key holds nothing of it.
#pragma once

bool StartsAtSignIn();
// Writes the running program's quoted path there, or removes it.
void SetStartAtSignIn(bool on);
// At start: when it is on, it names this program, also after the program has been moved.
void KeepSignInCurrent();
