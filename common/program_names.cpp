#include "common/program_names.h"

#include <filesystem>
#include <system_error>

#include "frame/naming.h"
#include "frame/os_type.h"
#include "host/text.h"

namespace kvx::ui {

ProgramNames ProgramNames::From(std::u16string_view programPath) {
    ProgramNames n;
    n.path = UpperAscii(programPath);
    n.directory = DirectoryPart(n.path);
    n.fileName = FileNamePart(n.path);
    const std::size_t dot = n.fileName.find_last_of(u'.');
    n.baseName = dot == std::u16string::npos ? n.fileName : n.fileName.substr(0, dot);
    n.prefix = NamingPrefix(n.path);
    n.driveLetter = n.path.empty() ? u'\0' : n.path.front();
    return n;
}

std::u16string ProgramNames::Companion(std::u16string_view suffix) const {
    return directory + prefix + std::u16string(suffix);
}

std::u16string ProgramNames::OwnMarker() const {
    return driveLetter + baseName;
}

std::u16string ProgramNames::SiblingMarker(std::u16string_view program) const {
    return driveLetter + prefix + std::u16string(program);
}

std::u16string ProgramNames::Volume() const {
    return std::u16string(u"\\\\.\\") + driveLetter + u":";
}

std::string NativeCompanionPath(std::u16string_view nativeProgramPath,
                                std::u16string_view fileName) {
    const std::filesystem::path program(std::u16string{nativeProgramPath});
    const std::filesystem::path dir = program.parent_path();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::u16string name = it->path().filename().u16string();
        if (EqualsIgnoringCase(name, fileName)) {
            return ToUtf8(it->path().u16string());
        }
    }
    return ToUtf8((dir / std::u16string{fileName}).u16string());
}

bool FileReadable(Host& host, std::u16string_view path) {
    const OpenResult file = host.Open(path, kAccessRead, kShareRead);
    if (file.handle == kInvalidHandle) {
        return false;
    }
    host.Close(file.handle);
    return true;
}

std::uint8_t HostSystemCode(const OsVersion& version) {
    // The library's classification, with NT 5 and later told apart: 2000 = 6, XP and 2003 = 7,
    // 6.0 and later = 10.
    const std::uint8_t os = ClassifyOsType(version);
    if (os != kOsNt5OrLater) {
        return os;
    }
    return version.major >= 6   ? kWinVersionVista
           : version.minor == 0 ? kWinVersion2000
                                : kWinVersionXp;
}

bool IsNamedNtVersion(std::uint8_t hostSystem) {
    return hostSystem == kWinVersion2000 || hostSystem == kWinVersionXp ||
           hostSystem == kWinVersionVista;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

}  // namespace kvx::ui
