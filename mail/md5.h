// MD5 message digest (RFC 1321) and the APOP response built from it (RFC 1939).
#pragma once

#include <cstdint>

struct Md5Context {
    uint32_t state[4];   // running digest words A, B, C, D
    uint32_t count[2];   // number of input bits, modulo 2^64, low word first
    uint8_t buffer[64];  // input waiting for a whole block
};

void Md5Init(Md5Context *context);
void Md5Update(Md5Context *context, const uint8_t *input, uint32_t length);
// Writes the 16-byte digest and wipes the context (the compiler may not drop the wipe).
void Md5Final(uint8_t digest[16], Md5Context *context);

// Digests the zero-terminated input (the terminator excluded) and writes 32 lower-case
// hexadecimal digits and a terminator into output, which must hold 33 bytes.
void ApopDigest(char *output, const char *input);
