// Companion-file names derived from the host program's file name.
#pragma once

#include <string>
#include <string_view>

namespace kvx {

class Host;

// Last path component ('\' or '/' separated).
std::u16string_view FileNamePart(std::u16string_view path);

// Directory part including its trailing separator; empty when the path has none.
std::u16string_view DirectoryPart(std::u16string_view path);

// The program name less its last seven characters ("ABCDEFGHIJ.EXE" gives "ABCDEFG"); a name of
// fewer than seven characters is taken whole.
std::u16string NamingPrefix(std::u16string_view programPath);

// Host program directory + prefix + "KVX.INI".
std::u16string ConfigFilePath(Host& host);

// prefix + "KVX.DLL Version 1.55.00", the library's banner value.
std::u16string BannerValue(Host& host);

inline constexpr char kLibraryVersion[] = "1.55.00";

}  // namespace kvx
