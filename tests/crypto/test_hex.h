// Hex text to bytes and back, for the known-answer tables of the cipher and hash tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvx::test {

inline std::vector<std::uint8_t> FromHex(std::string_view hex) {
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9') {
            return static_cast<std::uint8_t>(c - '0');
        }
        if (c >= 'a' && c <= 'f') {
            return static_cast<std::uint8_t>(c - 'a' + 10);
        }
        return static_cast<std::uint8_t>(c - 'A' + 10);
    };
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i + 1 < hex.size()) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
        i += 2;
    }
    return out;
}

inline std::string ToHex(const std::uint8_t* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

inline std::string ToHex(const std::vector<std::uint8_t>& data) {
    return ToHex(data.data(), data.size());
}

// Each group of four bytes reversed: a standard SHA-256 digest in the firmware's word order.
inline std::vector<std::uint8_t> ReverseGroupsOfFour(std::vector<std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
    return bytes;
}

inline std::vector<std::uint8_t> Reversed(std::vector<std::uint8_t> bytes) {
    return {bytes.rbegin(), bytes.rend()};
}

inline std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

}  // namespace kvx::test
