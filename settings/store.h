// The persistent store behind the settings record: the registry on Windows, memory elsewhere.
#pragma once

#include <cstdint>

enum class StoreType { Text, Number };

// Opens the settings key for reading; false when it does not exist or cannot be read.
bool StoreOpenForRead();

// Reads the named value into data, offering size bytes. Returns the number of bytes stored, or
// -1 when the value is absent or does not fit (data is then left as it was).
long StoreRead(const char *name, void *data, uint32_t size);

// Creates or opens the settings key for writing. Returns 0, or the platform's status code.
long StoreOpenForWrite();

void StoreWrite(const char *name, StoreType type, const void *data, uint32_t size);

void StoreClose();

// Tells the user that the key could not be created for writing ("エラーコード:5").
void ReportStoreFailure(const char *text);
