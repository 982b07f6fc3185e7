#include "discovery/identify.h"
#include "frame/errors.h"

#include <iterator>

#include "discovery/chip_codes.h"
#include "frame/export_frame.h"
#include "frame/os_type.h"
#include "frame/request_text.h"
#include "host/text.h"

namespace kvx {
namespace {

constexpr unsigned kModels = 11;       // configuration indices 0 to 10
constexpr unsigned kChipEntries = 26;  // "ChipNum0" to "ChipNum25"
constexpr std::size_t kIdentityChars = 200;
constexpr std::size_t kIdChars = 20;

// Hub mode: the first usable (state 0) record from the current one on whose CD letter is `letter`.
bool IdentifyByRecord(DeviceState& state, std::uint8_t letter) {
    auto it = state.devices.begin();
    while (it != state.devices.end() && &*it != state.current) {
        ++it;
    }
    for (; it != state.devices.end(); ++it) {
        state.current = &*it;
        if (it->state == 0 && it->driveLetter == letter) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::u16string VolumeName(char16_t letter) {
    return std::u16string(u"\\\\.\\") + letter + u":";
}

OpenResult OpenVolume(Host& host, char16_t letter) {
    const std::u16string name = VolumeName(letter);
    OpenResult drive = host.Open(name, kAccessRead | kAccessWrite, kShareRead | kShareWrite);
    if (drive.handle == kInvalidHandle) {
        drive = host.Open(name, kAccessRead | kAccessWrite, kShareRead);
    }
    return drive;
}

WrapMode WrapModeFor(const Config& config, std::uint32_t capabilities) {
    if (config.Read(kVendorSection, u"AES", 10, u"NO") != u"YES" ||
        (capabilities & kCapWrapAllowed) == 0) {
        return kWrapNone;
    }
    return (capabilities & kCapAesWrap) != 0 ? kWrapAes : kWrapScrambled;
}

bool ChipCodeListed(const Config& config, std::u16string_view chipCode) {
    for (unsigned k = 0; k < kChipEntries; ++k) {
        const std::u16string entry = config.ReadIndexed(u"Inq_ChipNum", u"ChipNum", k, 5);
        if (entry.empty()) {
            return false;
        }
        if (ContainsText(chipCode, entry)) {
            return true;
        }
    }
    return false;
}

bool IsSpecialChip(std::u16string_view chipCode) {
    return UpperAscii(chipCode) == kSpecialChipCode;
}

bool IdentifyDevice(DeviceState& state, std::uint8_t letter, std::uint8_t& errorByte) {
    errorByte = 0;
    Host& host = state.host();
    const Config config(host);
    if (!config.Exists()) {
        SetErrorOnce(errorByte, kErrConfigMissing);
        return false;
    }
    GetOsType(state);
    if (state.osType != kOsNt5OrLater) {
        return false;
    }
    if (state.hubMode != 0) {
        // The hub scan's records stand for the device; no drive is opened.
        return IdentifyByRecord(state, letter);
    }
    const OpenResult drive = OpenVolume(host, static_cast<char16_t>(letter));
    if (drive.handle == kInvalidHandle) {
        SetErrorOnce(errorByte, kErrNoDriveHandle);
        return false;
    }
    state.drive = drive.handle;

    bool found = false;
    InquiryData standard;
    if (Inquiry(state, state.drive, kInquiryStandard, standard)) {
        for (unsigned i = 0; i < kModels && !found; ++i) {
            const std::u16string product =
                config.ReadIndexed(kVendorSection, u"PRODUCTSTR", i, kIdentityChars);
            const std::u16string vendor =
                config.ReadIndexed(kVendorSection, u"VENDORSTR", i, kIdentityChars);
            if (!ContainsText(standard.Product(), product) ||
                !ContainsText(standard.Vendor(), vendor)) {
                continue;
            }
            InquiryData full;
            if (!Inquiry(state, state.drive, kInquiryCapabilities, full) ||
                (full.VendorId() == 0 && full.ProductId() == 0)) {
                break;
            }
            const std::u16string vid = config.ReadIndexed(kVendorSection, u"VID", i, kIdChars);
            const std::u16string pid = config.ReadIndexed(kVendorSection, u"PID", i, kIdChars);
            if (vid.empty() || pid.empty()) {
                break;
            }
            if (ContainsText(IdText(full.VendorId()), vid) &&
                ContainsText(IdText(full.ProductId()), pid)) {
                found = true;
                const std::u16string chip = full.ChipCode();
                state.wrapMode = WrapModeFor(config, full.Capabilities());
                state.chipFlag = IsSpecialChip(chip) ? 1 : 0;
                state.chipListFlag = ChipCodeListed(config, chip) ? 1 : 0;
            }
        }
    }
    // A failed property query keeps the drive; only the ATAPI decision is skipped.
    if (found) {
        if (const std::optional<StorageBus> bus = host.QueryBusType(state.drive)) {
            state.atapiRewrite = *bus == kBusAtapi ? kAtapiRewriteOn : kAtapiRewriteOff;
        }
    } else {
        // A drive that is not the device gets nothing more, not even the end of a session.
        host.Close(state.drive);
        state.drive = kInvalidHandle;
    }
    return found;
}

}  // namespace kvx
