#include "crypto/wipe.h"

namespace kvx {

void SecureWipe(void* data, std::size_t size) {
    // Volatile stores may not be dropped, even at the end of a buffer's or an object's lifetime.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
}

}  // namespace kvx
