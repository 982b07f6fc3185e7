// Builders of the bridge's vendor commands that the rest of the library shares.
#pragma once

#include <cstdint>

#include "frame/device_state.h"
#include "host/sectors.h"
#include "transport/dispatcher.h"

namespace kvx {

// Vendor sub-commands (CDB byte 1 of opcode 0x20).
enum VendorCommand : std::uint8_t {
    kVendorGetCaps = 0x80,
    kVendorFormatStepSet = 0x88,
    kVendorFormatStepClear = 0x89,
    kVendorGetExtCaps = 0xBB,
    kVendorAuthenticate = 0xC8,
    kVendorSectors = 0xCF,
    kVendorIdentify = 0xD0,
    kVendorAesSetKey = 0xF0,
    kVendorAesSetIv = 0xF1,
    kVendorAesEnable = 0xF2,
    kVendorSecAesEnable = 0xF4,
    kVendorSessionKey = 0xF8,
    kVendorEndSession = 0xF9,
};

// Sector flags of the 0xCF command.
inline constexpr std::uint8_t kSectorRead = 0x01;
inline constexpr std::uint8_t kSectorHidden = 0x02;

// A 10-byte vendor CDB: 0x20, the sub-command, the rest zero.
struct VendorCdb {
    std::uint8_t bytes[16] = {};
    explicit VendorCdb(std::uint8_t subCommand) {
        bytes[0] = kVendorOpcode;
        bytes[1] = subCommand;
    }
};

// Sends a vendor CDB of 10 bytes to the state's device; direction is an ASPI code (direction.h).
CommandOutcome SendVendor(DeviceState& state, const VendorCdb& cdb, std::uint8_t* data,
                          std::uint32_t dataLength, std::uint8_t direction);

// Reads or writes `count` sectors at `lba` of the medium (or of the hidden area when `hidden`);
// buffer holds count * 512 bytes. A count of 0 sends nothing and fails; so does a read whose
// device delivered fewer bytes.
bool ReadWriteSectors(DeviceState& state, std::uint32_t lba, std::uint16_t count, bool hidden,
                      bool read, std::uint8_t* buffer);

// Ends the wrapping session (itself a wrapped command); on success the session key is wiped and the
// counter reset, on failure both stay.
bool EndSession(DeviceState& state);

}  // namespace kvx
