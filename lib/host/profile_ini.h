// Profile strings ("INI files") read and written the way GetPrivateProfileStringW and
// WritePrivateProfileStringW do, for the hosts that are not Windows.
//
// The file is taken as a list of sections, each a list of lines "name=value" (a line without '='
// is a name without a value; comments are such lines and are kept). Lines before the first
// "[section]" belong to a section without a name. Section and key names compare without regard
// to case. Writing rewrites the whole file: every line "name=value" without spaces around '=',
// blank lines dropped, CRLF line ends, in the encoding the file had (UTF-8 for a new file).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvx::profile {

// The value of `key` in `section` with surrounding blanks and one pair of matching surrounding
// quotes (" or ') removed; `defaultValue` (less its trailing spaces) when the file, section or
// key is missing or the key has no '='. At most maxChars - 1 characters; empty when maxChars is 0.
std::u16string Read(std::u16string_view section, std::u16string_view key,
                    std::u16string_view defaultValue, const std::filesystem::path& path,
                    std::size_t maxChars);

// Sets `key` in `section` to `value` (leading blanks dropped). An existing key keeps its place and
// its spelling; a new key goes to the end of its section, a new section to the end of the file,
// and the file is created when missing. False when the file cannot be read or written, or when
// a name or the value would break the file's lines (CR or LF anywhere, '=' in the key, a key
// starting with '['). Never throws.
bool Write(std::u16string_view section, std::u16string_view key, std::u16string_view value,
           const std::filesystem::path& path);

// Removes `key` from `section` (WritePrivateProfileStringW with a null value). True when the key
// is gone afterwards, whether or not it was there.
bool DeleteKey(std::u16string_view section, std::u16string_view key,
               const std::filesystem::path& path);

// The text of a profile file's bytes: UTF-16LE/BE or UTF-8 after a byte-order mark, else UTF-8
// when the bytes are well-formed UTF-8, else Windows-1252.
std::u16string DecodeFileText(std::string_view bytes);

}  // namespace kvx::profile
