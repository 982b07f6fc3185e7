// Plaintext views of a device's areas as files, and the CD area's content from an image file:
// what `kvxsim export` and `kvxsim create --cd-iso` do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "sim/bridge/device_dir.h"

namespace kvx::sim {

// Where the secure partition's master boot record (or partition table sector) lies: the data
// block's partition address, 16 sectors on for hard disks of the ordinary chip, as the library
// addresses it. nullopt without a data block.
std::optional<std::uint64_t> SecurePartitionStart(const BridgeState& state,
                                                  const DevicePaths& paths);

// Writes what the device shows from the secure partition's first sector to its end (as its
// partition table entry says; else the end of the secure area), deciphered by the engine.
// nullopt = done, else the reason.
std::optional<std::string> ExportSecurePartition(const DevicePaths& paths,
                                                 const std::filesystem::path& out);

// Writes the CD area: the size the data block records, else the state's.
std::optional<std::string> ExportCdArea(const DevicePaths& paths, const std::filesystem::path& out);

// Copies an image file into the CD area (zero-padded to whole sectors) and sets the CD size to
// the image rounded up to whole megabytes, within the CD area's room.
std::optional<std::string> LoadCdImage(const DevicePaths& paths,
                                       const std::filesystem::path& image);

}  // namespace kvx::sim
