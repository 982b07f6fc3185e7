// The firmware's stored form of the block region against OpenSSL's AES-128, and against the
// library's reader: each 16-byte piece reversed, enciphered under the key as it is, reversed back.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "security/data_block.h"
#include "sim/bridge/block_region.h"

namespace kvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes OpensslStoredForm(const Bytes& plain, const std::array<std::uint8_t, 16>& key) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                         EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    Bytes out(plain.size());
    for (std::size_t at = 0; at < plain.size(); at += 16) {
        std::uint8_t in[16];
        std::reverse_copy(plain.begin() + static_cast<std::ptrdiff_t>(at),
                          plain.begin() + static_cast<std::ptrdiff_t>(at + 16), in);
        std::uint8_t enc[16];
        int n = 0;
        EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), enc, &n, in, 16), 1);
        EXPECT_EQ(n, 16);
        std::reverse_copy(enc, enc + 16, out.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return out;
}

TEST(BlockRegionOpenssl, StoredFormIsReversedPieceAes128) {
    std::mt19937 rng(0x5eed);
    for (int round = 0; round < 20; ++round) {
        std::array<std::uint8_t, 16> key{};
        for (auto& b : key) {
            b = static_cast<std::uint8_t>(rng());
        }
        Bytes plain(round % 2 == 0 ? 3072 : 5120);
        for (auto& b : plain) {
            b = static_cast<std::uint8_t>(rng());
        }
        Bytes firmware = plain;
        sim::EncipherRegion(firmware, key);
        EXPECT_EQ(firmware, OpensslStoredForm(plain, key));
        // The library reads what the firmware stored.
        Bytes library = firmware;
        ProtectRegion(library, key, 1);
        EXPECT_EQ(library, plain);
        sim::DecipherRegion(firmware, key);
        EXPECT_EQ(firmware, plain);
    }
}

}  // namespace
}  // namespace kvx::test
