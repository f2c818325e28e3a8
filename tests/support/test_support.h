// Helpers shared by the tests: the logged lines, the account under test, the real peers' places.
#pragma once

#include <string>
#include <vector>

// Every stored log line, oldest first, without its 20-character time stamp.
std::vector<std::string> LoggedLines();

// Empties the log and points Settings at an account (all else at its defaults).
void UseAccount(const std::string &host, int port, const std::string &user, const std::string &password,
                bool apop = false);

// An environment variable, or fallback when it is not set.
std::string Environment(const char *name, const std::string &fallback = "");

// The Dovecot fixture: its port, and a user's Maildir whose message count a test can set.
int DovecotPort();
void SetMailboxCount(const std::string &user, int count);
