// Windows builds use the C runtime's descriptor calls: no hole punching there, so a zero range is
// written as zeros (skipping parts that already read as zero, which keeps a fresh image sparse
// on a host file system that supports holes, as under Wine).
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/locking.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>
#include <vector>

#include "sim/bridge/os_file.h"

namespace kvx::sim {

std::optional<OsFile> OsFile::Open(const std::filesystem::path& path, bool create) {
    int fd = -1;
    const int flags = _O_RDWR | _O_BINARY | _O_NOINHERIT | (create ? _O_CREAT : 0);
    if (_wsopen_s(&fd, path.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0 || fd < 0) {
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
            _close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

OsFile::~OsFile() {
    if (fd_ >= 0) {
        _close(fd_);
    }
}

namespace {

constexpr std::size_t kChunk = 1 << 20;

}  // namespace

std::optional<std::size_t> OsFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) {
    if (_lseeki64(fd_, static_cast<long long>(offset), SEEK_SET) < 0) {
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const unsigned want = static_cast<unsigned>(std::min(data.size() - done, kChunk));
        const int n = _read(fd_, data.data() + done, want);
        if (n < 0) {
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
    if (_lseeki64(fd_, static_cast<long long>(offset), SEEK_SET) < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const unsigned want = static_cast<unsigned>(std::min(data.size() - done, kChunk));
        const int n = _write(fd_, data.data() + done, want);
        if (n <= 0) {
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
        return true;
    }
    length = std::min(length, *size - offset);
    std::vector<std::uint8_t> buffer(kChunk);
    const std::vector<std::uint8_t> zeros(kChunk, 0);
    while (length > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunk));
        const auto got = ReadAt(offset, std::span(buffer.data(), chunk));
        if (!got) {
            return false;
        }
        const bool alreadyZero =
            std::all_of(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*got),
                        [](std::uint8_t b) { return b == 0; });
        if (!alreadyZero && !WriteAt(offset, std::span(zeros.data(), chunk))) {
            return false;
        }
        offset += chunk;
        length -= chunk;
    }
    return true;
}

std::optional<std::uint64_t> OsFile::Size() {
    const long long end = _lseeki64(fd_, 0, SEEK_END);
    if (end < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end);
}

bool OsFile::Resize(std::uint64_t size) {
    return _chsize_s(fd_, static_cast<long long>(size)) == 0;
}

bool OsFile::Lock() {
    // The runtime's lock covers a byte range from the current position; byte 0 stands for the
    // whole file. Another holder makes the attempt fail at once, so wait here (up to a minute).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (true) {
        if (_lseeki64(fd_, 0, SEEK_SET) == 0 && _locking(fd_, _LK_NBLCK, 1) == 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void OsFile::Unlock() {
    if (_lseeki64(fd_, 0, SEEK_SET) == 0) {
        _locking(fd_, _LK_UNLCK, 1);
    }
}

}  // namespace kvx::sim
