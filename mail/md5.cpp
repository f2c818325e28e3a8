// MD5 as RFC 1321 gives it, byte order independent of the host.
#include "mail/md5.h"

#include <cstring>

#include "base/text.h"

namespace {

constexpr uint8_t kPadding[64] = {0x80};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left-rotation amounts, four per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Encode(uint8_t *out, const uint32_t *in, unsigned words)
{
    for (unsigned i = 0; i < words; i++) {
        out[i * 4] = static_cast<uint8_t>(in[i]);
        out[i * 4 + 1] = static_cast<uint8_t>(in[i] >> 8);
        out[i * 4 + 2] = static_cast<uint8_t>(in[i] >> 16);
        out[i * 4 + 3] = static_cast<uint8_t>(in[i] >> 24);
    }
}

// One 64-byte block into the running digest.
void Md5Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<uint32_t>(block[i * 4 + 2]) << 16 | static_cast<uint32_t>(block[i * 4 + 3]) << 24;

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int step = 0; step < 64; step++) {
        int round = step / 16;
        uint32_t f;
        int word;
        switch (round) {
        case 0: f = (b & c) | (~b & d); word = step; break;
        case 1: f = (b & d) | (c & ~d); word = (1 + 5 * step) % 16; break;
        case 2: f = b ^ c ^ d; word = (5 + 3 * step) % 16; break;
        default: f = c ^ (b | ~d); word = (7 * step) % 16; break;
        }
        uint32_t rotated = RotateLeft(a + f + x[word] + kSine[step], kShift[round][step % 4]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    WipeSecret(x, sizeof x);  // the block's words: password bytes for APOP
}

}  // namespace

void Md5Init(Md5Context *context)
{
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void Md5Update(Md5Context *context, const uint8_t *input, uint32_t length)
{
    uint32_t index = (context->count[0] >> 3) & 0x3F;
    uint32_t bits = length << 3;
    context->count[0] += bits;
    if (context->count[0] < bits)
        context->count[1]++;
    context->count[1] += length >> 29;

    uint32_t part = 64 - index;
    uint32_t i = 0;
    if (length >= part) {
        memcpy(&context->buffer[index], input, part);
        Md5Transform(context->state, context->buffer);
        for (i = part; i + 63 < length; i += 64)
            Md5Transform(context->state, &input[i]);
        index = 0;
    }
    if (length > i)
        memcpy(&context->buffer[index], &input[i], length - i);
}

void Md5Final(uint8_t digest[16], Md5Context *context)
{
    uint8_t bits[8];
    Encode(bits, context->count, 2);
    uint32_t index = (context->count[0] >> 3) & 0x3F;
    uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    Md5Update(context, kPadding, padLength);
    Md5Update(context, bits, 8);
    Encode(digest, context->state, 4);
    WipeSecret(context, sizeof *context);
}

void ApopDigest(char *output, const char *input)
{
    static constexpr char kHex[] = "0123456789abcdef";
    Md5Context context;
    uint8_t digest[16];
    Md5Init(&context);
    Md5Update(&context, reinterpret_cast<const uint8_t *>(input), static_cast<uint32_t>(strlen(input)));
    Md5Final(digest, &context);
    for (int i = 0; i < 16; i++) {
        output[i * 2] = kHex[digest[i] >> 4];
        output[i * 2 + 1] = kHex[digest[i] & 0x0F];
    }
    output[32] = '\0';
}
