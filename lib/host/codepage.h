// The ANSI code page of the hosts that are not Windows: Windows-1252, converted here so that
// every such host gives the same bytes.
#pragma once

#include <string>
#include <string_view>

namespace kvx {

// UTF-16 to Windows-1252; a character the code page lacks becomes one '?'. The five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for U+0081 and so on, as
// Windows maps them.
std::string ToCp1252(std::u16string_view text);

// Windows-1252 to UTF-16; every byte has a character.
std::u16string FromCp1252(std::string_view text);

}  // namespace kvx
