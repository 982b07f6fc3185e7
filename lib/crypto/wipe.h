// Clearing of secrets (passwords, keys, digests) that a plain memset could be optimised away from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kvx {

// Sets size bytes at data to zero; the stores are kept even when the buffer is dead afterwards.
void SecureWipe(void* data, std::size_t size);

// Hands blocks out like std::allocator and wipes each one before it goes back, so neither a
// released buffer nor the one a growing container leaves behind keeps what it held.
template <typename T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        SecureWipe(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    template <typename U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

// A byte buffer that may hold key material (a transfer, a block region, a key on its way).
using WipedBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

}  // namespace kvx
