#include "crypto/sha256.h"

#include "crypto/wipe.h"

namespace kvx {
namespace {

constexpr std::uint32_t kInitialHash[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreLe32(std::uint32_t v, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

void StoreStateLe(const std::uint32_t state[8], std::uint8_t out[32]) {
    for (int i = 0; i < 8; ++i) {
        StoreLe32(state[i], out + 4 * i);
    }
}

}  // namespace

void Sha256Compress(std::uint32_t state[8], const std::uint32_t block[16]) {
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t) {
        w[t] = block[t];
    }
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }

    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
        const std::uint32_t ch = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + ch + kRoundConstants[t] + w[t];
        const std::uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
        const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + maj;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;

    // The schedule is derived from the secret.
    SecureWipe(w, sizeof w);
}

bool BuildHashBlock(std::span<const std::uint8_t> secret, std::uint32_t block[16]) {
    for (int i = 0; i < 16; ++i) {
        block[i] = 0;
    }
    if (secret.size() > kMaxHashSecretLength) {
        return false;
    }
    std::size_t i = 0;
    for (; i < secret.size(); ++i) {
        block[i / 4] |= static_cast<std::uint32_t>(secret[i]) << (24 - 8 * (i % 4));
    }
    block[i / 4] |= 0x80u << (24 - 8 * (i % 4));
    block[15] = static_cast<std::uint32_t>(secret.size() * 8);
    return true;
}

void BuildChainedBlock(const std::uint8_t c[16], std::uint32_t block[16]) {
    for (int i = 0; i < 4; ++i) {
        block[i] = LoadLe32(c + 4 * i);
    }
    block[4] = 0x80000000u;
    for (int i = 5; i < 15; ++i) {
        block[i] = 0;
    }
    block[15] = 128;
}

bool Sha256Core(const std::uint32_t block[16], std::uint8_t digest[32],
                const std::uint8_t* challenge, bool chained) {
    if (chained && challenge == nullptr) {
        for (std::size_t i = 0; i < kDigestSize; ++i) {
            digest[i] = 0;
        }
        return false;
    }
    std::uint32_t state[8];
    for (int i = 0; i < 8; ++i) {
        state[i] = kInitialHash[i];
    }
    Sha256Compress(state, block);
    if (chained) {
        std::uint32_t chainedBlock[16];
        BuildChainedBlock(challenge, chainedBlock);
        Sha256Compress(state, chainedBlock);
    }
    StoreStateLe(state, digest);
    SecureWipe(state, sizeof state);
    return true;
}

bool HashSecret(std::span<const std::uint8_t> secret, std::uint8_t digest[32],
                const std::uint8_t* challenge, bool chained) {
    std::uint32_t block[16];
    bool ok = BuildHashBlock(secret, block);
    if (ok) {
        ok = Sha256Core(block, digest, challenge, chained);
    } else {
        SecureWipe(digest, kDigestSize);
    }
    SecureWipe(block, sizeof block);
    return ok;
}

void DeriveSessionKey(const std::uint8_t answer[16], const std::uint8_t constant[32],
                      std::uint8_t out[32]) {
    std::uint32_t state[8];
    for (int i = 0; i < 8; ++i) {
        state[i] = LoadLe32(constant + 4 * i);
    }
    std::uint32_t block[16];
    BuildChainedBlock(answer, block);
    Sha256Compress(state, block);
    StoreStateLe(state, out);
    SecureWipe(state, sizeof state);
    SecureWipe(block, sizeof block);
}

}  // namespace kvx
