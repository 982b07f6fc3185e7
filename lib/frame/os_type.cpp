#include "frame/os_type.h"

#include "frame/device_state.h"

namespace kvx {

OsTypeCode ClassifyOsType(const OsVersion& version) {
    if (!version.ok) {
        return kOsUnknown;
    }
    if (version.platformId == kPlatformWin9x) {
        const std::uint32_t build = version.build & 0xFFFF;
        if (build > 2222) {
            return kOsWinMe;
        }
        if (build < 1998) {
            return build <= 1110 ? kOsWin95 : kOsWin95Later;
        }
        return kOsWin98;
    }
    if (version.platformId == kPlatformNt) {
        if (version.major > 4) {
            return kOsNt5OrLater;
        }
        return version.major == 4 ? kOsNt4 : kOsUnknown;
    }
    return kOsUnknown;
}

std::uint32_t GetOsType(DeviceState& state) {
    state.osType = ClassifyOsType(state.host().GetVersion(false));
    return state.osType;
}

std::uint8_t ClassifyWindowsVersionCode(const OsVersion& version) {
    if (!version.ok || version.platformId != kPlatformNt) {
        return kWinVersionUnknown;
    }
    // NT 6.0 and everything later take the paths of the workstation or the server code.
    if (version.major >= 6) {
        return version.productType == kProductWorkstation ? kWinVersionVista : kWinVersionServer;
    }
    if (version.major == 5) {
        if (version.minor == 0) {
            return version.servicePack.find(u"Service Pack 4") != std::u16string::npos
                       ? kWinVersion2000Sp4
                       : kWinVersion2000;
        }
        return (version.minor == 1 || version.minor == 2) ? kWinVersionXp : kWinVersionUnknown;
    }
    return (version.major == 4 && version.minor == 0) ? kWinVersionNt4 : kWinVersionUnknown;
}

std::uint8_t WindowsVersionCode(Host& host) {
    OsVersion version = host.GetVersion(true);
    if (!version.ok) {
        version = host.GetVersion(false);
    }
    return ClassifyWindowsVersionCode(version);
}

}  // namespace kvx
