#include "transport/vendor.h"

#include "crypto/wipe.h"

namespace kvx {

CommandOutcome SendVendor(DeviceState& state, const VendorCdb& cdb, std::uint8_t* data,
                          std::uint32_t dataLength, std::uint8_t direction) {
    constexpr std::uint8_t kVendorCdbLength = 10;
    return SendCdb(state, StateTarget(state), cdb.bytes, kVendorCdbLength, data, dataLength,
                   direction);
}

bool ReadWriteSectors(DeviceState& state, std::uint32_t lba, std::uint16_t count, bool hidden,
                      bool read, std::uint8_t* buffer) {
    if (count == 0 || buffer == nullptr) {
        return false;
    }
    VendorCdb cdb(kVendorSectors);
    cdb.bytes[2] = static_cast<std::uint8_t>(lba >> 24);
    cdb.bytes[3] = static_cast<std::uint8_t>(lba >> 16);
    cdb.bytes[4] = static_cast<std::uint8_t>(lba >> 8);
    cdb.bytes[5] = static_cast<std::uint8_t>(lba);
    cdb.bytes[6] =
        static_cast<std::uint8_t>((hidden ? kSectorHidden : 0) | (read ? kSectorRead : 0));
    cdb.bytes[7] = static_cast<std::uint8_t>(count >> 8);
    cdb.bytes[8] = static_cast<std::uint8_t>(count);
    const std::uint32_t length = std::uint32_t{count} * kSectorSize;
    // A read that delivers less than its sectors fails: a zero-filled tail is no sector's content.
    const CommandOutcome outcome = SendVendor(state, cdb, buffer, length, read ? kDirIn : kDirOut);
    return outcome.accepted && (!read || outcome.delivered == length);
}

bool EndSession(DeviceState& state) {
    VendorCdb cdb(kVendorEndSession);
    cdb.bytes[8] = 0x10;
    std::uint8_t discarded[16];
    const bool ok = SendVendor(state, cdb, discarded, sizeof discarded, kDirIn).accepted;
    SecureWipe(discarded, sizeof discarded);
    if (ok) {
        SecureWipe(state.sessionKey, sizeof state.sessionKey);
        state.wrapCounter = 0;
    }
    return ok;
}

}  // namespace kvx
