#include "crypto/aes_reversed.h"

#include "crypto/rijndael.h"
#include "crypto/wipe.h"

namespace kvx {

int AesBlockReversed(const std::uint8_t key[16], std::uint8_t block[16], int mode) {
    if (key == nullptr || block == nullptr || (mode != kAesEncrypt && mode != kAesDecrypt)) {
        return 0;
    }
    std::uint8_t reversedKey[16];
    std::uint8_t reversedBlock[16];
    std::uint8_t result[16];
    for (int i = 0; i < 16; ++i) {
        reversedKey[i] = key[15 - i];
        reversedBlock[i] = block[15 - i];
    }
    const std::uint8_t zeroChain[16] = {};
    bool ok;
    {
        CRijndael cipher;
        ok = cipher.SetKey(reversedKey, zeroChain, 16, 16);
        if (ok) {
            ok = mode == kAesEncrypt ? cipher.EncryptOneBlock(reversedBlock, result)
                                     : cipher.DecryptOneBlock(reversedBlock, result);
        }
    }
    if (ok) {
        for (int i = 0; i < 16; ++i) {
            block[i] = result[15 - i];
        }
    }
    SecureWipe(reversedKey, sizeof reversedKey);
    SecureWipe(reversedBlock, sizeof reversedBlock);
    SecureWipe(result, sizeof result);
    return ok ? 1 : 0;
}

}  // namespace kvx
