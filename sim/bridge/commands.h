// The firmware's command tables. A command is found by its opcode (vendor commands by their
// sub-command); its shape function checks the CDB bytes and says which data phase the command
// implies; its run function carries it out. Adding a command is adding one table entry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "host/host.h"
#include "sim/bridge/bridge_state.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/identity.h"
#include "sim/bridge/sense.h"

namespace kvx::sim {

struct Transfer {
    DataDirection direction = DataDirection::kNone;
    std::uint32_t length = 0;
};

// The data phase a CDB implies, or why the CDB is refused before any data moves.
struct Shape {
    std::optional<Transfer> transfer;
    Sense refusal = kInvalidField;
    std::string note;

    static Shape Of(DataDirection direction, std::uint32_t length) {
        return {Transfer{direction, length}, {}, {}};
    }
    static Shape None() { return Of(DataDirection::kNone, 0); }
    static Shape Refuse(Sense sense, std::string why) {
        return {std::nullopt, sense, std::move(why)};
    }
};

struct Outcome {
    bool good = true;
    Sense sense;
    std::uint32_t transferred = 0;
    std::string note;

    static Outcome Good(std::uint32_t moved) { return {true, {}, moved, {}}; }
    static Outcome Check(Sense sense, std::string why) { return {false, sense, 0, std::move(why)}; }
};

// One command being carried out. For data in, `data` is a zeroed buffer of the transfer length
// that run fills; for data out it holds what the host sent. The CDB of a vendor command is in
// the 0x20 form, whatever form it arrived in.
struct CommandContext {
    BridgeState& state;
    const DevicePaths& paths;
    Unit unit;
    std::span<const std::uint8_t> cdb;
    std::span<std::uint8_t> data;
    bool stateChanged = false;
};

struct StandardCommand {
    std::uint8_t opcode;
    const char* name;
    bool needsOpenSecure;  // NOT READY on the secure unit while it is closed
    Shape (*shape)(const BridgeState& state, Unit unit, std::span<const std::uint8_t> cdb);
    Outcome (*run)(CommandContext& context);
};

struct VendorCommand {
    std::uint8_t sub;
    const char* name;
    Shape (*shape)(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
    Outcome (*run)(CommandContext& context);
};

const StandardCommand* FindStandardCommand(std::uint8_t opcode);
const VendorCommand* FindVendorCommand(std::uint8_t sub);

// The 0x20 form of a vendor CDB (0x20 or 0x21 as received), or nullopt when it is neither.
std::optional<std::array<std::uint8_t, 10>> VendorEnvelope(std::span<const std::uint8_t> cdb);

// CDB lengths a command of this opcode may arrive with: its group's length; six-byte commands
// may also come in ten bytes, zero-padded.
bool CdbLengthFits(std::span<const std::uint8_t> cdb);
// The length of the opcode's CDB group (6, 10, 12 or 16).
std::size_t GroupCdbLength(std::uint8_t opcode);

// Data lengths below this are raised to it in the ATAPI form of a vendor command.
inline constexpr std::uint32_t kAtapiMinimumTransfer = 6;

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes);

// Whether every CDB byte from 2 to 9 except those listed is zero.
bool OthersZero(std::span<const std::uint8_t, 10> cdb, std::initializer_list<std::size_t> used);

}  // namespace kvx::sim
