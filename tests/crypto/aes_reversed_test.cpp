#include "crypto/aes_reversed.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "test_hex.h"

namespace kvx {
namespace {

using test::FromHex;
using test::Reversed;
using test::ToHex;

using Block = std::array<std::uint8_t, 16>;

Block ToBlock(const std::vector<std::uint8_t>& bytes) {
    Block b{};
    std::copy(bytes.begin(), bytes.end(), b.begin());
    return b;
}

struct AesCase {
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS-197 AES-128 examples (Appendix C.1 and Appendix B), given to the function with key,
// plaintext and ciphertext each in reversed byte order.
const AesCase kFipsCases[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
};

TEST(AesBlockReversedTest, ReversedFipsExamplesEncrypt) {
    for (const AesCase& c : kFipsCases) {
        const Block key = ToBlock(Reversed(FromHex(c.key)));
        Block block = ToBlock(Reversed(FromHex(c.plain)));
        EXPECT_EQ(AesBlockReversed(key.data(), block.data(), kAesEncrypt), 1);
        EXPECT_EQ(ToHex(block.data(), block.size()), ToHex(Reversed(FromHex(c.cipher))));
    }
}

TEST(AesBlockReversedTest, ReversedFipsExamplesDecrypt) {
    for (const AesCase& c : kFipsCases) {
        const Block key = ToBlock(Reversed(FromHex(c.key)));
        Block block = ToBlock(Reversed(FromHex(c.cipher)));
        EXPECT_EQ(AesBlockReversed(key.data(), block.data(), kAesDecrypt), 1);
        EXPECT_EQ(ToHex(block.data(), block.size()), ToHex(Reversed(FromHex(c.plain))));
    }
}

TEST(AesBlockReversedTest, PlainOrderIsNotTheStandardCipher) {
    // Without the reversal the FIPS example does not come out: the byte order matters.
    const AesCase& c = kFipsCases[0];
    const Block key = ToBlock(FromHex(c.key));
    Block block = ToBlock(FromHex(c.plain));
    ASSERT_EQ(AesBlockReversed(key.data(), block.data(), kAesEncrypt), 1);
    EXPECT_NE(ToHex(block.data(), block.size()), c.cipher);
}

TEST(AesBlockReversedTest, EncryptThenDecryptRestoresTheBlock) {
    std::mt19937 rng(1197);
    for (int n = 0; n < 200; ++n) {
        Block key, original;
        for (int i = 0; i < 16; ++i) {
            key[i] = static_cast<std::uint8_t>(rng());
            original[i] = static_cast<std::uint8_t>(rng());
        }
        const Block keyCopy = key;
        Block block = original;
        ASSERT_EQ(AesBlockReversed(key.data(), block.data(), kAesEncrypt), 1);
        EXPECT_NE(block, original);
        ASSERT_EQ(AesBlockReversed(key.data(), block.data(), kAesDecrypt), 1);
        EXPECT_EQ(block, original);
        EXPECT_EQ(key, keyCopy) << "the key is read only";
    }
}

TEST(AesBlockReversedTest, UnknownModeOrNullBufferLeavesBlockAlone) {
    const Block key{};
    const Block original = ToBlock(FromHex("00112233445566778899aabbccddeeff"));
    for (int mode : {-1, 2, 255}) {
        Block block = original;
        EXPECT_EQ(AesBlockReversed(key.data(), block.data(), mode), 0) << "mode " << mode;
        EXPECT_EQ(block, original);
    }
    Block block = original;
    EXPECT_EQ(AesBlockReversed(nullptr, block.data(), kAesEncrypt), 0);
    EXPECT_EQ(block, original);
    EXPECT_EQ(AesBlockReversed(key.data(), nullptr, kAesDecrypt), 0);
}

}  // namespace
}  // namespace kvx
