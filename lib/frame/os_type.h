// Classification of the running Windows version.
#pragma once

#include <cstdint>

#include "host/host.h"

namespace kvx {

struct DeviceState;

enum OsTypeCode : std::uint8_t {
    kOsUnknown = 0,
    kOsWin95 = 1,
    kOsWin95Later = 2,
    kOsWin98 = 3,
    kOsWinMe = 4,
    kOsNt4 = 5,
    kOsNt5OrLater = 6,
};

// 0 to 6 from a GetVersionExW answer (276-byte structure).
OsTypeCode ClassifyOsType(const OsVersion& version);

// Queries the host, stores the code in the state and returns it in the low byte.
std::uint32_t GetOsType(DeviceState& state);

// The Windows version codes of the hub scan, the registry search, the eject and the programs'
// host-system code: each names the family whose USB stack and registry layout a path serves.
enum WinVersion : std::uint8_t {
    kWinVersionUnknown = 0,
    kWinVersionNt4 = 5,
    kWinVersion2000 = 6,
    kWinVersionXp = 7,       // XP and Server 2003 (NT 5.1, 5.2)
    kWinVersion2000Sp4 = 9,  // 2000 with Service Pack 4: the XP registry layout on a 2000 stack
    kWinVersionVista = 10,  // NT 6.0 and later workstations (to the programs: every NT 6 and later)
    kWinVersionServer = 11,  // NT 6.0 and later servers
};

// The version code of the hub scan and the registry search: 5 (NT 4), 6 (2000), 7 (XP, 2003),
// 9 (2000 SP4), 10 (Vista and later workstations), 11 (later servers), 0 otherwise.
std::uint8_t ClassifyWindowsVersionCode(const OsVersion& version);
std::uint8_t WindowsVersionCode(Host& host);

// Windows 98/Me (code 1 to 4): the ASPI family, which this build does not carry.
inline bool IsWin9x(std::uint8_t osType) {
    return osType >= kOsWin95 && osType <= kOsWinMe;
}

}  // namespace kvx
