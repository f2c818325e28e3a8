// The native build's settings store: the values in memory, in place of the registry key.
#pragma once

#include <cstdint>

#include "settings/store.h"

struct MemoryValue {
    char name[8];
    StoreType type;
    uint8_t data[512];
    uint32_t size;
};

struct MemoryStoreState {
    bool keyExists;
    long createStatus;  // what creating the key answers: 0, or the status of a key the user may not write
    char shownText[80];  // what the user was last told, where Windows shows a message box
    int count;
    MemoryValue values[32];
};

extern MemoryStoreState MemoryStore;
