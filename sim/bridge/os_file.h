// Plain file access for the emulated device's own files (medium image, hidden area, state, lock):
// positioned reads and writes, zero ranges that give disk space back where the file system can,
// and an exclusive lock between processes. One implementation per platform (posix/, win32/).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace kvx::sim {

class OsFile {
  public:
    // Opens a file for reading and writing; `create` makes it when missing.
    static std::optional<OsFile> Open(const std::filesystem::path& path, bool create);

    OsFile(OsFile&& other) noexcept;
    OsFile& operator=(OsFile&& other) noexcept;
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;
    ~OsFile();

    // Reads up to data.size() bytes at offset; past the end of the file nothing is read.
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> data);
    // Writes all of data at offset (the file grows when needed).
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data);
    // Makes a range read back as zero without growing the file; frees the space where the file
    // system supports holes.
    bool ZeroRange(std::uint64_t offset, std::uint64_t length);
    std::optional<std::uint64_t> Size();
    // Sets the length; growing leaves a hole where the file system supports one.
    bool Resize(std::uint64_t size);
    // Exclusive lock against other processes and other OsFile objects of the same file; waits.
    bool Lock();
    void Unlock();

  private:
    explicit OsFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace kvx::sim
