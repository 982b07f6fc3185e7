#include "host/posix/full_io.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

namespace kvx {

std::optional<std::size_t> ReadFullAt(int fd, std::uint64_t offset, std::span<std::uint8_t> data) {
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
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

bool WriteFullAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
        return false;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace kvx
