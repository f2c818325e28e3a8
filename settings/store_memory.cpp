// The settings store in memory: the native build's stand-in for the registry key.
#include "settings/store_memory.h"

#include <cstring>

#include "base/text.h"

MemoryStoreState MemoryStore;

namespace {

MemoryValue *FindValue(const char *name)
{
    for (int i = 0; i < MemoryStore.count; i++)
        if (strcmp(MemoryStore.values[i].name, name) == 0)
            return &MemoryStore.values[i];
    return nullptr;
}

}  // namespace

bool StoreOpenForRead() { return MemoryStore.keyExists; }

long StoreRead(const char *name, void *data, uint32_t size)
{
    const MemoryValue *value = FindValue(name);
    if (value == nullptr || value->size > size)
        return -1;
    memcpy(data, value->data, value->size);
    return static_cast<long>(value->size);
}

long StoreOpenForWrite()
{
    if (MemoryStore.createStatus != 0)
        return MemoryStore.createStatus;
    MemoryStore.keyExists = true;
    return 0;
}

void StoreWrite(const char *name, StoreType type, const void *data, uint32_t size)
{
    MemoryValue *value = FindValue(name);
    if (value == nullptr) {
        if (MemoryStore.count == 32 || size > sizeof value->data)
            return;
        value = &MemoryStore.values[MemoryStore.count++];
        CopyText(value->name, sizeof value->name, name);
    }
    value->type = type;
    value->size = size < sizeof value->data ? size : sizeof value->data;
    memcpy(value->data, data, value->size);
}

void StoreClose() {}

void ReportStoreFailure(const char *text) { CopyText(MemoryStore.shownText, sizeof MemoryStore.shownText, text); }

// The native build's stand-in for the platform's protection: reversible by anyone, it only lets
// the tests follow what is written where. "MEM1", then the text's bytes, each inverted.
uint32_t StoreProtect(const char *text, uint8_t *out, uint32_t capacity)
{
    uint32_t length = static_cast<uint32_t>(strlen(text));
    if (length + 4 > capacity)
        return 0;
    memcpy(out, "MEM1", 4);
    for (uint32_t i = 0; i < length; i++)
        out[4 + i] = static_cast<uint8_t>(~text[i]);
    return length + 4;
}

bool StoreUnprotect(const uint8_t *data, uint32_t length, char *text, uint32_t size)
{
    if (length < 4 || memcmp(data, "MEM1", 4) != 0 || length - 4 >= size)
        return false;
    for (uint32_t i = 4; i < length; i++)
        text[i - 4] = static_cast<char>(~data[i]);
    text[length - 4] = '\0';
    return true;
}
