// Checksums, digests and HMAC over byte buffers: the published check values and RFC test vectors, and the
// fast paths (eight bytes per step, chunked reduction) held to a plain bit-by-bit or byte-by-byte reference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/codecs/checksum.h"
#include "tests/io/deflate_inputs.h"

namespace zol::test {
namespace {

using namespace codecs;
using platform::Digest;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string hex(const uint8_t* b, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

uint32_t crc32_bitwise(const Bytes& b) {
    uint32_t c = 0xFFFFFFFF;
    for (uint8_t byte : b) {
        c ^= byte;
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

TEST(Checksum, Crc32) {
    EXPECT_EQ(crc32_sum(bytes_of("123456789").data(), 9), 0xCBF43926u);
    EXPECT_EQ(crc32_sum(nullptr, 0), 0u);
    Bytes data = random_input(1000, 7);
    for (size_t n : {1, 7, 8, 9, 15, 16, 17, 100, 1000}) {
        Bytes part(data.begin(), data.begin() + n);
        EXPECT_EQ(crc32_sum(part.data(), n), crc32_bitwise(part)) << n << " bytes";
    }
    // A running CRC continues over the next bytes.
    uint32_t first = crc32_sum(data.data(), 333);
    EXPECT_EQ(crc32_sum(data.data() + 333, 667, first), crc32_sum(data.data(), 1000));
}

TEST(Checksum, Adler32) {
    EXPECT_EQ(adler32_sum(nullptr, 0), 1u);
    EXPECT_EQ(adler32_sum(bytes_of("Wikipedia").data(), 9), 0x11E60398u);
    // All-ones bytes make the sums grow fastest: the chunked reduction must keep them exact.
    Bytes ones(100000, 0xFF);
    uint64_t a = 1, b = 0;
    for (uint8_t byte : ones) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(adler32_sum(ones.data(), ones.size()), uint32_t(b << 16 | a));
}

TEST(Checksum, InternetChecksum) {
    EXPECT_EQ(tcp_sum(nullptr, 0), 0xFFFFu);
    Bytes one = {0x01};
    EXPECT_EQ(tcp_sum(one.data(), 1), 0xFEFFu);  // an odd byte is the high half of its word
    Bytes rfc1071 = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};  // sums to DDF2
    EXPECT_EQ(tcp_sum(rfc1071.data(), rfc1071.size()), 0x220Du);
    // Carries out of 16 bits go back in, however many there are.
    Bytes ones(200001, 0xFF);
    EXPECT_EQ(tcp_sum(ones.data(), 200000), 0u);
    EXPECT_EQ(tcp_sum(ones.data(), 200001), 0x00FFu);  // ...FFFF + FF00 = 1FEFF, folded FF00
}

TEST(Checksum, Digests) {
    struct Case {
        Digest method;
        std::string input, expected;
    } cases[] = {
        {Digest::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {Digest::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {Digest::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Digest::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Digest::sha384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {Digest::sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        uint8_t out[platform::DIGEST_MAX_SIZE];
        Bytes in = bytes_of(c.input);
        ASSERT_TRUE(digest(c.method, in.data(), in.size(), out));
        EXPECT_EQ(hex(out, platform::digest_size(c.method)), c.expected) << c.input;
    }
}

TEST(Checksum, Hmac) {
    const std::string jefe = "Jefe", question = "what do ya want for nothing?";
    const std::string large_key_text = "Test Using Larger Than Block-Size Key - Hash Key First";
    Bytes counting_64, counting_128;
    for (int i = 1; i <= 128; i++) (i <= 64 ? counting_64 : counting_128).push_back(uint8_t(i));
    counting_128.insert(counting_128.begin(), counting_64.begin(), counting_64.end());
    struct Case {
        const char* what;
        Digest method;
        Bytes key;
        std::string message, expected;
    } cases[] = {
        // RFC 2202
        {"md5 1", Digest::md5, Bytes(16, 0x0B), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"md5 2", Digest::md5, bytes_of(jefe), question, "750c783e6ab0b503eaa86e310a5db738"},
        {"md5 6", Digest::md5, Bytes(80, 0xAA), large_key_text, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {"sha1 1", Digest::sha1, Bytes(20, 0x0B), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"sha1 2", Digest::sha1, bytes_of(jefe), question, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {"sha1 6", Digest::sha1, Bytes(80, 0xAA), large_key_text, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        // RFC 4231
        {"sha256 1", Digest::sha256, Bytes(20, 0x0B), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"sha256 2", Digest::sha256, bytes_of(jefe), question,
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"sha256 6", Digest::sha256, Bytes(131, 0xAA), large_key_text,
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"sha384 1", Digest::sha384, Bytes(20, 0x0B), "Hi There",
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
        {"sha384 6", Digest::sha384, Bytes(131, 0xAA), large_key_text,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {"sha512 2", Digest::sha512, bytes_of(jefe), question,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
        {"sha512 6", Digest::sha512, Bytes(131, 0xAA), large_key_text,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
        // Keys of exactly one block are used as they are (computed with python3's hmac).
        {"sha256, 64-byte key", Digest::sha256, counting_64, "message",
         "2c0cad6f39bb306a50959b431754de20f89dd052f0f9ec9d01bea0a7c65a172d"},
        {"sha512, 128-byte key", Digest::sha512, counting_128, "message",
         "08a35b8c40ec310a7645cfee5ae4979461fee5d2a8310a8043ae2ab3960a782f0fd4284b6d3324d4adc6f9f7fc3573525806bf659ef3db8939f7e7980bcb3d5b"},
        {"sha512, 64-byte key", Digest::sha512, counting_64, "message",
         "d2bd0fca8656e19ae2e9a5099927c54c0db2a09b043576e2eb9dfb373bddd7b4401efc8df6e3f4e1056962944a9e97457beac676fe9324503eb240f4955d40b2"},
    };
    for (const Case& c : cases) {
        uint8_t out[platform::DIGEST_MAX_SIZE];
        Bytes message = bytes_of(c.message);
        ASSERT_TRUE(hmac(c.method, c.key.data(), c.key.size(), message.data(), message.size(), out)) << c.what;
        EXPECT_EQ(hex(out, platform::digest_size(c.method)), c.expected) << c.what;
    }
}

TEST(Checksum, HmacHashesALongKeyFirst) {
    Bytes key(200, 0x5A), message = bytes_of("payload");
    for (Digest method : {Digest::md5, Digest::sha1, Digest::sha256, Digest::sha384, Digest::sha512}) {
        uint8_t hashed[platform::DIGEST_MAX_SIZE], direct[platform::DIGEST_MAX_SIZE], via[platform::DIGEST_MAX_SIZE];
        size_t n = platform::digest_size(method);
        ASSERT_TRUE(digest(method, key.data(), key.size(), hashed));
        ASSERT_TRUE(hmac(method, key.data(), key.size(), message.data(), message.size(), direct));
        ASSERT_TRUE(hmac(method, hashed, n, message.data(), message.size(), via));
        EXPECT_EQ(hex(direct, n), hex(via, n));
    }
}

}  // namespace
}  // namespace zol::test
