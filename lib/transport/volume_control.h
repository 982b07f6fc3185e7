// Volume lock and dismount for the writers of the CD area: the system may hold the volume busy
// for a moment (a scan, an indexer), so each operation is retried before it counts as failed.
#pragma once

#include "host/host.h"

namespace kvx {

// Attempts of one volume operation, and the pause between two.
inline constexpr int kVolumeAttempts = 20;
inline constexpr std::uint32_t kVolumeRetryMs = 500;

// Dismount then unlock, retried as one step.
bool DismountAndUnlock(Host& host, HostHandle volume);
bool LockVolume(Host& host, HostHandle volume);

}  // namespace kvx
