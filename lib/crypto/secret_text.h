// A secret read from a fixed UTF-16 field of the request record (the password), held in a buffer
// reserved in full before the first unit is copied, so no growth leaves a copy behind, and wiped
// when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "crypto/wipe.h"

namespace kvx {

class SecretUtf16 {
  public:
    // The units of `array` (capacity units at any address) up to the first zero.
    SecretUtf16(const void* array, std::size_t capacity) {
        text_.reserve(capacity + 16);  // past any in-object buffer: the text lives on the heap
        const auto* bytes = static_cast<const unsigned char*>(array);
        for (std::size_t i = 0; i < capacity; ++i) {
            std::uint16_t unit = 0;
            std::memcpy(&unit, bytes + i * sizeof unit, sizeof unit);
            if (unit == 0) {
                break;
            }
            text_.push_back(static_cast<char16_t>(unit));
        }
    }
    ~SecretUtf16() { SecureWipe(text_.data(), text_.capacity() * sizeof(char16_t)); }
    SecretUtf16(const SecretUtf16&) = delete;
    SecretUtf16& operator=(const SecretUtf16&) = delete;

    std::u16string_view view() const { return text_; }

  private:
    std::u16string text_;
};

// A text in the ANSI code page (a password or hint on its way into the data block), wiped when it
// goes.
struct AnsiSecret {
    // Copies the text and wipes the source's whole buffer (in the object or on the heap), which
    // a move would leave holding the bytes.
    explicit AnsiSecret(std::string&& text) : bytes(text.begin(), text.end()) {
        text.resize(text.capacity());
        SecureWipe(text.data(), text.size());
        text.clear();
    }
    AnsiSecret(const AnsiSecret&) = delete;
    AnsiSecret& operator=(const AnsiSecret&) = delete;
    std::span<const std::uint8_t> span() const { return bytes; }

    WipedBytes bytes;
};

}  // namespace kvx
