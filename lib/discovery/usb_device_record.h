// One USB device that the host-controller scan found and matched against the configuration.
#pragma once

#include <cstdint>

namespace kvx {

struct UsbDeviceRecord {
    std::uint8_t driveLetter = 0;  // ASCII letter of the device's CD unit; 0 = not found
    std::uint8_t deviceNumberLow = 0;
    char hubIdPart[512] = {};       // hub name between the first and second '#'
    char hubInstancePart[30] = {};  // hub name between the second and third '#'
    std::uint8_t port = 0;          // the hub side channel's connection index
    std::uint8_t hubNumber = 0;
    std::uint16_t parentVendorId = 0;
    std::uint16_t parentProductId = 0;
    char hubDevicePath[512] = {};  // "\\.\" + hub name, ASCII, zero-terminated
    std::uint8_t state = 0;        // 0 usable, 1 connected but not configured, 2 neither
    char16_t vendorIdText[10] = {};
    char16_t productIdText[10] = {};
    char16_t serial[15] = {};
    std::uint32_t deviceNumber = 0;
};

}  // namespace kvx
