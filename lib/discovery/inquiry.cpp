#include "discovery/inquiry.h"

#include <cstdio>

#include "frame/request_text.h"
#include "host/text.h"

namespace kvx {
namespace {

std::u16string Field(const std::array<std::uint8_t, kInquiryFull>& bytes, std::size_t at,
                     std::size_t size) {
    std::u16string text;
    for (std::size_t i = at; i < at + size && bytes[i] != 0; ++i) {
        text.push_back(static_cast<char16_t>(bytes[i]));
    }
    return text;
}

}  // namespace

std::u16string InquiryData::Vendor() const {
    return Field(bytes, 8, 8);
}
std::u16string InquiryData::Product() const {
    return Field(bytes, 16, 16);
}
std::u16string InquiryData::Revision() const {
    return Field(bytes, 32, 4);
}
std::uint16_t InquiryData::VendorId() const {
    return static_cast<std::uint16_t>(bytes[42] | (bytes[43] << 8));
}
std::uint16_t InquiryData::ProductId() const {
    return static_cast<std::uint16_t>(bytes[44] | (bytes[45] << 8));
}
std::uint32_t InquiryData::Capabilities() const {
    return std::uint32_t{bytes[48]} | (std::uint32_t{bytes[49]} << 8) |
           (std::uint32_t{bytes[50]} << 16) | (std::uint32_t{bytes[51]} << 24);
}
std::u16string InquiryData::ChipCode() const {
    std::u16string code;
    for (std::size_t i = kChipCodeAt; i < kChipCodeEnd; ++i) {
        code.push_back(static_cast<char16_t>(bytes[i]));
    }
    return code;
}

CommandOutcome Inquiry(DeviceState& state, HostHandle drive, std::uint8_t length,
                       InquiryData& data) {
    data.bytes.fill(0);
    if (length > data.bytes.size()) {
        CommandOutcome tooLong;
        tooLong.answer.osError = kErrorInvalidParameter;
        return tooLong;
    }
    const std::uint8_t cdb[kMaxCdbLength] = {0x12, 0, 0, 0, length, 0};
    constexpr std::uint8_t kInquiryCdbLength = 10;
    const CommandTarget target{state.osType, drive, kNoAdapter};
    return SendCdb(state, target, cdb, kInquiryCdbLength, data.bytes.data(), length, kDirIn);
}

bool ContainsText(std::u16string_view text, std::u16string_view wanted) {
    if (wanted.empty()) {
        return false;
    }
    return UpperAscii(text).find(UpperAscii(wanted)) != std::u16string::npos;
}

std::u16string IdText(std::uint16_t id, bool upper) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "0x%04X" : "0x%04x", static_cast<unsigned>(id));
    return Latin1ToUtf16(text);
}

}  // namespace kvx
