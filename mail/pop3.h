// One POP3 session: log in, ask STAT for the message count, quit.
#pragma once

#include <cstddef>

// Runs one session with the server, account and login method in Settings. Returns the message
// count, or -1 after a failure that has been written to the activity log.
int CheckMail();

// True when the last check failed before the server could answer for itself: its name not found,
// no connection, or the connection lost or silent. The network may simply not be there (yet).
bool LastCheckFailedOnNetwork();

// The message count of a STAT reply ("+OK 3 4096"): the second space-separated token read as a
// decimal number. -1 when there is no count, or it is negative or does not fit 31 bits.
int ParseStatCount(const char *reply);
