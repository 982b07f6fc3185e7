#include "sim/host/cd_folder.h"

#include <system_error>

#include "host/text.h"

namespace kvx::sim {
namespace {

constexpr std::string_view kCdFolderName = "cd";
constexpr std::u16string_view kSeparators = u"\\/";

bool IsLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The entry of `folder` named `name` in any letter case, or `folder / name` when there is none.
std::filesystem::path EntryIn(const std::filesystem::path& folder, const std::u16string& name) {
    const std::u16string wanted = UpperAscii(name);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (UpperAscii(it->path().filename().u16string()) == wanted) {
            return it->path();
        }
    }
    return folder / name;
}

}  // namespace

std::filesystem::path CdFolder(const std::filesystem::path& machineDir) {
    return machineDir / kCdFolderName;
}

std::optional<DrivePath> ParseDrivePath(std::u16string_view path) {
    if (path.size() < 3 || !IsLetter(path[0]) || path[1] != u':' ||
        kSeparators.find(path[2]) == std::u16string_view::npos) {
        return std::nullopt;
    }
    DrivePath result;
    result.letter = UpperAscii(path.substr(0, 1))[0];
    std::u16string_view rest = path.substr(3);
    while (!rest.empty()) {
        const std::size_t cut = rest.find_first_of(kSeparators);
        const std::u16string_view part = rest.substr(0, cut);
        rest = cut == std::u16string_view::npos ? std::u16string_view() : rest.substr(cut + 1);
        if (!part.empty()) {
            result.parts.emplace_back(part);
        }
    }
    return result;
}

std::filesystem::path FileInFolder(const std::filesystem::path& folder,
                                   const std::vector<std::u16string>& parts) {
    std::filesystem::path file = folder;
    for (const auto& part : parts) {
        file = EntryIn(file, part);
    }
    return file;
}

std::optional<std::u16string> DrivePathOf(const std::filesystem::path& folder, char letter,
                                          const std::u16string& real) {
    if (real.empty()) {
        return std::nullopt;
    }
    std::error_code folderError;
    std::error_code fileError;
    const std::filesystem::path base = std::filesystem::weakly_canonical(folder, folderError);
    const std::filesystem::path file =
        std::filesystem::weakly_canonical(std::filesystem::path(real), fileError);
    if (folderError || fileError) {
        return std::nullopt;
    }
    const std::filesystem::path relative = file.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") {
        return std::nullopt;
    }
    // Appended piece by piece: GCC 12 at -O3 takes a concatenation of temporaries here for
    // an overlapping copy (-Wrestrict).
    std::u16string name{static_cast<char16_t>(letter), u':'};
    for (const auto& part : relative) {
        name.push_back(u'\\');
        name.append(part.u16string());
    }
    return name;
}

}  // namespace kvx::sim
