// The Rijndael block cipher (FIPS-197 AES for 16-byte blocks) with 16-, 24- or 32-byte keys and
// blocks, all in the four-table round formulation.
#pragma once

#include <cstdint>

namespace kvx {

class CRijndael {
  public:
    static constexpr int kMaxRounds = 14;
    static constexpr int kMaxBlockWords = 8;
    static constexpr int kMaxBlockBytes = 4 * kMaxBlockWords;

    static constexpr const char* kErrorNotInitialized = "Object not Initialized";
    static constexpr const char* kErrorBadLength = "Key or Block Length not 16, 24 or 32";
    static constexpr const char* kErrorNullBuffer = "Null Buffer";

    CRijndael();
    // Wipes the key schedules and chaining blocks.
    virtual ~CRijndael();

    CRijndael(const CRijndael&) = delete;
    CRijndael& operator=(const CRijndael&) = delete;

    // Expands key (keyLength bytes, read most significant byte first into words) for blocks of
    // blockLength bytes and keeps chain (blockLength bytes; null = all zero) as the initial and
    // current chaining block. Lengths must be 16, 24 or 32; otherwise, or with a null key, the
    // object is left uninitialised (old schedule wiped) and false is returned.
    bool SetKey(const std::uint8_t* key, const std::uint8_t* chain, int keyLength, int blockLength);

    // One block of BlockLength() bytes from in to out (they may be the same buffer).
    // False, out untouched, before a successful SetKey or with a null buffer.
    bool EncryptOneBlock(const std::uint8_t* in, std::uint8_t* out);
    bool DecryptOneBlock(const std::uint8_t* in, std::uint8_t* out);

    bool IsKeyInitialized() const { return keyInitialized_; }
    int KeyLength() const { return keyLength_; }
    int BlockLength() const { return blockLength_; }
    int Rounds() const { return rounds_; }
    // Text of the last refusal, null when the last operation succeeded.
    const char* LastError() const { return lastError_; }

  private:
    void Wipe();
    bool OneBlock(bool inverse, const std::uint8_t* in, std::uint8_t* out);

    bool keyInitialized_ = false;
    int keyLength_ = 0;
    int blockLength_ = 0;
    int rounds_ = 0;
    std::uint8_t initialChain_[kMaxBlockBytes] = {};
    std::uint8_t chain_[kMaxBlockBytes] = {};
    std::uint32_t encryptKeys_[kMaxRounds + 1][kMaxBlockWords] = {};
    std::uint32_t decryptKeys_[kMaxRounds + 1][kMaxBlockWords] = {};
    const char* lastError_ = nullptr;
};

}  // namespace kvx
