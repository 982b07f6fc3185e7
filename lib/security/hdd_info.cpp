#include "security/hdd_info.h"
#include "frame/errors.h"

#include <cstring>

#include "crypto/wipe.h"
#include "frame/export_frame.h"
#include "frame/os_type.h"
#include "frame/request_text.h"
#include "transport/direction.h"
#include "transport/vendor.h"

namespace kvx {
namespace {

constexpr char16_t kSection[] = u"qdaGetHDDInfo()";
constexpr char16_t kExtSection[] = u"qdaGetHDDInfo";
constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::size_t kSerialAt = 20;

std::uint32_t Le32(const std::uint8_t* b) {
    return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
           (std::uint32_t{b[3]} << 24);
}

std::uint16_t Word(const std::uint8_t* identify, std::size_t word) {
    return static_cast<std::uint16_t>(identify[2 * word] | (identify[2 * word + 1] << 8));
}

std::optional<std::uint32_t> ReadWord(DeviceState& state, std::uint8_t subCommand) {
    std::uint8_t reply[4];
    if (!SendVendor(state, VendorCdb(subCommand), reply, sizeof reply, kDirIn)) {
        return std::nullopt;
    }
    return Le32(reply);
}

// Total sectors from the ATA IDENTIFY data; nullopt for a medium over 2 TiB.
std::optional<std::uint32_t> AtaTotalSectors(const std::uint8_t* identify) {
    if (Word(identify, 102) != 0 || Word(identify, 103) != 0) {
        return std::nullopt;
    }
    const bool lba48 = (Word(identify, 83) & (1u << 10)) != 0;
    const std::size_t low = lba48 ? 100 : 60;
    return std::uint32_t{Word(identify, low)} | (std::uint32_t{Word(identify, low + 1)} << 16);
}

}  // namespace

std::optional<std::uint32_t> ReadCapabilities(DeviceState& state) {
    return ReadWord(state, kVendorGetCaps);
}

bool GetHddInfo(DeviceState& state, const DiagnosticLog& log, std::uint8_t& errorByte,
                MediumInfo& info) {
    GetOsType(state);
    // Hub mode reads through the side channel: only a missing drive outside it stops the query.
    if (LacksDriveHandle(state) && state.hubMode == kHubModeOff) {
        SetErrorOnce(errorByte, kErrNoDriveHandle);
        return false;
    }
    const std::optional<std::uint32_t> caps = ReadCapabilities(state);
    if (!caps) {
        SetErrorOnce(errorByte, kErrCapsFailed);
        log.WriteIn(kSection, u"PASSTHRU_GET_DEV_CAPS command failed", kFail);
        return false;
    }
    const bool flash = (*caps & kCapFlash) != 0;
    info.mediaType = flash ? kMediaFlash : kMediaHardDisk;
    log.WriteIn(kSection, u"Media in the device", flash ? u"Flash Media" : u"HDD");
    if ((*caps & kCapExtended) != 0) {
        const std::optional<std::uint32_t> ext = ReadWord(state, kVendorGetExtCaps);
        if (!ext) {
            SetErrorOnce(errorByte, kErrExtCapsFailed);
            log.WriteIn(kExtSection, u"PASSTHRU_GETEXT_DEV_CAPS command failed", kFail);
            return false;
        }
        if ((*ext & kExtCapAesEngine) != 0) {
            info.aesEngine = true;
            log.WriteIn(kExtSection, u"AES support enabled", u"YES");
        }
    }
    log.WriteIn(kSection, u"Going to issue the IdentifyData Command", u"0xEC");

    std::optional<std::uint32_t> total;
    if (flash) {
        // The identifier of a flash device is not the block key; it comes from the data block.
        SecureWipe(state.uniqueId, sizeof state.uniqueId);
        VendorCdb cdb(kVendorIdentify);
        cdb.bytes[7] = 1;
        std::uint8_t reply[4];
        if (SendVendor(state, cdb, reply, sizeof reply, kDirIn)) {
            total = Le32(reply);
        }
    } else {
        VendorCdb cdb(kVendorIdentify);
        cdb.bytes[6] = kAtaIdentify;
        cdb.bytes[8] = 1;
        std::uint8_t identify[kSectorSize];
        if (SendVendor(state, cdb, identify, sizeof identify, kDirIn)) {
            std::memcpy(state.uniqueId, identify + kSerialAt, sizeof state.uniqueId);
            total = AtaTotalSectors(identify);
            if (total) {
                log.WriteIn(kSection, u"Total num of sectors", FormatText("0x%X", *total));
            }
        }
    }
    if (!total) {
        log.WriteIn(kSection, u"IdentifyData Command to the drive failed", kFail);
        SetErrorOnce(errorByte, kErrIdentifyFailed);
        return false;
    }
    log.WriteIn(kSection, u"Number of sectors in the Drive", FormatText("0x%x", *total));
    log.WriteIn(kSection, u"Size of a Sector in the Drive", FormatText("0x%x", kSectorSize));
    log.WriteIn(kSection, u"Size of the drive in MB", FormatText("0x%x", *total / kSectorsPerMb));
    if (*total < kSectorsPerMb) {
        return false;
    }
    info.sizeMb = *total / kSectorsPerMb;
    info.totalSectors = *total;
    info.sectorSize = kSectorSize;
    return true;
}

}  // namespace kvx
