#include "crypto/rijndael.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "test_hex.h"

namespace kvx {
namespace {

using test::FromHex;
using test::ToHex;

struct KnownAnswer {
    const char* name;
    const char* key;
    const char* plain;
    const char* cipher;
    int rounds;
};

// FIPS-197 Appendix B and C.1 to C.3 (AES), and the published Rijndael vectors for 24- and
// 32-byte blocks (key 2b7e1516..., plaintext 3243f6a8...).
const KnownAnswer kKnownAnswers[] = {
    {"FipsAppendixB", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32", 10},
    {"FipsC1Aes128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
    {"FipsC2Aes192", "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
    {"FipsC3Aes256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089", 14},
    {"Block24Key16", "2b7e151628aed2a6abf7158809cf4f3c",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d",
     "b24d275489e82bb8f7375e0d5fcdb1f481757c538b65148a", 12},
    {"Block24Key24", "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da5",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d",
     "725ae43b5f3161de806a7c93e0bca93c967ec1ae1b71e1cf", 12},
    {"Block24Key32", "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d",
     "0ebacf199e3315c2e34b24fcc7c46ef4388aa475d66c194c", 14},
    {"Block32Key16", "2b7e151628aed2a6abf7158809cf4f3c",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8",
     "7d15479076b69a46ffb3b3beae97ad8313f622f67fedb487de9f06b9ed9c8f19", 14},
    {"Block32Key24", "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da5",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8",
     "5d7101727bb25781bf6715b0e6955282b9610e23a43c2eb062699f0ebf5887b2", 14},
    {"Block32Key32", "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8",
     "a49406115dfb30a40418aafa4869b7c6a886ff31602a7dd19c889dc64f7e4e7a", 14},
};

void PrintTo(const KnownAnswer& v, std::ostream* os) {
    *os << v.name;
}

class RijndaelKnownAnswerTest : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(RijndaelKnownAnswerTest, EncryptsAndDecrypts) {
    const KnownAnswer& v = GetParam();
    const std::vector<std::uint8_t> key = FromHex(v.key);
    const std::vector<std::uint8_t> plain = FromHex(v.plain);
    CRijndael cipher;
    ASSERT_TRUE(cipher.SetKey(key.data(), nullptr, static_cast<int>(key.size()),
                              static_cast<int>(plain.size())));
    EXPECT_EQ(cipher.Rounds(), v.rounds);
    EXPECT_EQ(cipher.BlockLength(), static_cast<int>(plain.size()));

    std::vector<std::uint8_t> out(plain.size());
    ASSERT_TRUE(cipher.EncryptOneBlock(plain.data(), out.data()));
    EXPECT_EQ(ToHex(out), v.cipher);

    const std::vector<std::uint8_t> encrypted = FromHex(v.cipher);
    ASSERT_TRUE(cipher.DecryptOneBlock(encrypted.data(), out.data()));
    EXPECT_EQ(ToHex(out), v.plain);
    EXPECT_EQ(cipher.LastError(), nullptr);
}

TEST_P(RijndaelKnownAnswerTest, WorksInPlace) {
    const KnownAnswer& v = GetParam();
    const std::vector<std::uint8_t> key = FromHex(v.key);
    std::vector<std::uint8_t> block = FromHex(v.plain);
    CRijndael cipher;
    ASSERT_TRUE(cipher.SetKey(key.data(), nullptr, static_cast<int>(key.size()),
                              static_cast<int>(block.size())));
    ASSERT_TRUE(cipher.EncryptOneBlock(block.data(), block.data()));
    EXPECT_EQ(ToHex(block), v.cipher);
    ASSERT_TRUE(cipher.DecryptOneBlock(block.data(), block.data()));
    EXPECT_EQ(ToHex(block), v.plain);
}

INSTANTIATE_TEST_SUITE_P(Vectors, RijndaelKnownAnswerTest, ::testing::ValuesIn(kKnownAnswers),
                         [](const auto& vector) { return std::string(vector.param.name); });

TEST(RijndaelTest, NewKeyReplacesTheOldScheduleWhateverTheLengths) {
    // Each known answer in turn through one object, so every size change is crossed.
    CRijndael cipher;
    for (int pass = 0; pass < 2; ++pass) {
        for (const KnownAnswer& v : kKnownAnswers) {
            const std::vector<std::uint8_t> key = FromHex(v.key);
            const std::vector<std::uint8_t> plain = FromHex(v.plain);
            ASSERT_TRUE(cipher.SetKey(key.data(), nullptr, static_cast<int>(key.size()),
                                      static_cast<int>(plain.size())));
            std::vector<std::uint8_t> out(plain.size());
            ASSERT_TRUE(cipher.EncryptOneBlock(plain.data(), out.data()));
            EXPECT_EQ(ToHex(out), v.cipher) << v.name;
            ASSERT_TRUE(cipher.DecryptOneBlock(out.data(), out.data()));
            EXPECT_EQ(ToHex(out), v.plain) << v.name;
        }
    }
}

TEST(RijndaelTest, RoundTripsEveryKeyAndBlockLength) {
    std::mt19937 rng(20240611);
    for (int keyLength : {16, 24, 32}) {
        for (int blockLength : {16, 24, 32}) {
            for (int n = 0; n < 50; ++n) {
                std::uint8_t key[32], plain[32], cipherText[32], back[32];
                for (int i = 0; i < 32; ++i) {
                    key[i] = static_cast<std::uint8_t>(rng());
                    plain[i] = static_cast<std::uint8_t>(rng());
                }
                CRijndael cipher;
                ASSERT_TRUE(cipher.SetKey(key, nullptr, keyLength, blockLength));
                ASSERT_TRUE(cipher.EncryptOneBlock(plain, cipherText));
                EXPECT_NE(std::memcmp(plain, cipherText, blockLength), 0);
                ASSERT_TRUE(cipher.DecryptOneBlock(cipherText, back));
                ASSERT_EQ(std::memcmp(plain, back, blockLength), 0)
                    << "key " << keyLength << " block " << blockLength;
            }
        }
    }
}

TEST(RijndaelTest, BlockOperationsBeforeSetKeyAreRefused) {
    CRijndael cipher;
    EXPECT_FALSE(cipher.IsKeyInitialized());
    std::uint8_t in[16] = {1, 2, 3};
    std::uint8_t out[16];
    std::memset(out, 0xcc, sizeof out);
    EXPECT_FALSE(cipher.EncryptOneBlock(in, out));
    EXPECT_STREQ(cipher.LastError(), "Object not Initialized");
    EXPECT_FALSE(cipher.DecryptOneBlock(in, out));
    EXPECT_STREQ(cipher.LastError(), "Object not Initialized");
    for (std::uint8_t b : out) {
        EXPECT_EQ(b, 0xcc);
    }
}

TEST(RijndaelTest, UnsupportedLengthsAreRefusedAndDropAnEarlierKey) {
    const std::uint8_t key[64] = {0x2b, 0x7e};
    const struct {
        int keyLength;
        int blockLength;
    } cases[] = {{0, 16}, {8, 16}, {20, 16}, {28, 16}, {64, 16}, {-16, 16},
                 {16, 0}, {16, 8}, {16, 20}, {16, 28}, {16, 64}, {16, -16}};
    for (const auto& c : cases) {
        CRijndael cipher;
        ASSERT_TRUE(cipher.SetKey(key, nullptr, 16, 16));
        EXPECT_FALSE(cipher.SetKey(key, nullptr, c.keyLength, c.blockLength))
            << c.keyLength << "/" << c.blockLength;
        EXPECT_FALSE(cipher.IsKeyInitialized());
        EXPECT_NE(cipher.LastError(), nullptr);
        std::uint8_t block[64] = {};
        EXPECT_FALSE(cipher.EncryptOneBlock(block, block));
        EXPECT_STREQ(cipher.LastError(), "Object not Initialized");
    }
}

TEST(RijndaelTest, NullBuffersAreRefused) {
    CRijndael cipher;
    EXPECT_FALSE(cipher.SetKey(nullptr, nullptr, 16, 16));
    const std::uint8_t key[16] = {};
    ASSERT_TRUE(cipher.SetKey(key, nullptr, 16, 16));
    std::uint8_t block[16] = {};
    EXPECT_FALSE(cipher.EncryptOneBlock(nullptr, block));
    EXPECT_FALSE(cipher.DecryptOneBlock(block, nullptr));
    EXPECT_TRUE(cipher.EncryptOneBlock(block, block));
}

// The schedules are secrets: once the object is gone, no round key may be left in its memory.
TEST(RijndaelTest, DestructionWipesTheKeySchedules) {
    const std::vector<std::uint8_t> key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    // First and last AES-128 round-key words of this key (FIPS-197 Appendix A.1).
    const std::uint32_t firstWord = 0x2b7e1516;
    const std::uint32_t lastWord = 0xb6630ca6;
    auto contains = [](const unsigned char* bytes, std::size_t size, std::uint32_t word) {
        for (std::size_t i = 0; i + sizeof word <= size; i += alignof(std::uint32_t)) {
            std::uint32_t w;
            std::memcpy(&w, bytes + i, sizeof w);
            if (w == word) {
                return true;
            }
        }
        return false;
    };

    alignas(CRijndael) unsigned char storage[sizeof(CRijndael)];
    auto* cipher = new (storage) CRijndael;
    ASSERT_TRUE(cipher->SetKey(key.data(), nullptr, 16, 16));
    ASSERT_TRUE(contains(storage, sizeof storage, firstWord));
    ASSERT_TRUE(contains(storage, sizeof storage, lastWord));
    cipher->~CRijndael();
    EXPECT_FALSE(contains(storage, sizeof storage, firstWord));
    EXPECT_FALSE(contains(storage, sizeof storage, lastWord));
}

}  // namespace
}  // namespace kvx
