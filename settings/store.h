// The persistent store behind the settings record: the registry on Windows, memory elsewhere.
#pragma once

#include <cstdint>

enum class StoreType { Text, Number, Bytes };

// Opens the settings key for reading; false when it does not exist or cannot be read.
bool StoreOpenForRead();

// Reads the named value into data, offering size bytes: a text in the program's code page, other
// values as they are stored. Returns the number of bytes, or kStoreAbsent when the value is absent
// or does not fit, or kStoreForeignText for a text with a character the program's code page lacks
// (data is then left as it was).
long StoreRead(const char *name, void *data, uint32_t size);
constexpr long kStoreAbsent = -1;
constexpr long kStoreForeignText = -2;

// Creates or opens the settings key for writing. Returns 0, or the platform's status code.
long StoreOpenForWrite();

void StoreWrite(const char *name, StoreType type, const void *data, uint32_t size);

void StoreClose();

// Tells the user that the key could not be created for writing ("エラーコード:5").
void ReportStoreFailure(const char *text);

// The password at rest, protected for the current user by the platform (Windows' data
// protection; natively a stand-in that only shows the flow). The protected bytes' length, or 0
// when the text cannot be protected.
uint32_t StoreProtect(const char *text, uint8_t *out, uint32_t capacity);
// The text back into text (size bytes); false when these bytes cannot be read here (another
// user, another machine, damaged) or the text does not fit.
bool StoreUnprotect(const uint8_t *data, uint32_t length, char *text, uint32_t size);
