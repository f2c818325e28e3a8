// MD5 against RFC 1321's suite, reference digests around the block boundaries up to two blocks
// and a little, and the APOP examples.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mail/md5.h"

namespace {

std::string Digest(const std::string &text)
{
    char out[33];
    ApopDigest(out, text.c_str());
    return out;
}

// Digests of the n-byte inputs whose byte i is (i * 37 + 11) & 0xFF, from an independent MD5
// implementation, for the lengths around the padding and block boundaries.
struct PatternDigest {
    size_t length;
    const char *digest;
};
const PatternDigest kPatternDigests[] = {
    {0, "d41d8cd98f00b204e9800998ecf8427e"},
    {1, "13c8ffd977013703a701cf8e11deac65"},
    {2, "a22664edce89fafc28f264d313c39d51"},
    {3, "876d16c575f9d3d7f51f12fef37237eb"},
    {55, "d872aa0473a24da995ce4ac518ade767"},
    {56, "e23567645846677c205de80f9779081b"},
    {57, "1fe5e4a27e12484d7203d0b60c21c51f"},
    {63, "4775b66278a8fc132ff80923378216cd"},
    {64, "71e123b70c7aa64826fcfe472694cd1c"},
    {65, "5949948f26e35203661075214faa3966"},
    {66, "a98798c0bd6121b8600eb7f3585bd13f"},
    {111, "971d0e793c1b82b4ade7bd998916b4da"},
    {119, "87f72c7241c5fe218bb4df8c0aba3232"},
    {120, "bf240b8b7407fba3805adeec63a03b77"},
    {121, "c51004ed1ef4271c82106468a13fe8cf"},
    {127, "520bdc2dbab7c25d64263ffb242d9e98"},
    {128, "3e93b378458b77da96b2357c3bda8cc2"},
    {129, "d1ae06bbf9128955a34bedb6231eee62"},
    {130, "8a2682a4b1a920cccc7c09422b233d76"},
};

std::string PatternInput(size_t n)
{
    std::string data;
    for (size_t i = 0; i < n; i++)
        data += static_cast<char>((i * 37 + 11) & 0xFF);
    return data;
}

std::string Hex(const uint8_t digest[16])
{
    char out[33];
    for (int i = 0; i < 16; i++)
        snprintf(out + i * 2, 3, "%02x", digest[i]);
    return out;
}

TEST(Md5, Rfc1321Suite)
{
    EXPECT_EQ(Digest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Digest("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Digest("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Digest("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Digest("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Digest("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, BlockBoundariesOneShotAndInPieces)
{
    for (const PatternDigest &expected : kPatternDigests) {
        size_t n = expected.length;
        std::string data = PatternInput(n);
        const auto *bytes = reinterpret_cast<const uint8_t *>(data.data());
        uint8_t digest[16];
        Md5Context context;
        Md5Init(&context);
        Md5Update(&context, bytes, static_cast<uint32_t>(n));
        Md5Final(digest, &context);
        EXPECT_EQ(Hex(digest), expected.digest) << "length " << n;

        // Fed in uneven pieces, the digest must not change.
        Md5Init(&context);
        for (size_t at = 0, piece = 1; at < n; at += piece, piece = piece % 7 + 1)
            Md5Update(&context, bytes + at, static_cast<uint32_t>(std::min(piece, n - at)));
        Md5Final(digest, &context);
        EXPECT_EQ(Hex(digest), expected.digest) << "length " << n << " in pieces";
    }
}

TEST(Md5, FinalWipesTheContext)
{
    Md5Context context;
    uint8_t digest[16];
    Md5Init(&context);
    Md5Update(&context, reinterpret_cast<const uint8_t *>("secret"), 6);
    Md5Final(digest, &context);
    Md5Context zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(memcmp(&context, &zero, sizeof zero), 0);
}

TEST(Apop, RfcExamplesAndHighBytes)
{
    EXPECT_EQ(Digest("<1896.697170952@dbc.mtview.ca.us>tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
    EXPECT_EQ(Digest("<1972.987654321@curl>secret"), "7501b4cdc224d469940e65e7b5e4d6eb");
    // A code page 932 password (two-byte characters with bytes above 0x80) is digested as the
    // unsigned bytes it is.
    EXPECT_EQ(Digest("<1.2@x>\x83\x5c\x83\x74\x83\x67"), "4c05b5ea99495f87f2a1d27c56e3ab31");
    EXPECT_EQ(Digest("\xff\x80"), "8a72eb04e26e12be58f5dee1e5280efd");
}

}  // namespace
