#include "frame/request_text.h"

#include <cstdarg>
#include <cstdio>

namespace kvx {

std::u16string Latin1ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

std::u16string FormatText(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return n < 0 ? std::u16string() : Latin1ToUtf16(text);
}

}  // namespace kvx
