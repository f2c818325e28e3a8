// An in-memory settings store for the native build, where there is no registry.
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
    long failStatus;        // returned by StoreOpenForWrite when nonzero
    char lastReport[80];    // what the user was last told
    int count;
    MemoryValue values[32];
};

extern MemoryStoreState MemoryStore;

void ClearMemoryStore();
const MemoryValue *FindMemoryValue(const char *name);
// Puts a value into the store as another program could have written it.
void PutMemoryValue(const char *name, StoreType type, const void *data, uint32_t size);
