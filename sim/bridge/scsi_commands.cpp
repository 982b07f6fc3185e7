// Standard commands of the two units and the vendor envelopes (0x20 on USB, 0x21 on ATAPI).
#include <algorithm>
#include <array>

#include "sim/bridge/aes_engine.h"
#include "sim/bridge/commands.h"
#include "sim/bridge/medium.h"

namespace kvx::sim {

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t v = 0;
    for (std::uint8_t b : bytes) {
        v = (v << 8) | b;
    }
    return v;
}

std::size_t GroupCdbLength(std::uint8_t opcode) {
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 1:
        case 2:
            return 10;
        case 4:
            return 16;
        case 5:
            return 12;
        default:
            return 10;
    }
}

bool CdbLengthFits(std::span<const std::uint8_t> cdb) {
    if (cdb.empty()) {
        return false;
    }
    const std::size_t group = GroupCdbLength(cdb[0]);
    if (cdb.size() == group) {
        return true;
    }
    return group == 6 && cdb.size() == 10 &&
           std::all_of(cdb.begin() + 6, cdb.end(), [](std::uint8_t b) { return b == 0; });
}

std::optional<std::array<std::uint8_t, 10>> VendorEnvelope(std::span<const std::uint8_t> cdb) {
    if (cdb.size() != 10 || (cdb[0] != 0x20 && cdb[0] != 0x21)) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 10> envelope{};
    std::copy(cdb.begin(), cdb.end(), envelope.begin());
    if (cdb[0] == 0x21) {
        // ATAPI form: byte 1 = 0, the sub-command in byte 9.
        envelope[0] = 0x20;
        envelope[1] = cdb[9];
        envelope[9] = 0;
    }
    return envelope;
}

namespace {

bool ZeroFrom(std::span<const std::uint8_t> cdb, std::size_t first, std::size_t last) {
    for (std::size_t i = first; i <= last && i < cdb.size(); ++i) {
        if (cdb[i] != 0) {
            return false;
        }
    }
    return true;
}

// Block size and block count of a unit as the host's READ(10)/WRITE(10) address it.
struct UnitGeometry {
    std::uint32_t blockSize;
    std::uint64_t blocks;
    std::uint64_t firstSector;  // on the medium
};

UnitGeometry Geometry(const BridgeState& s, Unit unit) {
    if (unit == Unit::kCd) {
        return {kCdBlockSize, s.cdSectors / (kCdBlockSize / kSectorSize), s.cdStart};
    }
    return {kSectorSize, s.secSectors, s.secStart};
}

// --- TEST UNIT READY ------------------------------------------------------------------------
Shape TestUnitReadyShape(const BridgeState&, Unit, std::span<const std::uint8_t> cdb) {
    return ZeroFrom(cdb, 1, 4) ? Shape::None() : Shape::Refuse(kInvalidField, "reserved bytes");
}

Outcome Nothing(CommandContext&) {
    return Outcome::Good(0);
}

// --- INQUIRY --------------------------------------------------------------------------------
Shape InquiryShape(const BridgeState&, Unit, std::span<const std::uint8_t> cdb) {
    if (cdb[1] != 0 || cdb[2] != 0) {
        return Shape::Refuse(kInvalidField, "vital product data not supported");
    }
    const std::uint32_t allocation = BigEndian(cdb.subspan(3, 2));
    return allocation == 0 ? Shape::None() : Shape::Of(DataDirection::kIn, allocation);
}

Outcome InquiryRun(CommandContext& c) {
    const auto data = InquiryData(c.state, c.unit);
    const std::size_t n = std::min(c.data.size(), data.size());
    std::copy_n(data.begin(), n, c.data.begin());
    return Outcome::Good(static_cast<std::uint32_t>(n));
}

// --- START STOP UNIT ------------------------------------------------------------------------
Shape StartStopShape(const BridgeState&, Unit, std::span<const std::uint8_t> cdb) {
    if ((cdb[4] & ~0x03) != 0) {
        return Shape::Refuse(kInvalidField, "power conditions not supported");
    }
    return Shape::None();
}

Outcome StartStopRun(CommandContext& c) {
    const bool loadEject = (c.cdb[4] & 0x02) != 0;
    const bool start = (c.cdb[4] & 0x01) != 0;
    if (loadEject && !start && c.state.secureOpen) {
        // Eject: the secure unit closes and its drive letter goes away.
        c.state.secureOpen = false;
        c.stateChanged = true;
    }
    return Outcome::Good(0);
}

// --- READ CAPACITY(10) ----------------------------------------------------------------------
Shape ReadCapacityShape(const BridgeState&, Unit, std::span<const std::uint8_t> cdb) {
    return ZeroFrom(cdb, 1, 8) ? Shape::Of(DataDirection::kIn, 8)
                               : Shape::Refuse(kInvalidField, "reserved bytes");
}

Outcome ReadCapacityRun(CommandContext& c) {
    const UnitGeometry g = Geometry(c.state, c.unit);
    const std::uint64_t last = g.blocks == 0 ? 0 : g.blocks - 1;
    const std::uint32_t lastLba = last > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<std::uint32_t>(last);
    for (int i = 0; i < 4; ++i) {
        c.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(lastLba >> (24 - 8 * i));
        c.data[static_cast<std::size_t>(4 + i)] =
            static_cast<std::uint8_t>(g.blockSize >> (24 - 8 * i));
    }
    return Outcome::Good(8);
}

// --- READ(10) / WRITE(10) -------------------------------------------------------------------
Shape ReadWriteShape(const BridgeState& s, Unit unit, std::span<const std::uint8_t> cdb,
                     bool write) {
    if (write && unit == Unit::kCd) {
        return Shape::Refuse(kWriteProtected, "the CD unit is read-only");
    }
    const UnitGeometry g = Geometry(s, unit);
    const std::uint64_t lba = BigEndian(cdb.subspan(2, 4));
    const std::uint32_t count = BigEndian(cdb.subspan(7, 2));
    if (lba + count > g.blocks) {
        return Shape::Refuse(kLbaOutOfRange, "beyond the unit's last block");
    }
    if (count == 0) {
        return Shape::None();
    }
    return Shape::Of(write ? DataDirection::kOut : DataDirection::kIn, count * g.blockSize);
}

Shape Read10Shape(const BridgeState& s, Unit unit, std::span<const std::uint8_t> cdb) {
    return ReadWriteShape(s, unit, cdb, false);
}

Shape Write10Shape(const BridgeState& s, Unit unit, std::span<const std::uint8_t> cdb) {
    return ReadWriteShape(s, unit, cdb, true);
}

std::uint64_t FirstMediumSector(const CommandContext& c) {
    const UnitGeometry g = Geometry(c.state, c.unit);
    return g.firstSector +
           std::uint64_t{BigEndian(c.cdb.subspan(2, 4))} * (g.blockSize / kSectorSize);
}

Outcome Read10Run(CommandContext& c) {
    if (c.data.empty()) {
        return Outcome::Good(0);
    }
    if (!ReadSectors(c.paths.medium, FirstMediumSector(c), c.data)) {
        return Outcome::Check(kMediumError, "medium image unreadable");
    }
    EngineDecipher(c.state, FirstMediumSector(c), c.data);
    return Outcome::Good(static_cast<std::uint32_t>(c.data.size()));
}

Outcome Write10Run(CommandContext& c) {
    if (c.data.empty()) {
        return Outcome::Good(0);
    }
    if (!WriteSectors(c.paths.medium, FirstMediumSector(c),
                      EngineEnciphered(c.state, FirstMediumSector(c), c.data))) {
        return Outcome::Check(kWriteFault, "medium image not written");
    }
    return Outcome::Good(static_cast<std::uint32_t>(c.data.size()));
}

// --- vendor envelopes ---------------------------------------------------------------------------
// The vendor command's own data length, before the ATAPI form raises a short one.
Shape VendorShape(const BridgeState& s, Unit, std::span<const std::uint8_t> cdb) {
    // The plain form on an ATAPI bus is refused on the pass-through path (RunCommand); the hub
    // side channel reaches the firmware past the storage stack and carries it as it is.
    const bool atapiForm = cdb[0] == 0x21;
    if (atapiForm && s.bus != Bus::kAtapi) {
        return Shape::Refuse(kInvalidOpcode, "ATAPI form on a USB bus");
    }
    if (atapiForm && cdb[1] != 0) {
        return Shape::Refuse(kInvalidField, "ATAPI form with byte 1 set");
    }
    const auto envelope = VendorEnvelope(cdb);
    const VendorCommand* command = FindVendorCommand((*envelope)[1]);
    if (command == nullptr) {
        return Shape::Refuse(kInvalidField, "unknown vendor sub-command");
    }
    Shape shape = command->shape(s, *envelope);
    if (atapiForm && shape.transfer && shape.transfer->length > 0 &&
        shape.transfer->length < kAtapiMinimumTransfer) {
        shape.transfer->length = kAtapiMinimumTransfer;
    }
    return shape;
}

Outcome VendorRun(CommandContext& c) {
    const auto envelope = VendorEnvelope(c.cdb);
    const VendorCommand* command = FindVendorCommand((*envelope)[1]);
    const Shape own = command->shape(c.state, *envelope);
    const std::uint32_t ownLength = own.transfer ? own.transfer->length : 0;
    CommandContext inner{c.state, c.paths, c.unit, *envelope,
                         c.data.first(std::min<std::size_t>(ownLength, c.data.size()))};
    Outcome outcome = command->run(inner);
    c.stateChanged = c.stateChanged || inner.stateChanged;
    if (outcome.good && c.data.size() > ownLength) {
        outcome.transferred = static_cast<std::uint32_t>(c.data.size());  // ATAPI padding moves too
    }
    return outcome;
}

constexpr StandardCommand kStandardCommands[] = {
    {0x00, "TEST UNIT READY", true, TestUnitReadyShape, Nothing},
    {0x12, "INQUIRY", false, InquiryShape, InquiryRun},
    {0x1B, "START STOP UNIT", false, StartStopShape, StartStopRun},
    {0x20, "VENDOR", false, VendorShape, VendorRun},
    {0x21, "VENDOR (ATAPI form)", false, VendorShape, VendorRun},
    {0x25, "READ CAPACITY(10)", true, ReadCapacityShape, ReadCapacityRun},
    {0x28, "READ(10)", true, Read10Shape, Read10Run},
    {0x2A, "WRITE(10)", true, Write10Shape, Write10Run},
};

}  // namespace

const StandardCommand* FindStandardCommand(std::uint8_t opcode) {
    for (const auto& c : kStandardCommands) {
        if (c.opcode == opcode) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace kvx::sim
