// What the emulated device says about itself: INQUIRY data, capability words, ATA IDENTIFY data
// and its USB descriptors.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/bridge/bridge_state.h"

namespace kvx::sim {

enum class Unit : std::uint8_t { kCd, kSecure };

inline constexpr std::size_t kInquiryLength = 77;

// Standard header, vendor 8-15, product 16-31, revision 32-35, USB ids 42-45 (little-endian),
// capability word 48-51 (little-endian), chip code 54-57; the rest zero.
std::array<std::uint8_t, kInquiryLength> InquiryData(const BridgeState& state, Unit unit);

// INQUIRY bytes 48-51: bit 26 = vendor commands may be wrapped, bit 22 = the AES form.
std::uint32_t InquiryCapabilityWord(const BridgeState& state);
// Reply of vendor 0x80: bit 9 flash, bit 16 password set, bit 17 secure unit open,
// bit 31 extended word available.
std::uint32_t CapabilityWord(const BridgeState& state);
// Reply of vendor 0xBB: bit 22 AES engine.
std::uint32_t ExtendedCapabilityWord(const BridgeState& state);

// ATA IDENTIFY DEVICE data of the hard disk: serial number in words 10-19 (ATA byte order, so
// bytes 20-39 hold each pair of characters swapped), 28-bit sector count in words 60-61, the
// 48-bit feature bit (word 83 bit 10) and the 48-bit sector count in words 100-103.
std::array<std::uint8_t, 512> AtaIdentifyData(const BridgeState& state);

// USB descriptors: a mass-storage device with one configuration of one bulk-only interface;
// strings 1 = vendor, 2 = product, 3 = serial number, 0 = the language list (0x0409).
std::vector<std::uint8_t> UsbDeviceDescriptor(const BridgeState& state);
std::vector<std::uint8_t> UsbConfigurationDescriptor();
std::optional<std::vector<std::uint8_t>> UsbStringDescriptor(const BridgeState& state,
                                                             std::uint8_t index);

// A string descriptor of ASCII text (UTF-16LE payload).
std::vector<std::uint8_t> AsciiStringDescriptor(std::string_view text);

}  // namespace kvx::sim
