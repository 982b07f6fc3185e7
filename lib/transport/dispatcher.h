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
    OsTypeCode osType = kOsUnknown;
    HostHandle drive = kInvalidHandle;
    std::uint8_t adapterId = 0;
};

inline CommandTarget StateTarget(const DeviceState& state) {
    return {state.osType, state.drive, state.adapterId};
}

inline constexpr std::size_t kMaxCdbLength = 16;
inline constexpr std::uint8_t kVendorOpcode = 0x20;
inline constexpr std::uint8_t kAtapiVendorOpcode = 0x21;
// The adapter id of commands that the drive handle alone addresses (discovery's INQUIRY, eject).
inline constexpr std::uint8_t kNoAdapter = 255;

// What one command did. answer is the last pass-through's: a command that never reached the
// device (a malformed call, no transport, the system refused it) has answer.sent = false and,
// where the system said why, answer.osError; otherwise answer.scsiStatus and answer.sense are the
// device's (the hub side channel reports only pass or fail, no status or sense), and
// answer.transferred is what the device moved. delivered counts the data-in bytes that reached
// the caller's buffer, the rest of which is zero. accepted: sent, and no failure reported.
struct CommandOutcome {
    ScsiOutcome answer;
    std::uint32_t delivered = 0;
    bool accepted = false;

    explicit operator bool() const { return accepted; }
};

// Sends a command; the direction is an ASPI code (direction.h), converted here once. The caller's
// CDB is never modified; a data-in buffer is zeroed first, so what the device did not fill stays
// zero. Data of a failed command carry no meaning.
CommandOutcome SendCdb(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                       std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                       std::uint8_t direction);

// SendCdb after the direction is known: hub side channel, ATAPI rewrite, wrapping, pass-through.
CommandOutcome DispatchCdb(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                           DataDirection direction);

// The backend: one pass-through on the target. returnLength, when non-zero, is how many of the
// transferred bytes go back to the caller's buffer (a shorter caller buffer than the transfer).
CommandOutcome ExecutePassThrough(const DeviceState& state, const CommandTarget& target,
                                  const std::uint8_t* cdb, std::uint8_t cdbLength,
                                  std::uint8_t* data, std::uint32_t dataLength,
                                  std::uint32_t returnLength, DataDirection direction);

// The hub side channel to the current device record's port. The CDB is taken as 16 bytes. It
// moves data in whole pieces or fails, so an accepted data-in command delivered all dataLength.
CommandOutcome SendViaHubPort(const DeviceState& state, const std::uint8_t* cdb16,
                              std::uint8_t* data, std::uint32_t dataLength,
                              DataDirection direction);

// Whether a device answer means failure: CHECK CONDITION with a sense key other than NO SENSE
// or RECOVERED ERROR, or a status that is neither GOOD nor CHECK CONDITION.
bool DeviceReportedFailure(const ScsiOutcome& outcome);
// UNIT ATTENTION (sense key 6) under CHECK CONDITION.
bool IsUnitAttention(const ScsiOutcome& outcome);

}  // namespace kvx
