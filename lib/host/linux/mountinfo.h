// The mounts of this process's mount namespace, from /proc/self/mountinfo.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace kvx::linux_host {

inline constexpr char kMountInfoPath[] = "/proc/self/mountinfo";

struct Mount {
    dev_t device = 0;        // the mounted file system's device number
    std::string mountPoint;  // with the kernel's octal escapes undone
    std::string source;      // e.g. "/dev/sdc1"
};

// The mounts listed in a mountinfo text; malformed lines are skipped.
std::vector<Mount> ParseMountInfo(std::string_view text);

// The mounts of this process, read afresh.
std::vector<Mount> CurrentMounts();

}  // namespace kvx::linux_host
