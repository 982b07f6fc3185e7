// Whole reads and writes at an offset on a POSIX descriptor, retried on interruption.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kvx {

// Reads up to data.size() bytes at offset; the count read (short at the end), or nullopt.
std::optional<std::size_t> ReadFullAt(int fd, std::uint64_t offset, std::span<std::uint8_t> data);
// Writes all of data at offset; false when not all of it was written.
bool WriteFullAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> data);

}  // namespace kvx
