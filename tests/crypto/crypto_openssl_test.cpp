// The hash and cipher checked against OpenSSL on many random inputs.
//
// The low-level SHA256_Transform is the only OpenSSL entry that continues a compression from a
// chosen state, which the chained hash and the session key need; it is deprecated in OpenSSL 3.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "crypto/aes_reversed.h"
#include "crypto/rijndael.h"
#include "crypto/sha256.h"
#include "test_hex.h"

namespace kvx {
namespace {

using test::Reversed;
using test::ReverseGroupsOfFour;
using test::ToHex;

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSeed = 0x6b7678;

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<std::uint8_t>(rng());
    }
    return b;
}

// The standard one-block padding of message, as bytes.
std::array<std::uint8_t, 64> PaddedBlock(const Bytes& message) {
    std::array<std::uint8_t, 64> block{};
    std::copy(message.begin(), message.end(), block.begin());
    block[message.size()] = 0x80;
    const std::uint64_t bits = message.size() * 8u;
    for (int i = 0; i < 8; ++i) {
        block[63 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    return block;
}

// The padded 16-byte message C' (c with each group of four bytes reversed).
std::array<std::uint8_t, 64> ChainedMessageBlock(const Bytes& c) {
    return PaddedBlock(ReverseGroupsOfFour(c));
}

Bytes StateLe(const SHA256_CTX& ctx) {
    Bytes out;
    for (std::uint32_t h : ctx.h) {
        for (int b = 0; b < 4; ++b) {
            out.push_back(static_cast<std::uint8_t>(h >> (8 * b)));
        }
    }
    return out;
}

Bytes OurHash(const Bytes& secret, const Bytes* challenge, bool chained) {
    Bytes digest(kDigestSize);
    EXPECT_TRUE(
        HashSecret(secret, digest.data(), challenge ? challenge->data() : nullptr, chained));
    return digest;
}

TEST(CryptoOpensslTest, UnchainedHashIsSha256WithWordsReversed) {
    std::mt19937 rng(kSeed);
    for (std::size_t length = 0; length <= kMaxHashSecretLength; ++length) {
        for (int n = 0; n < 20; ++n) {
            const Bytes secret = RandomBytes(rng, length);
            Bytes reference(SHA256_DIGEST_LENGTH);
            SHA256(secret.data(), secret.size(), reference.data());
            ASSERT_EQ(ToHex(OurHash(secret, nullptr, false)), ToHex(ReverseGroupsOfFour(reference)))
                << "length " << length;
        }
    }
}

TEST(CryptoOpensslTest, ChainedHashContinuesTheCompressionOverTheChallenge) {
    std::mt19937 rng(kSeed + 1);
    for (std::size_t length = 0; length <= kMaxHashSecretLength; ++length) {
        for (int n = 0; n < 20; ++n) {
            const Bytes secret = RandomBytes(rng, length);
            const Bytes challenge = RandomBytes(rng, kChallengeSize);
            SHA256_CTX ctx;
            SHA256_Init(&ctx);
            SHA256_Transform(&ctx, PaddedBlock(secret).data());
            SHA256_Transform(&ctx, ChainedMessageBlock(challenge).data());
            ASSERT_EQ(ToHex(OurHash(secret, &challenge, true)), ToHex(StateLe(ctx)))
                << "length " << length;
        }
    }
}

TEST(CryptoOpensslTest, DeriveSessionKeyIsOneCompressionFromTheConstant) {
    std::mt19937 rng(kSeed + 2);
    for (int n = 0; n < 500; ++n) {
        const Bytes answer = RandomBytes(rng, 16);
        const Bytes constant = RandomBytes(rng, 32);
        SHA256_CTX ctx;
        SHA256_Init(&ctx);
        for (int i = 0; i < 8; ++i) {
            const std::uint8_t* p = constant.data() + 4 * i;
            ctx.h[i] = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                       static_cast<std::uint32_t>(p[2]) << 16 |
                       static_cast<std::uint32_t>(p[3]) << 24;
        }
        SHA256_Transform(&ctx, ChainedMessageBlock(answer).data());
        Bytes out(32);
        DeriveSessionKey(answer.data(), constant.data(), out.data());
        ASSERT_EQ(ToHex(out), ToHex(StateLe(ctx)));
    }
}

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// One ECB block through OpenSSL; encrypt selects the direction.
Bytes OpensslEcb(const EVP_CIPHER* type, const Bytes& key, const Bytes& in, bool encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter> ctx(EVP_CIPHER_CTX_new());
    EXPECT_TRUE(ctx);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), type, nullptr, key.data(), nullptr, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    Bytes out(in.size() + 16);
    int len = 0;
    int tail = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), static_cast<int>(in.size())),
              1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), out.data() + len, &tail), 1);
    out.resize(static_cast<std::size_t>(len + tail));
    return out;
}

TEST(CryptoOpensslTest, AesBlockReversedIsReversedAes128Ecb) {
    std::mt19937 rng(kSeed + 3);
    for (int n = 0; n < 1000; ++n) {
        const Bytes key = RandomBytes(rng, 16);
        const Bytes plain = RandomBytes(rng, 16);

        Bytes block = plain;
        ASSERT_EQ(AesBlockReversed(key.data(), block.data(), kAesEncrypt), 1);
        const Bytes expected =
            Reversed(OpensslEcb(EVP_aes_128_ecb(), Reversed(key), Reversed(plain), true));
        ASSERT_EQ(ToHex(block), ToHex(expected));

        block = plain;
        ASSERT_EQ(AesBlockReversed(key.data(), block.data(), kAesDecrypt), 1);
        const Bytes expectedPlain =
            Reversed(OpensslEcb(EVP_aes_128_ecb(), Reversed(key), Reversed(plain), false));
        ASSERT_EQ(ToHex(block), ToHex(expectedPlain));
    }
}

TEST(CryptoOpensslTest, RijndaelWithSixteenByteBlocksIsAesForEveryKeyLength) {
    std::mt19937 rng(kSeed + 4);
    const struct {
        int keyLength;
        const EVP_CIPHER* type;
    } kinds[] = {{16, EVP_aes_128_ecb()}, {24, EVP_aes_192_ecb()}, {32, EVP_aes_256_ecb()}};
    for (const auto& kind : kinds) {
        for (int n = 0; n < 300; ++n) {
            const Bytes key = RandomBytes(rng, static_cast<std::size_t>(kind.keyLength));
            const Bytes in = RandomBytes(rng, 16);
            CRijndael cipher;
            ASSERT_TRUE(cipher.SetKey(key.data(), nullptr, kind.keyLength, 16));
            Bytes out(16);
            ASSERT_TRUE(cipher.EncryptOneBlock(in.data(), out.data()));
            ASSERT_EQ(ToHex(out), ToHex(OpensslEcb(kind.type, key, in, true)));
            ASSERT_TRUE(cipher.DecryptOneBlock(in.data(), out.data()));
            ASSERT_EQ(ToHex(out), ToHex(OpensslEcb(kind.type, key, in, false)));
        }
    }
}

}  // namespace
}  // namespace kvx
