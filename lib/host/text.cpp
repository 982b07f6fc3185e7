#include "host/text.h"

#include <algorithm>
#include <cstring>

namespace kvx {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at text[pos]; returns the code point and advances pos, or returns
// nothing (pos advanced past the malformed prefix) for a malformed sequence.
bool DecodeUtf8(std::string_view text, std::size_t& pos, char32_t& out) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        out = lead;
        ++pos;
        return true;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return false;
    }
    std::size_t i = 1;
    for (; i < length && pos + i < text.size(); ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            break;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (i < length) {
        pos += i;
        return false;
    }
    pos += length;
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return false;
    }
    out = c;
    return true;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c = 0;
        AppendUtf16(out, DecodeUtf8(text, pos, c) ? c : kReplacement);
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c = 0;
        if (!DecodeUtf8(text, pos, c)) {
            return false;
        }
    }
    return true;
}

std::u16string UpperAscii(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& u : out) {
        if (u >= u'a' && u <= u'z') {
            u = static_cast<char16_t>(u - u'a' + u'A');
        }
    }
    return out;
}

std::u16string ReadFixedUtf16(const void* array, std::size_t capacity) {
    const auto* bytes = static_cast<const unsigned char*>(array);
    std::u16string out;
    for (std::size_t i = 0; i < capacity; ++i) {
        std::uint16_t unit = 0;
        std::memcpy(&unit, bytes + i * sizeof unit, sizeof unit);
        if (unit == 0) {
            break;
        }
        out.push_back(static_cast<char16_t>(unit));
    }
    return out;
}

void WriteFixedUtf16(std::u16string_view text, void* array, std::size_t capacity) {
    if (capacity == 0) {
        return;
    }
    auto* bytes = static_cast<unsigned char*>(array);
    std::size_t count = std::min(text.size(), capacity - 1);
    if (count > 0 && count < text.size() && IsHighSurrogate(text[count - 1])) {
        --count;  // keep a pair whole rather than leave half of it
    }
    for (std::size_t i = 0; i < capacity; ++i) {
        const std::uint16_t unit = i < count ? text[i] : 0;
        std::memcpy(bytes + i * sizeof unit, &unit, sizeof unit);
    }
}

std::u16string ReadFixedUtf16(std::span<const std::uint16_t> array) {
    return ReadFixedUtf16(array.data(), array.size());
}

void WriteFixedUtf16(std::u16string_view text, std::span<std::uint16_t> array) {
    WriteFixedUtf16(text, array.data(), array.size());
}

}  // namespace kvx
