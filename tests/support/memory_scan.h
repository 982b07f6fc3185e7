// Finds secrets in this process's writable memory (heap, stacks, static data) without holding a
// plain copy of them: each needle is kept XOR-masked with a random pad and is unmasked byte by
// byte only inside the comparison, so the needles never match themselves. The scan reads the
// process's own mappings (Linux: /proc/self/maps and /proc/self/mem) into a fixed buffer that it
// wipes after every piece, and allocates nothing while it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kvx::test {

// Whether this build can scan its own memory.
bool MemoryScanSupported();

class MaskedNeedles {
  public:
    static constexpr std::size_t kMax = 4096;
    static constexpr std::size_t kMinLength = 8;  // shorter needles would match by chance
    static constexpr std::size_t kMaxLength = 32;

    void Clear() { count_ = 0; }
    std::size_t size() const { return count_; }
    std::size_t length(std::size_t n) const { return length_[n]; }
    const char* label(std::size_t n) const { return label_[n]; }

    // Adds `secret`, masked at once (the caller wipes its own copy); nullopt when the table is
    // full or the length is out of range. `label` must outlive the table (a literal).
    std::optional<std::size_t> Add(std::span<const std::uint8_t> secret, const char* label);
    // Adds the bytes a hex text spells, decoded straight into the masked form.
    std::optional<std::size_t> AddHex(std::string_view hex, const char* label);
    // Adds needle n with its bytes in reverse order.
    std::optional<std::size_t> AddReversed(std::size_t n, const char* label);

    // Whether needle n is the bytes `hex` spells.
    bool EqualsHex(std::size_t n, std::string_view hex) const;
    // Whether the length(n) bytes at `at` are needle n.
    bool Matches(std::size_t n, const std::uint8_t* at) const;
    // Writes needle n's plain bytes to `out` (length(n) bytes), to plant a copy on purpose.
    void Unmask(std::size_t n, std::span<std::uint8_t> out) const;

    // The first two plain bytes of needle n as a 16-bit number (the scan's bucket).
    std::uint16_t Prefix(std::size_t n) const;

  private:
    std::optional<std::size_t> Reserve(std::size_t length, const char* label);

    std::uint8_t masked_[kMax][kMaxLength] = {};
    std::uint8_t pad_[kMax][kMaxLength] = {};
    std::size_t length_[kMax] = {};
    const char* label_[kMax] = {};
    std::size_t count_ = 0;
};

struct ScanHit {
    std::size_t needle = 0;
    std::uintptr_t address = 0;
    char mapping[64] = {};  // the mapping's name ("[heap]", "[stack]", a file) or "anonymous"
};

struct ScanReport {
    static constexpr std::size_t kMaxHits = 64;
    std::size_t total = 0;  // every copy found
    std::size_t perNeedle[MaskedNeedles::kMax] = {};
    ScanHit hits[kMaxHits] = {};  // the first ones
    std::size_t recorded = 0;
    std::uint64_t bytesScanned = 0;
    std::uint64_t bytesUnreadable = 0;  // resident pages the kernel would not hand out

    // Whether a copy of needle n was found at `address`.
    bool FoundAt(std::size_t n, const void* address) const;
};

// Scans the resident pages of every readable and writable mapping. A page swapped out is not
// seen; tests run far below the point where that happens.
void ScanWritableMemory(const MaskedNeedles& needles, ScanReport& report);

// The hits as text, for a failure message (this allocates: call it after the scan).
std::string Describe(const ScanReport& report, const MaskedNeedles& needles);

}  // namespace kvx::test
