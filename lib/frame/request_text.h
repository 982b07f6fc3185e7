// Text helpers of the library: ASCII and Latin-1 texts (log keys, INQUIRY fields, numbers) as
// UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace kvx {

// One UTF-16 unit per byte.
std::u16string Latin1ToUtf16(std::string_view text);

// printf-style formatting of an ASCII text (log keys, numbers) into UTF-16; at most 511 bytes.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::u16string
FormatText(const char* format, ...);

}  // namespace kvx
