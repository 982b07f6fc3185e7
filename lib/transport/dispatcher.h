// Delivery of one SCSI command to the bridge over the path the running system offers: the NT
// pass-through, or the USB hub side channel in hub mode. Vendor commands (opcode 0x20) get the
// ATAPI rewrite and the secure wrapping on the way when the device asks for them.
#pragma once

#include <cstdint>

#include "frame/device_state.h"
#include "transport/direction.h"

namespace kvx {

// Where a command goes: the state's own values, or an explicit drive handle / adapter id.
struct CommandTarget {
    std::uint8_t osType = 0;
    HostHandle drive = kInvalidHandle;
    std::uint8_t adapterId = 0;
};

inline CommandTarget StateTarget(const DeviceState& state) {
    return {state.osType, state.drive, state.adapterId};
}

inline constexpr std::size_t kMaxCdbLength = 16;
inline constexpr std::uint8_t kVendorOpcode = 0x20;
inline constexpr std::uint8_t kAtapiVendorOpcode = 0x21;

// Sends a command; true when the device accepted it. The caller's CDB is never modified; a
// data-in buffer is zeroed first, so what the device did not fill stays zero. Data of a failed
// command carry no meaning.
bool SendCdb(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
             std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
             std::uint8_t direction);

// The backend: one pass-through on the target. returnLength, when non-zero, is how many of the
// transferred bytes go back to the caller's buffer (a shorter caller buffer than the transfer).
bool ExecutePassThrough(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                        std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                        std::uint32_t returnLength, std::uint8_t direction);

// The hub side channel to the current device record's port. The CDB is taken as 16 bytes.
bool SendViaHubPort(DeviceState& state, const std::uint8_t* cdb16, std::uint8_t* data,
                    std::uint32_t dataLength, std::uint8_t direction);

// Volume operations with 20 attempts, 500 ms apart.
bool DismountAndUnlock(Host& host, HostHandle volume);
bool LockVolume(Host& host, HostHandle volume);

// Whether a device answer means failure: CHECK CONDITION with a sense key other than NO SENSE
// or RECOVERED ERROR, or a status that is neither GOOD nor CHECK CONDITION.
bool DeviceReportedFailure(const ScsiOutcome& outcome);
// UNIT ATTENTION (sense key 6) under CHECK CONDITION.
bool IsUnitAttention(const ScsiOutcome& outcome);

}  // namespace kvx
