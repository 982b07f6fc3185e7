#include "support/memory_scan.h"

#include <cstdio>
#include <random>

#include "sim/bridge/hex.h"

namespace kvx::test {
namespace {

// The byte hex digits 2i and 2i+1 spell, or -1.
int HexByte(std::string_view hex, std::size_t i) {
    const int hi = sim::HexDigit(hex[2 * i]);
    const int lo = sim::HexDigit(hex[2 * i + 1]);
    return hi < 0 || lo < 0 ? -1 : hi << 4 | lo;
}

// Pad bytes are never zero, so no masked byte equals its plain byte.
std::uint8_t PadByte() {
    static std::mt19937 engine{std::random_device{}()};
    std::uint8_t b = 0;
    while (b == 0) {
        b = static_cast<std::uint8_t>(engine());
    }
    return b;
}

}  // namespace

std::optional<std::size_t> MaskedNeedles::Reserve(std::size_t length, const char* label) {
    if (count_ == kMax || length < kMinLength || length > kMaxLength) {
        return std::nullopt;
    }
    const std::size_t n = count_++;
    length_[n] = length;
    label_[n] = label;
    for (std::size_t i = 0; i < kMaxLength; ++i) {
        pad_[n][i] = PadByte();
        masked_[n][i] = 0;
    }
    return n;
}

std::optional<std::size_t> MaskedNeedles::Add(std::span<const std::uint8_t> secret,
                                              const char* label) {
    const auto n = Reserve(secret.size(), label);
    if (n) {
        for (std::size_t i = 0; i < secret.size(); ++i) {
            masked_[*n][i] = static_cast<std::uint8_t>(secret[i] ^ pad_[*n][i]);
        }
    }
    return n;
}

std::optional<std::size_t> MaskedNeedles::AddHex(std::string_view hex, const char* label) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    const std::size_t length = hex.size() / 2;
    for (std::size_t i = 0; i < length; ++i) {
        if (HexByte(hex, i) < 0) {
            return std::nullopt;
        }
    }
    const auto n = Reserve(length, label);
    if (n) {
        for (std::size_t i = 0; i < length; ++i) {
            masked_[*n][i] = static_cast<std::uint8_t>(HexByte(hex, i) ^ pad_[*n][i]);
        }
    }
    return n;
}

std::optional<std::size_t> MaskedNeedles::AddReversed(std::size_t from, const char* label) {
    if (from >= count_) {
        return std::nullopt;
    }
    const std::size_t length = length_[from];
    const auto n = Reserve(length, label);
    if (n) {
        // Same pad positions as the source, so the plain bytes never show up on the way.
        for (std::size_t i = 0; i < length; ++i) {
            pad_[*n][i] = pad_[from][length - 1 - i];
            masked_[*n][i] = masked_[from][length - 1 - i];
        }
    }
    return n;
}

bool MaskedNeedles::EqualsHex(std::size_t n, std::string_view hex) const {
    if (n >= count_ || hex.size() != 2 * length_[n]) {
        return false;
    }
    for (std::size_t i = 0; i < length_[n]; ++i) {
        if (HexByte(hex, i) != (masked_[n][i] ^ pad_[n][i])) {
            return false;
        }
    }
    return true;
}

bool MaskedNeedles::Matches(std::size_t n, const std::uint8_t* at) const {
    for (std::size_t i = 0; i < length_[n]; ++i) {
        if ((at[i] ^ pad_[n][i]) != masked_[n][i]) {
            return false;
        }
    }
    return true;
}

void MaskedNeedles::Unmask(std::size_t n, std::span<std::uint8_t> out) const {
    for (std::size_t i = 0; i < length_[n] && i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(masked_[n][i] ^ pad_[n][i]);
    }
}

std::uint16_t MaskedNeedles::Prefix(std::size_t n) const {
    return static_cast<std::uint16_t>((masked_[n][0] ^ pad_[n][0]) | (masked_[n][1] ^ pad_[n][1])
                                                                         << 8);
}

bool ScanReport::FoundAt(std::size_t n, const void* address) const {
    for (std::size_t i = 0; i < recorded; ++i) {
        if (hits[i].needle == n && hits[i].address == reinterpret_cast<std::uintptr_t>(address)) {
            return true;
        }
    }
    return false;
}

std::string Describe(const ScanReport& report, const MaskedNeedles& needles) {
    std::string text = std::to_string(report.total) + " copies in " +
                       std::to_string(report.bytesScanned) + " bytes scanned";
    for (std::size_t i = 0; i < report.recorded; ++i) {
        const ScanHit& h = report.hits[i];
        char line[160];
        std::snprintf(line, sizeof line, "\n  %s (needle %zu) at %#llx in %s",
                      needles.label(h.needle), h.needle, static_cast<unsigned long long>(h.address),
                      h.mapping);
        text += line;
    }
    return text;
}

}  // namespace kvx::test
