#include "sim/bridge/os_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kvx::sim {

std::optional<OsFile> OsFile::Open(const std::filesystem::path& path, bool create) {
    const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return std::nullopt;
    }
    return OsFile(fd);
}

OsFile::OsFile(OsFile&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

OsFile::~OsFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::size_t> OsFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pread(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool OsFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool OsFile::ZeroRange(std::uint64_t offset, std::uint64_t length) {
    const auto size = Size();
    if (!size) {
        return false;
    }
    if (offset >= *size || length == 0) {
        return true;  // beyond the end the file already reads as nothing
    }
    if (length > *size - offset) {
        length = *size - offset;
    }
    if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(length)) == 0) {
        return true;
    }
    // No hole support here: write the zeros.
    const std::vector<std::uint8_t> zeros(1 << 20, 0);
    while (length > 0) {
        const std::size_t chunk =
            length < zeros.size() ? static_cast<std::size_t>(length) : zeros.size();
        if (!WriteAt(offset, std::span(zeros.data(), chunk))) {
            return false;
        }
        offset += chunk;
        length -= chunk;
    }
    return true;
}

std::optional<std::uint64_t> OsFile::Size() {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end);
}

bool OsFile::Resize(std::uint64_t size) {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool OsFile::Lock() {
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

void OsFile::Unlock() {
    ::flock(fd_, LOCK_UN);
}

}  // namespace kvx::sim
