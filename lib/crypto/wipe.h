// Clearing of secrets (passwords, keys, digests) that a plain memset could be optimised away from.
#pragma once

#include <cstddef>

namespace kvx {

// Sets size bytes at data to zero; the stores are kept even when the buffer is dead afterwards.
void SecureWipe(void* data, std::size_t size);

}  // namespace kvx
