// Sector access to the medium image and the hidden area. Both are sparse files: what was never
// written reads as zero, and all-zero sectors are stored as holes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace kvx::sim {

// Reads whole 512-byte sectors from lba on; parts past the end of the file read as zero.
bool ReadSectors(const std::filesystem::path& image, std::uint64_t lba,
                 std::span<std::uint8_t> out);

// Writes whole 512-byte sectors from lba on; runs of zero sectors become holes.
bool WriteSectors(const std::filesystem::path& image, std::uint64_t lba,
                  std::span<const std::uint8_t> in);

}  // namespace kvx::sim
