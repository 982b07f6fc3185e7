// The library's process-wide state: lives from library load to unload, no lock (one export at a
// time per process).
#pragma once

#include <cstdint>
#include <list>

#include "discovery/usb_device_record.h"
#include "host/host.h"

namespace kvx {

struct DeviceState {
    HostHandle drive = kInvalidHandle;  // opened by the identification, closed by every export
    std::uint32_t chipFlag = 0;         // a device with chip code 8A1C was seen
    std::uint32_t chipListFlag =
        0;  // chip code matched a configured entry, or hub scan found devices
    std::uint8_t osType = 0;
    std::uint8_t adapterId = 0;
    std::uint8_t atapiRewrite = 0;  // 4 = vendor commands go out as opcode 0x21
    std::uint8_t wrapMode = 0;      // 0 plain, 2 scrambled, 4 AES
    std::uint32_t ivWords[3] = {};  // kept between the format steps
    std::uint8_t wrapCounter = 0;
    std::uint8_t hubCounter = 0;
    std::uint8_t sessionKey[16] = {};
    std::uint32_t hubMode = 0;  // 1 = commands go through the hub side channel
    std::list<UsbDeviceRecord> devices;
    UsbDeviceRecord* current = nullptr;  // record the hub side channel addresses
    std::uint16_t deviceCounter = 0;
    std::uint32_t connectedPorts = 0;
    // The drive's 20-byte unique identifier (ATA serial field), all zero until a hard disk was
    // identified; the key of the password data block and the identifier login's secret.
    std::uint8_t uniqueId[20] = {};
    // Bytes the last data-in command delivered to its caller (the rest of the buffer is zero).
    std::uint32_t lastDataIn = 0;

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
