// The library's process-wide state: lives from library load to unload, no lock (one export at a
// time per process).
#pragma once

#include <cstdint>
#include <list>

#include "discovery/usb_device_record.h"
#include "frame/os_type.h"
#include "host/host.h"

namespace kvx {

// How vendor commands are hidden on the bus; the values are the ones the capability check has
// always stored (the device asks for wrapping, and for AES rather than the byte scramble).
enum WrapMode : std::uint8_t {
    kWrapNone = 0,
    kWrapScrambled = 2,
    kWrapAes = 4,
};

// Vendor commands go out as opcode 0x21 with the sub-command in byte 9 on an ATAPI bus; any
// non-zero value means on, 4 is the one the identification stores.
enum AtapiRewrite : std::uint8_t {
    kAtapiRewriteOff = 0,
    kAtapiRewriteOn = 4,
};

// Commands go through the USB hub side channel instead of a drive handle (a user who may not
// open the drive).
enum HubMode : std::uint32_t {
    kHubModeOff = 0,
    kHubModeOn = 1,
};

struct DeviceState {
    HostHandle drive = kInvalidHandle;  // opened by the identification, closed by every export
    std::uint32_t chipFlag = 0;         // a device with chip code 8A1C was seen
    std::uint32_t chipListFlag =
        0;  // chip code matched a configured entry, or hub scan found devices
    OsTypeCode osType = kOsUnknown;
    std::uint8_t adapterId = 0;
    AtapiRewrite atapiRewrite = kAtapiRewriteOff;
    WrapMode wrapMode = kWrapNone;
    std::uint32_t ivWords[3] = {};  // kept between the format steps
    std::uint8_t wrapCounter = 0;
    std::uint8_t hubCounter = 0;
    std::uint8_t sessionKey[16] = {};
    HubMode hubMode = kHubModeOff;
    std::list<UsbDeviceRecord> devices;
    UsbDeviceRecord* current = nullptr;  // record the hub side channel addresses
    std::uint16_t deviceCounter = 0;
    std::uint32_t connectedPorts = 0;
    // The drive's 20-byte unique identifier (ATA serial field), all zero until a hard disk was
    // identified; the key of the password data block and the identifier login's secret.
    std::uint8_t uniqueId[20] = {};

    // The platform seam every library routine goes through.
    Host& host() const { return ActiveHost(); }
};

// An NT-family export with no drive open: hub mode, where the side channel stands in for the
// drive, or an identification that opened nothing. Sector writers refuse to start then.
bool LacksDriveHandle(const DeviceState& state);

// The one instance of this process.
DeviceState& GlobalDeviceState();

// Returns the state to what library load gives (the session key is wiped). For tests and unload.
void ResetDeviceState();

}  // namespace kvx
