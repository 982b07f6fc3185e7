#include "sim/bridge/identity.h"

#include <algorithm>
#include <string_view>

namespace kvx::sim {
namespace {

void PutPadded(std::span<std::uint8_t> field, std::string_view text) {
    std::fill(field.begin(), field.end(), ' ');
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void PutWord(std::array<std::uint8_t, 512>& data, std::size_t word, std::uint16_t v) {
    data[2 * word] = static_cast<std::uint8_t>(v);
    data[2 * word + 1] = static_cast<std::uint8_t>(v >> 8);
}

// ATA strings: two characters per word, the first in the high byte; space padded.
void PutAtaString(std::array<std::uint8_t, 512>& data, std::size_t firstWord, std::size_t words,
                  std::string_view text) {
    for (std::size_t i = 0; i < words; ++i) {
        const char c0 = 2 * i < text.size() ? text[2 * i] : ' ';
        const char c1 = 2 * i + 1 < text.size() ? text[2 * i + 1] : ' ';
        PutWord(data, firstWord + i,
                static_cast<std::uint16_t>((static_cast<std::uint8_t>(c0) << 8) |
                                           static_cast<std::uint8_t>(c1)));
    }
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

std::array<std::uint8_t, kInquiryLength> InquiryData(const BridgeState& state, Unit unit) {
    std::array<std::uint8_t, kInquiryLength> d{};
    const bool cd = unit == Unit::kCd;
    d[0] = cd ? 0x05 : 0x00;                                    // CD-ROM or direct-access device
    d[1] = (cd || state.media == Media::kFlash) ? 0x80 : 0x00;  // removable medium
    d[2] = 0x02;
    d[3] = 0x02;  // response data format
    d[4] = static_cast<std::uint8_t>(kInquiryLength - 5);
    PutPadded(std::span(d).subspan(8, 8), cd ? state.vendor : state.secVendor);
    PutPadded(std::span(d).subspan(16, 16), cd ? state.product : state.secProduct);
    PutPadded(std::span(d).subspan(32, 4), state.revision);
    d[42] = static_cast<std::uint8_t>(state.vid);
    d[43] = static_cast<std::uint8_t>(state.vid >> 8);
    d[44] = static_cast<std::uint8_t>(state.pid);
    d[45] = static_cast<std::uint8_t>(state.pid >> 8);
    PutLe32(&d[48], InquiryCapabilityWord(state));
    std::copy_n(state.chip.begin(), std::min<std::size_t>(4, state.chip.size()), d.begin() + 54);
    return d;
}

std::uint32_t InquiryCapabilityWord(const BridgeState& state) {
    if (state.inquiryCaps) {
        return *state.inquiryCaps;  // a device that announces what it was told to
    }
    std::uint32_t word = 0;
    if (state.wrap != Wrap::kNone) {
        word |= 1u << 26;
    }
    if (state.wrap == Wrap::kAes) {
        word |= 1u << 22;
    }
    return word;
}

std::uint32_t CapabilityWord(const BridgeState& state) {
    std::uint32_t word = 1u << 31;
    if (state.media == Media::kFlash) {
        word |= 1u << 9;
    }
    if (state.passwordSet) {
        word |= 1u << 16;
    }
    if (state.secureOpen) {
        word |= 1u << 17;
    }
    return word;
}

std::uint32_t ExtendedCapabilityWord(const BridgeState& state) {
    return state.aesEngine ? 1u << 22 : 0;
}

std::array<std::uint8_t, 512> AtaIdentifyData(const BridgeState& state) {
    std::array<std::uint8_t, 512> d{};
    PutWord(d, 0, 0x0040);  // fixed medium
    PutWord(d, 1, 16383);
    PutWord(d, 3, 16);
    PutWord(d, 6, 63);
    PutAtaString(d, 10, 10, state.serial);
    PutAtaString(d, 23, 4, state.revision);
    PutAtaString(d, 27, 20,
                 TrimRight(state.secVendor).empty()
                     ? state.secProduct
                     : std::string(TrimRight(state.secVendor)) + " " + state.secProduct);
    PutWord(d, 49, 0x0200);  // LBA supported
    const std::uint64_t lba28 = std::min<std::uint64_t>(state.sectors, 0x0FFFFFFF);
    PutWord(d, 60, static_cast<std::uint16_t>(lba28));
    PutWord(d, 61, static_cast<std::uint16_t>(lba28 >> 16));
    PutWord(d, 83, 0x4000 | 0x0400);  // valid, 48-bit address feature set
    PutWord(d, 86, 0x0400);
    for (std::size_t i = 0; i < 4; ++i) {
        PutWord(d, 100 + i, static_cast<std::uint16_t>(state.sectors >> (16 * i)));
    }
    return d;
}

std::vector<std::uint8_t> UsbDeviceDescriptor(const BridgeState& state) {
    return {18,
            0x01,
            0x00,
            0x02,  // USB 2.0
            0x00,
            0x00,
            0x00,
            64,
            static_cast<std::uint8_t>(state.vid),
            static_cast<std::uint8_t>(state.vid >> 8),
            static_cast<std::uint8_t>(state.pid),
            static_cast<std::uint8_t>(state.pid >> 8),
            0x00,
            0x01,  // device release 1.00
            1,
            2,
            3,  // manufacturer, product, serial number strings
            1};
}

std::vector<std::uint8_t> UsbConfigurationDescriptor() {
    return {
        9, 0x02, 32,   0,    1,    1,    0,    0x80, 50,  // configuration 1, bus powered, 100 mA
        9, 0x04, 0,    0,    2,    0x08, 0x06, 0x50, 0,   // mass storage, SCSI, bulk-only
        7, 0x05, 0x81, 0x02, 0x00, 0x02, 0,               // bulk in, 512
        7, 0x05, 0x02, 0x02, 0x00, 0x02, 0,               // bulk out, 512
    };
}

std::vector<std::uint8_t> AsciiStringDescriptor(std::string_view text) {
    text = text.substr(0, 126);
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (char c : text) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

std::optional<std::vector<std::uint8_t>> UsbStringDescriptor(const BridgeState& state,
                                                             std::uint8_t index) {
    switch (index) {
        case 0:
            return std::vector<std::uint8_t>{4, 0x03, 0x09, 0x04};
        case 1:
            return AsciiStringDescriptor(TrimRight(state.vendor));
        case 2:
            return AsciiStringDescriptor(TrimRight(state.product));
        case 3:
            return AsciiStringDescriptor(state.serial);
        default:
            return std::nullopt;
    }
}

}  // namespace kvx::sim
