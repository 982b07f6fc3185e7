#include "crypto/rijndael.h"

#include "crypto/wipe.h"

namespace kvx {
namespace {

// The cipher's tables, computed at compile time from their definitions in GF(2^8) with the
// polynomial x^8 + x^4 + x^3 + x + 1: the S-box (multiplicative inverse, then the affine map),
// its inverse, and four round tables per direction, each the previous one rotated by a byte.
struct Tables {
    std::uint8_t sbox[256];
    std::uint8_t invSbox[256];
    std::uint32_t te[4][256];
    std::uint32_t td[4][256];
};

constexpr std::uint8_t XTime(std::uint8_t x) {
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

constexpr std::uint8_t GfMul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    while (b != 0) {
        if (b & 1) {
            r ^= a;
        }
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) {
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr std::uint32_t Word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    return static_cast<std::uint32_t>(b0) << 24 | static_cast<std::uint32_t>(b1) << 16 |
           static_cast<std::uint32_t>(b2) << 8 | b3;
}

constexpr std::uint32_t Rotr32(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

constexpr Tables MakeTables() {
    Tables t{};
    // Powers of the generator 3 give every nonzero element; inverse(3^i) = 3^(255 - i).
    std::uint8_t power[255] = {};
    std::uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        x = static_cast<std::uint8_t>(x ^ XTime(x));
    }
    for (int i = 0; i < 255; ++i) {
        const std::uint8_t element = power[i];
        const std::uint8_t inverse = power[(255 - i) % 255];
        t.sbox[element] =
            static_cast<std::uint8_t>(inverse ^ Rotl8(inverse, 1) ^ Rotl8(inverse, 2) ^
                                      Rotl8(inverse, 3) ^ Rotl8(inverse, 4) ^ 0x63);
    }
    t.sbox[0] = 0x63;
    for (int i = 0; i < 256; ++i) {
        t.invSbox[t.sbox[i]] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t s = t.sbox[i];
        const std::uint8_t si = t.invSbox[i];
        t.te[0][i] = Word(GfMul(s, 2), s, s, GfMul(s, 3));
        t.td[0][i] = Word(GfMul(si, 14), GfMul(si, 9), GfMul(si, 13), GfMul(si, 11));
        for (int k = 1; k < 4; ++k) {
            t.te[k][i] = Rotr32(t.te[0][i], 8 * k);
            t.td[k][i] = Rotr32(t.td[0][i], 8 * k);
        }
    }
    return t;
}

constexpr Tables kTables = MakeTables();

static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xed &&
              kTables.sbox[0xff] == 0x16);
static_assert(kTables.invSbox[0x63] == 0x00 && kTables.invSbox[0x00] == 0x52);
static_assert(kTables.te[0][0] == 0xc66363a5 && kTables.td[0][0] == 0x51f4a750);

constexpr auto& kSbox = kTables.sbox;
constexpr auto& kTd0 = kTables.td[0];
constexpr auto& kTd1 = kTables.td[1];
constexpr auto& kTd2 = kTables.td[2];
constexpr auto& kTd3 = kTables.td[3];

constexpr std::uint8_t B0(std::uint32_t w) {
    return static_cast<std::uint8_t>(w >> 24);
}
constexpr std::uint8_t B1(std::uint32_t w) {
    return static_cast<std::uint8_t>(w >> 16);
}
constexpr std::uint8_t B2(std::uint32_t w) {
    return static_cast<std::uint8_t>(w >> 8);
}
constexpr std::uint8_t B3(std::uint32_t w) {
    return static_cast<std::uint8_t>(w);
}

std::uint32_t LoadBe32(const std::uint8_t* p) {
    return Word(p[0], p[1], p[2], p[3]);
}

void StoreBe32(std::uint32_t v, std::uint8_t* p) {
    p[0] = B0(v);
    p[1] = B1(v);
    p[2] = B2(v);
    p[3] = B3(v);
}

std::uint32_t SubWord(std::uint32_t w) {
    return Word(kSbox[B0(w)], kSbox[B1(w)], kSbox[B2(w)], kSbox[B3(w)]);
}

// InvMixColumns of one column: the decryption tables apply it after the inverse S-box, so the
// S-box is applied first to cancel that.
std::uint32_t InvMixColumn(std::uint32_t w) {
    return kTd0[kSbox[B0(w)]] ^ kTd1[kSbox[B1(w)]] ^ kTd2[kSbox[B2(w)]] ^ kTd3[kSbox[B3(w)]];
}

bool ValidLength(int length) {
    return length == 16 || length == 24 || length == 32;
}

using KeySchedule = std::uint32_t[CRijndael::kMaxRounds + 1][CRijndael::kMaxBlockWords];

// Column i of a round takes row k from state column i + shift[k] when encrypting, i - shift[k]
// when decrypting; the shifts are 1, 2, 3 for blocks of four and six words and 1, 3, 4 for eight.
template <int kNb, bool kInverse, int kRow>
constexpr int Source(int i) {
    constexpr int shift = kRow == 0 ? 0 : kRow == 1 ? 1 : kNb == 8 ? kRow + 1 : kRow;
    return (i + (kInverse ? kNb - shift : shift)) % kNb;
}

// One block of kNb words through all rounds, encrypting or (kInverse) decrypting.
template <int kNb, bool kInverse>
void RunRounds(const KeySchedule& keys, int rounds, const std::uint8_t* in, std::uint8_t* out) {
    const auto& t = kInverse ? kTables.td : kTables.te;
    const auto& box = kInverse ? kTables.invSbox : kTables.sbox;
    std::uint32_t a[kNb], b[kNb];
    for (int i = 0; i < kNb; ++i) {
        a[i] = LoadBe32(in + 4 * i) ^ keys[0][i];
    }
    for (int r = 1; r < rounds; ++r) {
        const std::uint32_t* rk = keys[r];
#pragma GCC unroll 8
        for (int i = 0; i < kNb; ++i) {
            b[i] = t[0][B0(a[Source<kNb, kInverse, 0>(i)])] ^
                   t[1][B1(a[Source<kNb, kInverse, 1>(i)])] ^
                   t[2][B2(a[Source<kNb, kInverse, 2>(i)])] ^
                   t[3][B3(a[Source<kNb, kInverse, 3>(i)])] ^ rk[i];
        }
#pragma GCC unroll 8
        for (int i = 0; i < kNb; ++i) {
            a[i] = b[i];
        }
    }
    const std::uint32_t* rk = keys[rounds];
    for (int i = 0; i < kNb; ++i) {
        b[i] =
            Word(box[B0(a[Source<kNb, kInverse, 0>(i)])], box[B1(a[Source<kNb, kInverse, 1>(i)])],
                 box[B2(a[Source<kNb, kInverse, 2>(i)])], box[B3(a[Source<kNb, kInverse, 3>(i)])]) ^
            rk[i];
    }
    for (int i = 0; i < kNb; ++i) {
        StoreBe32(b[i], out + 4 * i);
    }
    SecureWipe(a, sizeof a);
    SecureWipe(b, sizeof b);
}

template <bool kInverse>
void RunBlock(const KeySchedule& keys, int rounds, int blockLength, const std::uint8_t* in,
              std::uint8_t* out) {
    switch (blockLength) {
        case 16:
            RunRounds<4, kInverse>(keys, rounds, in, out);
            break;
        case 24:
            RunRounds<6, kInverse>(keys, rounds, in, out);
            break;
        default:
            RunRounds<8, kInverse>(keys, rounds, in, out);
            break;
    }
}

}  // namespace

CRijndael::CRijndael() = default;

CRijndael::~CRijndael() {
    Wipe();
}

void CRijndael::Wipe() {
    SecureWipe(encryptKeys_, sizeof encryptKeys_);
    SecureWipe(decryptKeys_, sizeof decryptKeys_);
    SecureWipe(initialChain_, sizeof initialChain_);
    SecureWipe(chain_, sizeof chain_);
    keyInitialized_ = false;
    keyLength_ = 0;
    blockLength_ = 0;
    rounds_ = 0;
}

bool CRijndael::SetKey(const std::uint8_t* key, const std::uint8_t* chain, int keyLength,
                       int blockLength) {
    Wipe();
    if (key == nullptr) {
        lastError_ = kErrorNullBuffer;
        return false;
    }
    if (!ValidLength(keyLength) || !ValidLength(blockLength)) {
        lastError_ = kErrorBadLength;
        return false;
    }
    const int keyWords = keyLength / 4;
    const int blockWords = blockLength / 4;
    const int rounds = 6 + (keyWords > blockWords ? keyWords : blockWords);
    const int totalWords = (rounds + 1) * blockWords;

    // FIPS-197 key expansion; Rijndael continues the round-constant sequence past ten.
    std::uint32_t w[(kMaxRounds + 1) * kMaxBlockWords];
    for (int i = 0; i < keyWords; ++i) {
        w[i] = LoadBe32(key + 4 * i);
    }
    std::uint8_t rcon = 1;
    for (int i = keyWords; i < totalWords; ++i) {
        std::uint32_t temp = w[i - 1];
        if (i % keyWords == 0) {
            temp = SubWord(Rotr32(temp, 24)) ^ (static_cast<std::uint32_t>(rcon) << 24);
            rcon = XTime(rcon);
        } else if (keyWords > 6 && i % keyWords == 4) {
            temp = SubWord(temp);
        }
        w[i] = w[i - keyWords] ^ temp;
    }
    for (int i = 0; i < totalWords; ++i) {
        encryptKeys_[i / blockWords][i % blockWords] = w[i];
    }
    SecureWipe(w, sizeof w);

    // Equivalent inverse cipher: round keys in reverse order, InvMixColumns on the inner ones.
    for (int r = 0; r <= rounds; ++r) {
        for (int j = 0; j < blockWords; ++j) {
            const std::uint32_t k = encryptKeys_[rounds - r][j];
            decryptKeys_[r][j] = (r == 0 || r == rounds) ? k : InvMixColumn(k);
        }
    }

    for (int i = 0; i < blockLength; ++i) {
        initialChain_[i] = chain != nullptr ? chain[i] : 0;
        chain_[i] = initialChain_[i];
    }
    keyLength_ = keyLength;
    blockLength_ = blockLength;
    rounds_ = rounds;
    keyInitialized_ = true;
    lastError_ = nullptr;
    return true;
}

bool CRijndael::EncryptOneBlock(const std::uint8_t* in, std::uint8_t* out) {
    return OneBlock(false, in, out);
}

bool CRijndael::DecryptOneBlock(const std::uint8_t* in, std::uint8_t* out) {
    return OneBlock(true, in, out);
}

bool CRijndael::OneBlock(bool inverse, const std::uint8_t* in, std::uint8_t* out) {
    if (!keyInitialized_) {
        lastError_ = kErrorNotInitialized;
        return false;
    }
    if (in == nullptr || out == nullptr) {
        lastError_ = kErrorNullBuffer;
        return false;
    }
    if (inverse) {
        RunBlock<true>(decryptKeys_, rounds_, blockLength_, in, out);
    } else {
        RunBlock<false>(encryptKeys_, rounds_, blockLength_, in, out);
    }
    lastError_ = nullptr;
    return true;
}

}  // namespace kvx
