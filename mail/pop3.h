// One POP3 session: log in, ask STAT for the message count, quit.
#pragma once

#include <cstddef>

// Runs one session with the server, account and login method in Settings. Returns the message
// count, or -1 after a failure that has been written to the activity log.
int CheckMail();

// The message count of a STAT reply ("+OK 3 4096"): the second space-separated token read as a
// decimal number. -1 when there is no count, or it is negative or does not fit 31 bits.
int ParseStatCount(const char *reply);
