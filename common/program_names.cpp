#include "common/program_names.h"

#include <filesystem>
#include <system_error>

#include "host/text.h"

namespace kvx::ui {

ProgramNames ProgramNames::From(std::u16string_view programPath) {
    ProgramNames n;
    n.path = UpperAscii(programPath);
    const std::size_t slash = n.path.find_last_of(u"\\/");
    n.directory = slash == std::u16string::npos ? std::u16string() : n.path.substr(0, slash + 1);
    n.fileName = slash == std::u16string::npos ? n.path : n.path.substr(slash + 1);
    const std::size_t dot = n.fileName.find_last_of(u'.');
    n.baseName = dot == std::u16string::npos ? n.fileName : n.fileName.substr(0, dot);
    constexpr std::size_t kSuffix = 7;  // "LCK.EXE"
    n.prefix = n.fileName.size() < kSuffix ? n.fileName
                                           : n.fileName.substr(0, n.fileName.size() - kSuffix);
    n.driveLetter = n.path.empty() ? u'\0' : n.path.front();
    return n;
}

std::u16string ProgramNames::Companion(std::u16string_view suffix) const {
    return directory + prefix + std::u16string(suffix);
}

std::u16string ProgramNames::Win9xDriver() const {
    return u"\\\\.\\" + prefix + u"KVX.VXD";
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
    if (!version.ok) {
        return 0;
    }
    if (version.platformId == kPlatform9x) {
        const std::uint32_t build = version.build & 0xFFFF;
        return build <= 1110 ? 1 : build <= 1997 ? 2 : build <= 2222 ? 3 : 4;
    }
    if (version.platformId == kPlatformNt) {
        if (version.major == 4) {
            return 5;
        }
        if (version.major == 5) {
            return version.minor == 0 ? 6 : 7;
        }
        if (version.major >= 6) {
            return 10;
        }
    }
    return 0;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

}  // namespace kvx::ui
