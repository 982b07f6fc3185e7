// Names derived from the program's own file: the product prefix, the companion files beside it
// and the instance markers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host.h"

namespace kvx::ui {

struct ProgramNames {
    // From the program path the host reports ("E:\ACMELCK.EXE"): upper-cased (a-z only),
    // split at the last '\' (or '/', for native paths).
    static ProgramNames From(std::u16string_view programPath);

    std::u16string path;       // upper-cased program path
    std::u16string directory;  // up to and including the last separator
    std::u16string fileName;   // after the last separator
    std::u16string baseName;   // file name without its extension
    std::u16string prefix;     // file name less its last seven characters
    char16_t driveLetter = 0;  // first character of the path

    // directory + prefix + suffix: "KVX.INI", "KVX.DLL", "KEG.DLL", "WEG.DLL".
    std::u16string Companion(std::u16string_view suffix) const;
    // Drive letter + program file name without extension.
    std::u16string OwnMarker() const;
    // Drive letter + prefix + program ("SET", "PRT", "LCK").
    std::u16string SiblingMarker(std::u16string_view program) const;
    // "\\.\X:", the raw volume of the program's drive.
    std::u16string Volume() const;
};

// The file named `fileName` in the directory of `nativeProgramPath` (the real file of the running
// program), matched without regard to letter case as Windows would; the plain join when no
// entry matches.
std::string NativeCompanionPath(std::u16string_view nativeProgramPath,
                                std::u16string_view fileName);

// Whether a file can be opened for reading through the host.
bool FileReadable(Host& host, std::u16string_view path);

// The applications' code of the running Windows version: 0 = unknown or the query failed;
// Windows 9x by build number 1 (to 1110), 2 (to 1997), 3 (to 2222), 4; NT 4 = 5, 2000 = 6,
// XP and 2003 = 7, 6.0 and later = 10.
std::uint8_t HostSystemCode(const OsVersion& version);

// Whether a host-system code is one of the NT versions the programs know by name (2000, XP and
// 2003, 6.0 and later): the ones whose partition refresh and secure-unit launch they support.
bool IsNamedNtVersion(std::uint8_t hostSystem);

// Case-insensitive comparison of ASCII letters ('a'-'z' against 'A'-'Z').
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace kvx::ui
