// The standard INQUIRY of the device discovery and the identity texts it yields, with the
// matching rules shared by the identification and the device checks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/device_state.h"
#include "transport/dispatcher.h"

namespace kvx {

// Allocation lengths the discovery asks for.
inline constexpr std::uint8_t kInquiryStandard = 36;
inline constexpr std::uint8_t kInquiryUsbIds = 46;
inline constexpr std::uint8_t kInquiryCapabilities = 58;
inline constexpr std::uint8_t kInquiryFull = 77;

// The chip code: four ASCII characters at bytes 54-57 (chip_codes.h names the ones that matter).
inline constexpr std::size_t kChipCodeAt = 54;
inline constexpr std::size_t kChipCodeLength = 4;
inline constexpr std::size_t kChipCodeEnd = kChipCodeAt + kChipCodeLength;

// Capability word bits (INQUIRY bytes 48-51).
inline constexpr std::uint32_t kCapWrapAllowed = 1u << 26;
inline constexpr std::uint32_t kCapAesWrap = 1u << 22;

struct InquiryData {
    std::array<std::uint8_t, kInquiryFull> bytes{};

    std::u16string Vendor() const;       // bytes 8-15
    std::u16string Product() const;      // bytes 16-31
    std::u16string Revision() const;     // bytes 32-35
    std::uint16_t VendorId() const;      // bytes 42-43, little-endian
    std::uint16_t ProductId() const;     // bytes 44-45
    std::uint32_t Capabilities() const;  // bytes 48-51
    std::u16string ChipCode() const;     // bytes 54-57 as four characters
};

// INQUIRY with the given allocation length on a drive handle (adapter 255). What the device did
// not send stays zero; the outcome's delivered says how much it sent.
CommandOutcome Inquiry(DeviceState& state, HostHandle drive, std::uint8_t length,
                       InquiryData& data);

// Whether `text` contains `wanted`, both upper-cased. An empty `wanted` never matches.
bool ContainsText(std::u16string_view text, std::u16string_view wanted);

// A USB identifier as "0x%04x" (lower case) or "0x%04X".
std::u16string IdText(std::uint16_t id, bool upper = false);

}  // namespace kvx
