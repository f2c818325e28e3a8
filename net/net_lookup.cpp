// Name lookups for both socket sides: what comes before a thread, and the slots; nothing here
// touches the platform.
#include "net/net_lookup.h"

#include <cstring>

#include "base/text.h"
#include "net/net.h"

namespace {
enum LookupState { kLookupFree, kLookupRunning, kLookupDone, kLookupAbandoned };
Lookup lookups[kMaxAbandonedLookups];
}  // namespace

Lookup *ClaimLookup(const char *host)
{
    for (Lookup &lookup : lookups)
        if (lookup.state == kLookupFree) {
            memcpy(lookup.host, host, strlen(host) + 1);
            lookup.found = false;
            lookup.state = kLookupRunning;
            return &lookup;
        }
    return nullptr;
}

bool LookupRunning(const Lookup *lookup) { return lookup->state == kLookupRunning; }

void FinishLookup(Lookup *lookup, bool found, uint32_t address)
{
    lookup->found = found;
    lookup->address = address;
    lookup->state = lookup->state == kLookupAbandoned ? kLookupFree : kLookupDone;
}

int CollectLookup(Lookup *lookup, uint32_t *address)
{
    if (lookup->state != kLookupDone) {
        lookup->state = kLookupAbandoned;
        return kNetTimedOut;
    }
    lookup->state = kLookupFree;
    *address = lookup->address;
    return lookup->found ? 0 : kNetFailed;
}

int NetResolve(const char *host, uint32_t *address, int waitMs)
{
    // A dotted address needs no lookup (and a resolver may allocate on every call).
    if (NetParseAddress(host, address))
        return 0;
    if (strlen(host) >= sizeof Lookup::host)
        return kNetFailed;
    return ResolveOnThread(host, address, waitMs);
}

bool NetAsciiHost(const char *host, char *out, size_t size)
{
    for (const char *p = host; *p != '\0'; p++)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return ToIdnForm(host, out, size);
    return CopyText(out, size, host);
}
