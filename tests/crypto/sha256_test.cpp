#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "test_hex.h"

namespace kvx {
namespace {

using test::Bytes;
using test::FromHex;
using test::ReverseGroupsOfFour;
using test::ToHex;

using Digest = std::array<std::uint8_t, kDigestSize>;

std::string HashHex(const std::vector<std::uint8_t>& secret, const std::uint8_t* challenge,
                    bool chained) {
    Digest digest{};
    EXPECT_TRUE(HashSecret(secret, digest.data(), challenge, chained));
    return ToHex(digest.data(), digest.size());
}

std::vector<std::uint8_t> Counting16() {
    std::vector<std::uint8_t> c(16);
    for (int i = 0; i < 16; ++i) {
        c[i] = static_cast<std::uint8_t>(i);
    }
    return c;
}

std::vector<std::uint8_t> Descending16() {
    std::vector<std::uint8_t> c(16);
    for (int i = 0; i < 16; ++i) {
        c[i] = static_cast<std::uint8_t>(0xf0 - 0x0f * i);
    }
    return c;
}

// Standard SHA-256 digests (FIPS 180-2 examples and sha256sum) of one-block messages.
struct StandardCase {
    const char* name;
    std::vector<std::uint8_t> message;
    const char* standardDigest;
};

void PrintTo(const StandardCase& c, std::ostream* os) {
    *os << c.name;
}

class Sha256StandardTest : public ::testing::TestWithParam<StandardCase> {};

TEST_P(Sha256StandardTest, UnchainedDigestIsStandardDigestWithWordsLeastSignificantByteFirst) {
    const StandardCase& c = GetParam();
    const std::vector<std::uint8_t> expected = ReverseGroupsOfFour(FromHex(c.standardDigest));
    EXPECT_EQ(HashHex(c.message, nullptr, false), ToHex(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Sha256StandardTest,
    ::testing::Values(
        StandardCase{
            "Empty", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        StandardCase{"Abc", Bytes("abc"),
                     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        StandardCase{"FiftyFiveBytes",
                     Bytes("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ012"),
                     "d74ba075e4259c6c807c4101e66d281096cf9ff14ba01260dee741b1bdaef326"},
        // A zero byte inside the secret is data, not an end marker.
        StandardCase{"InnerZero",
                     {'a', 0, 'b'},
                     "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(Sha256Test, AbcGivesTheWorkedDigestBytes) {
    EXPECT_EQ(HashHex(Bytes("abc"), nullptr, false),
              "bf1678baeacf018fde4041412322ae5da36103b09c7a179661ff10b4ad1500f2");
}

TEST(Sha256Test, CompressionFromInitialValueGivesStandardWords) {
    std::uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::uint32_t block[16];
    ASSERT_TRUE(BuildHashBlock(Bytes("abc"), block));
    Sha256Compress(state, block);
    const std::uint32_t expected[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                       0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state[i], expected[i]) << "word " << i;
    }
}

TEST(Sha256Test, HashBlockPacking) {
    struct Case {
        std::vector<std::uint8_t> secret;
        std::array<std::uint32_t, 16> words;
    };
    const std::vector<std::uint8_t> s55 =
        Bytes("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ012");
    const Case cases[] = {
        {{}, {0x80000000}},
        {Bytes("abc"), {0x61626380, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 24}},
        {Bytes("abcd"), {0x61626364, 0x80000000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32}},
        // Bytes are unsigned: no sign extension into the neighbours.
        {{0xff, 0x80}, {0xff808000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16}},
        {s55,
         {0x61626364, 0x65666768, 0x696a6b6c, 0x6d6e6f70, 0x71727374, 0x75767778, 0x797a4142,
          0x43444546, 0x4748494a, 0x4b4c4d4e, 0x4f505152, 0x53545556, 0x5758595a, 0x30313280, 0,
          440}},
    };
    for (const Case& c : cases) {
        std::uint32_t block[16];
        for (auto& w : block) {
            w = 0xdeadbeef;
        }
        ASSERT_TRUE(BuildHashBlock(c.secret, block));
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(block[i], c.words[i]) << "length " << c.secret.size() << " word " << i;
        }
    }
}

TEST(Sha256Test, SecretLongerThanOneBlockIsRefused) {
    for (std::size_t length : {56u, 57u, 64u, 200u}) {
        const std::vector<std::uint8_t> secret(length, 'x');
        std::uint32_t block[16];
        for (auto& w : block) {
            w = 0xdeadbeef;
        }
        EXPECT_FALSE(BuildHashBlock(secret, block));
        for (std::uint32_t w : block) {
            EXPECT_EQ(w, 0u);
        }
        Digest digest;
        digest.fill(0xaa);
        const std::vector<std::uint8_t> challenge = Counting16();
        EXPECT_FALSE(HashSecret(secret, digest.data(), challenge.data(), true));
        EXPECT_EQ(digest, Digest{}) << "length " << length;
    }
}

// Chained digests: the second compression computed with OpenSSL's SHA256_Transform from the state
// after the padded secret.
struct ChainedCase {
    const char* name;
    std::vector<std::uint8_t> secret;
    std::vector<std::uint8_t> challenge;
    const char* digest;
};

void PrintTo(const ChainedCase& c, std::ostream* os) {
    *os << c.name;
}

class Sha256ChainedTest : public ::testing::TestWithParam<ChainedCase> {};

TEST_P(Sha256ChainedTest, MatchesIndependentCompression) {
    const ChainedCase& c = GetParam();
    EXPECT_EQ(HashHex(c.secret, c.challenge.data(), true), c.digest);
}

INSTANTIATE_TEST_SUITE_P(
    Challenges, Sha256ChainedTest,
    ::testing::Values(
        ChainedCase{"Abc", Bytes("abc"), Counting16(),
                    "cab9db6f653bd4d6de0b5533f7521beba3db7be066f026b3dc2c8273de9cc74d"},
        ChainedCase{"Empty",
                    {},
                    Counting16(),
                    "97bc17b1c345a18977d9e896e85a86e1c32a2a70471fe65fa49fa9a55b0fed38"},
        ChainedCase{"Password", Bytes("Secret12"), Descending16(),
                    "28090efafc3151cd6b57261b67a3d3005af4081ee57b42759c5f17cb7fb7980d"},
        ChainedCase{"Identifier", Bytes("0123456789ABCDEFGHIJ"), Descending16(),
                    "ae1362889d19d6180a4d6ce3c7747f38c98ab19ed59c8401ee3a881ea039255c"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(Sha256Test, ChainingDependsOnChallengeAndItsByteOrder) {
    const std::vector<std::uint8_t> secret = Bytes("Secret12");
    const std::vector<std::uint8_t> challenge = Descending16();
    const std::vector<std::uint8_t> swapped = ReverseGroupsOfFour(challenge);
    const std::string plain = HashHex(secret, nullptr, false);
    const std::string chained = HashHex(secret, challenge.data(), true);
    EXPECT_NE(chained, plain);
    EXPECT_NE(HashHex(secret, swapped.data(), true), chained);
}

TEST(Sha256Test, UnchainedHashIgnoresChallenge) {
    const std::vector<std::uint8_t> secret = Bytes("Secret12");
    const std::vector<std::uint8_t> a = Counting16();
    const std::vector<std::uint8_t> b = Descending16();
    const std::string none = HashHex(secret, nullptr, false);
    EXPECT_EQ(HashHex(secret, a.data(), false), none);
    EXPECT_EQ(HashHex(secret, b.data(), false), none);
}

TEST(Sha256Test, ChainedWithoutChallengeIsRefused) {
    Digest digest;
    digest.fill(0xaa);
    EXPECT_FALSE(HashSecret(Bytes("abc"), digest.data(), nullptr, true));
    EXPECT_EQ(digest, Digest{});

    std::uint32_t block[16];
    ASSERT_TRUE(BuildHashBlock(Bytes("abc"), block));
    digest.fill(0xaa);
    EXPECT_FALSE(Sha256Core(block, digest.data(), nullptr, true));
    EXPECT_EQ(digest, Digest{});
}

TEST(Sha256Test, ChainedBlockLayout) {
    const std::vector<std::uint8_t> c = Counting16();
    std::uint32_t block[16];
    for (auto& w : block) {
        w = 0xdeadbeef;
    }
    BuildChainedBlock(c.data(), block);
    const std::uint32_t expected[16] = {
        0x03020100, 0x07060504, 0x0b0a0908, 0x0f0e0d0c, 0x80000000, 0, 0, 0,
        0,          0,          0,          0,          0,          0, 0, 128};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(block[i], expected[i]) << "word " << i;
    }
}

// Session keys: one compression from the constant, computed with OpenSSL's SHA256_Transform.
TEST(Sha256Test, DeriveSessionKeyMatchesIndependentCompression) {
    std::uint8_t constant[32];
    for (int i = 0; i < 32; ++i) {
        constant[i] = static_cast<std::uint8_t>(0x20 + i);
    }
    const struct {
        std::vector<std::uint8_t> answer;
        const char* key;
    } cases[] = {
        {Counting16(), "700e2141d5deee8e250db21ff40f304e4307fac00a6a0b7f93b8b67aea659f97"},
        {Descending16(), "66229e8855dc591ce481b093545615d2110f001c0eee312c587a887c3c4281e0"},
    };
    for (const auto& c : cases) {
        std::uint8_t out[32];
        DeriveSessionKey(c.answer.data(), constant, out);
        EXPECT_EQ(ToHex(out, sizeof out), c.key);
    }
}

TEST(SecureWipeTest, ClearsExactlyTheGivenBytes) {
    std::uint8_t buffer[12];
    for (auto& b : buffer) {
        b = 0x5a;
    }
    SecureWipe(buffer + 2, 8);
    EXPECT_EQ(ToHex(buffer, sizeof buffer), "5a5a00000000000000005a5a");
    SecureWipe(buffer, 0);
    EXPECT_EQ(buffer[0], 0x5a);
}

}  // namespace
}  // namespace kvx
