// Starting at sign-in: the value that names the program under the user's Run key, and Task
// Manager's mark beside it. The program's own key holds nothing of it.
#pragma once

// On: the Run value is there and Task Manager has not disabled it.
bool StartsAtSignIn();
// Writes the running program's quoted path there and clears a "Disabled" mark, or removes it.
void SetStartAtSignIn(bool on);
// At start: a Run value that names a program which no longer exists (this one, moved, or a copy
// run from a zip and deleted since) names this program instead. One that names another program
// that is there stays its own.
void KeepSignInCurrent();
