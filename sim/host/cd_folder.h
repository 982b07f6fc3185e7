// The emulated CD drive's files: paths on the device's CD letter name files in the machine's
// "cd" folder, and a program started from that folder sees its own path on the letter.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::sim {

// The folder of a machine directory that the CD drive letter shows.
std::filesystem::path CdFolder(const std::filesystem::path& machineDir);

struct DrivePath {
    char16_t letter = 0;                // upper case
    std::vector<std::u16string> parts;  // the names below the root, empty ones left out
};

// An absolute path on a drive letter ("X:\A\B", either slash, the letter in either case);
// nullopt for any other path (drive-relative, UNC, a native path).
std::optional<DrivePath> ParseDrivePath(std::u16string_view path);

// The file that `parts` name below `folder`, each name matched to an existing entry without
// regard to letter case and kept as given where none matches.
std::filesystem::path FileInFolder(const std::filesystem::path& folder,
                                   const std::vector<std::u16string>& parts);

// "X:\A\B" on drive `letter` for the file `real` inside `folder`, both resolved as far as they
// exist; nullopt for an empty path or a file outside the folder.
std::optional<std::u16string> DrivePathOf(const std::filesystem::path& folder, char letter,
                                          const std::u16string& real);

}  // namespace kvx::sim
