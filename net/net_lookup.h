// The bookkeeping of name lookups that run on threads of their own, shared by both socket sides:
// a lookup given up on keeps its slot until its thread is done with it. The slot calls are made
// under the side's own lock.
#pragma once

#include <cstddef>
#include <cstdint>

struct Lookup {
    int state;
    bool found;
    uint32_t address;
    char host[256];
};

// A free slot, now running for host (which fits); nullptr while kMaxAbandonedLookups lookups hang.
Lookup *ClaimLookup(const char *host);
// True while the lookup's thread has not answered.
bool LookupRunning(const Lookup *lookup);
// From the lookup's thread: its answer. The slot is free again at once when nobody waits any more.
void FinishLookup(Lookup *lookup, bool found, uint32_t address);
// After the wait: 0 or kNetFailed with *address, and the slot is free; kNetTimedOut while the
// lookup still runs, and the slot is left to its thread.
int CollectLookup(Lookup *lookup, uint32_t *address);

// The socket side's half of NetResolve, for a name that fits Lookup::host: under the side's lock,
// claims a slot, starts the lookup's thread and waits for it at most waitMs.
int ResolveOnThread(const char *host, uint32_t *address, int waitMs);

// The side's half of NetAsciiHost, for a name with characters beyond ASCII.
bool ToIdnForm(const char *host, char *out, size_t size);
