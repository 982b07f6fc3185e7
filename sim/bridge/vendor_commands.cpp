// The vendor sub-commands (CDB byte 0 = 0x20, byte 1 = sub-command, bytes 2-9 per command).
// Every byte a command does not use must be zero; a sub-command not in the table is refused.
#include <algorithm>
#include <initializer_list>

#include "sim/bridge/aes_engine.h"
#include "sim/bridge/authentication.h"
#include "sim/bridge/commands.h"
#include "sim/bridge/medium.h"
#include "sim/bridge/wrapping.h"

namespace kvx::sim {

bool OthersZero(std::span<const std::uint8_t, 10> cdb, std::initializer_list<std::size_t> used) {
    for (std::size_t i = 2; i < 10; ++i) {
        if (cdb[i] != 0 && std::find(used.begin(), used.end(), i) == used.end()) {
            return false;
        }
    }
    return true;
}

namespace {

using Cdb = std::span<const std::uint8_t, 10>;

void PutLe32(std::span<std::uint8_t> out, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// --- 0x80 / 0xBB capability words -------------------------------------------------------------
Shape WordShape(const BridgeState&, Cdb cdb) {
    return OthersZero(cdb, {}) ? Shape::Of(DataDirection::kIn, 4)
                               : Shape::Refuse(kInvalidField, "bytes 2-9 not zero");
}

Outcome CapabilityRun(CommandContext& c) {
    PutLe32(c.data, CapabilityWord(c.state));
    return Outcome::Good(4);
}

Outcome ExtendedCapabilityRun(CommandContext& c) {
    PutLe32(c.data, ExtendedCapabilityWord(c.state));
    return Outcome::Good(4);
}

// --- 0xCF sector read/write ----------------------------------------------------------------------
constexpr std::uint8_t kFlagRead = 0x01;
constexpr std::uint8_t kFlagHidden = 0x02;

Shape SectorShape(const BridgeState& s, Cdb cdb) {
    const std::uint8_t flags = cdb[6];
    const std::uint64_t lba = BigEndian(cdb.subspan(2, 4));
    const std::uint32_t count = BigEndian(cdb.subspan(7, 2));
    if ((flags & ~(kFlagRead | kFlagHidden)) != 0 || cdb[9] != 0) {
        return Shape::Refuse(kInvalidField, "unknown flag bits");
    }
    if (count == 0) {
        return Shape::Refuse(kInvalidField, "sector count 0");
    }
    if ((flags & kFlagHidden) != 0 && !s.aesEngine) {
        return Shape::Refuse(kInvalidField, "hidden area needs the AES engine");
    }
    if (lba + count > s.sectors) {
        return Shape::Refuse(kLbaOutOfRange, "beyond the medium");
    }
    return Shape::Of((flags & kFlagRead) != 0 ? DataDirection::kIn : DataDirection::kOut,
                     count * kSectorSize);
}

Outcome SectorRun(CommandContext& c) {
    const std::uint8_t flags = c.cdb[6];
    const auto& image = (flags & kFlagHidden) != 0 ? c.paths.hidden : c.paths.medium;
    const std::uint64_t lba = BigEndian(c.cdb.subspan(2, 4));
    const bool hidden = (flags & kFlagHidden) != 0;
    if ((flags & kFlagRead) != 0) {
        if (!ReadSectors(image, lba, c.data)) {
            return Outcome::Check(kMediumError, "image unreadable");
        }
        if (!hidden) {
            EngineDecipher(c.state, lba, c.data);
        }
    } else if (!(hidden ? WriteSectors(image, lba, c.data)
                        : WriteSectors(image, lba, EngineEnciphered(c.state, lba, c.data)))) {
        return Outcome::Check(kWriteFault, "image not written");
    } else {
        NoteSectorWrite(c, lba, static_cast<std::uint32_t>(c.data.size() / kSectorSize),
                        (flags & kFlagHidden) != 0);
    }
    return Outcome::Good(static_cast<std::uint32_t>(c.data.size()));
}

// --- 0xD0 identify -------------------------------------------------------------------------------
Shape IdentifyShape(const BridgeState& s, Cdb cdb) {
    const bool ata = cdb[6] == 0xEC && cdb[8] == 1 && OthersZero(cdb, {6, 8});
    const bool flash = cdb[7] == 1 && OthersZero(cdb, {7});
    if (ata && s.media == Media::kHdd) {
        return Shape::Of(DataDirection::kIn, 512);
    }
    if (flash && s.media == Media::kFlash) {
        return Shape::Of(DataDirection::kIn, 4);
    }
    return Shape::Refuse(kInvalidField,
                         ata || flash ? "identify form of the other medium" : "bad identify form");
}

Outcome IdentifyRun(CommandContext& c) {
    if (c.state.media == Media::kHdd) {
        const auto data = AtaIdentifyData(c.state);
        std::copy(data.begin(), data.end(), c.data.begin());
        return Outcome::Good(512);
    }
    PutLe32(c.data,
            static_cast<std::uint32_t>(std::min<std::uint64_t>(c.state.sectors, 0xFFFFFFFF)));
    return Outcome::Good(4);
}

constexpr VendorCommand kVendorCommands[] = {
    {0x80, "PASSTHRU_GET_DEV_CAPS", WordShape, CapabilityRun},
    {0xBB, "PASSTHRU_GETEXT_DEV_CAPS", WordShape, ExtendedCapabilityRun},
    {0xC8, "PASSTHRU_AUTHENTICATE", AuthenticateShape, AuthenticateRun},
    {0xCF, "PASSTHRU_HIDDEN_RDWR", SectorShape, SectorRun},
    {0x88, "FORMAT STEP SET", FormatStepShape, FormatStepRun},
    {0x89, "FORMAT STEP CLEAR", FormatStepShape, FormatStepRun},
    {0xD0, "IDENTIFY", IdentifyShape, IdentifyRun},
    {0xF0, "PASSTHRU_AES_SET_KEY", AesKeyShape, AesKeyRun},
    {0xF1, "PASSTHRU_AES_SET_IV", AesIvShape, AesIvRun},
    {0xF2, "AES Command Enable", AesEnableShape, AesEnableRun},
    {0xF4, "Sec AES Command Enable", SecAesEnableShape, SecAesEnableRun},
    {0xF9, "END SESSION", EndSessionShape, EndSessionRun},
};

}  // namespace

const VendorCommand* FindVendorCommand(std::uint8_t sub) {
    for (const auto& c : kVendorCommands) {
        if (c.sub == sub) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace kvx::sim
