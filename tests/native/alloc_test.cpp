// A check, an appended log line and a digest allocate nothing on the heap of the calling thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#include "mail/md5.h"
#include "mail/pop3.h"
#include "shell/log.h"
#include "tests/support/fault_server.h"
#include "tests/support/test_support.h"

// The sanitizer runtime calls these hooks on every allocation, whoever makes it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void *, size_t),
                                                         void (*onFree)(const volatile void *));

namespace {

thread_local bool counting = false;
std::atomic<int> allocations{0};

void OnMalloc(const volatile void *, size_t)
{
    if (counting)
        allocations++;
}
void OnFree(const volatile void *) {}

int CountAllocations(void (*work)())
{
    static bool installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    EXPECT_TRUE(installed);
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

TEST(Allocations, TheCounterSeesAnAllocation)
{
    EXPECT_GE(CountAllocations([] { delete new volatile int(1); }), 1);
}

TEST(Allocations, NoneInAppendLogOrApopDigest)
{
    InitLogRing();
    AppendLog("[system] ", "warm-up\r\n");  // the C library reads the time zone once
    EXPECT_EQ(CountAllocations([] {
                  for (int i = 0; i < 200; i++)
                      AppendLog("[recv] ", "+OK 3 4096\r\n");
              }),
              0);
    EXPECT_EQ(CountAllocations([] {
                  char digest[33];
                  ApopDigest(digest, "<1896.697170952@dbc.mtview.ca.us>tanstaaf");
              }),
              0);
}

TEST(Allocations, NoneInAWholeCheck)
{
    for (bool apop : {false, true}) {
        // The first check warms up the resolver's own buffers, which it keeps for the process.
        for (int round = 0; round < 2; round++) {
            FaultServer server(Pop3Session("+OK <1.2@host>\r\n", "+OK 3 300\r\n", apop));
            UseAccount("127.0.0.1", server.Port(), "u", "p", apop);
            static int result;
            int counted = CountAllocations([] { result = CheckMail(); });
            EXPECT_EQ(result, 3);
            if (round == 1)
                EXPECT_EQ(counted, 0) << (apop ? "APOP" : "USER/PASS");
        }
    }
}

}  // namespace
