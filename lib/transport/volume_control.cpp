#include "transport/volume_control.h"

namespace kvx {
namespace {

template <typename Attempt>
bool Retry(Host& host, Attempt attempt) {
    for (int i = 0; i < kVolumeAttempts; ++i) {
        if (attempt()) {
            return true;
        }
        if (i + 1 < kVolumeAttempts) {
            host.Sleep(kVolumeRetryMs);
        }
    }
    return false;
}

}  // namespace

bool DismountAndUnlock(Host& host, HostHandle volume) {
    return Retry(host, [&] {
        return host.ControlVolume(volume, VolumeOp::kDismount) &&
               host.ControlVolume(volume, VolumeOp::kUnlock);
    });
}

bool LockVolume(Host& host, HostHandle volume) {
    return Retry(host, [&] { return host.ControlVolume(volume, VolumeOp::kLock); });
}

}  // namespace kvx
